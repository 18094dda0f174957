#pragma once

#include "contracts/CameraController.h"
#include "flashparams/FlashParameters.h"

class Camera;
class CaptureController;
class Overlay;
class ViewTransform;

// What a flash write came to.
enum class FlashWrite {
    Skipped,  // nothing to write: no open camera (or no frame yet for a block)
    Written,  // the camera's flash holds the bytes
    Failed,   // the flash could not be kept (its file could not be saved); logged
};

// The camera's parameter memory at work: at every camera start it reads the flash parameter
// block into the capture controller (stream choice, power-line frequency, picture values), the
// view (zoom, pan, view zoom) and the overlay; when the window closes and on the Save and Restore
// commands it writes them back.
//
// Flag states (the byte at FlashParameterBlock::kSavedFlag):
//   no saved block (0, erased) --Save--> saved block valid (1) --Restore--> no saved block.
// Without a saved block a camera start takes the default block and the camera's own picture
// values; with one, the saved block goes over the default block and its picture values are
// pushed into the camera.
//
// GUI thread only. Everything handed in is borrowed and must outlive this object.
class FlashParamsController {
public:
    FlashParamsController(CameraController& controller, CaptureController& capture,
                          ViewTransform& view, Overlay& overlay, bool factoryMode);

    // The capture graph build calls this once `source` is open, before the resolution lists
    // are read and the format is chosen.
    void LoadFlashParameters(Camera& source);

    // The window's teardown in normal mode: the stream choice, brightness, contrast,
    // saturation, hue, power-line frequency and zoom into the saved block, the flag untouched.
    // Skipped without an open camera or before its first frame.
    FlashWrite WriteSavedBlockBasic();
    // The Save command (factory mode): marks the saved block valid and writes all of it (the
    // flag alone before the first frame).
    FlashWrite OnSaveParameters();
    // The Restore command's flash part: marks the saved block invalid, so the next camera start
    // reads the default block. The window resets the rest and restarts the camera.
    FlashWrite OnRestoreParameters();

    // The values as they are now in the program (the camera's current picture values are read
    // by the writers themselves).
    FlashParameters current() const;

    // What the user should be told about the camera's parameter memory, once (a damaged file
    // kept aside, a file that cannot be read): the key of a text in section "MainWnd" and the
    // file it names (%1). Empty when there is nothing new; the window asks after a camera start
    // and after each write.
    FlashNotice TakeFlashNotice() { return m_controller.takeFlashNotice(); }

private:
    void WriteSavedBlockFull(FlashParameters& p);
    // Whether the writes of the last pair reached the camera's flash.
    FlashWrite Outcome() const;

    CameraController& m_controller;
    CaptureController& m_capture;
    ViewTransform& m_view;
    Overlay& m_overlay;
    const bool m_bFactoryMode;
};
