#pragma once

#include <QSet>
#include <QString>
#include <cstdint>
#include <optional>

#include "contracts/CameraController.h"
#include "contracts/CameraIdentity.h"
#include "contracts/FlashImage.h"

// The camera controller for real video cameras, whose own flash the program cannot reach: it
// answers for the camera its finder reports and keeps that camera's flash image in a file under
// <dataRoot>/Orvane/flash/, so that each camera keeps its own parameters between runs:
//  - a USB camera: <VID>-<PID>-<serial>.bin (upper-case hex ids); a camera without a serial
//    number: <VID>-<PID>-port-<port path>.bin, or <VID>-<PID>-noserial.bin when its port is
//    unknown. The first camera without a serial to find no file of its own takes over (renames)
//    an existing <VID>-<PID>-noserial.bin of its ids, the name such cameras shared before;
//  - a camera without a USB device: v4l2-<bus info>-<card name>.bin.
// Characters other than letters, digits, '-', '_' and '.' become '_' in the file name.
//
// The outermost ALC_Initialize finds the camera and loads its image (missing or damaged file:
// erased flash); writes change the image in memory, and the outermost ALC_UnInitialize saves it
// atomically when anything changed. Nested pairs only count. Calls outside any pair work too,
// each as its own pair. Should a save fail, the writes stay pending in memory and the next
// outermost pair for the same camera saves them again. GUI thread only.
//
// The file is only ever a regular file in the flash folder: a symlink, FIFO, device or folder
// in its place counts as unreadable (never opened, so a FIFO cannot block the start). A file
// that exists but cannot be read is never written: the camera's writes stay in memory
// (flashKept() false) and the user is told once. A file of the wrong size is read as far as it
// goes and moved aside to <name>.bak (or .bak-2, …, never over another file) before the first
// write replaces it; the user is told then. Each finding is logged once per file.
class FileFlashController final : public CameraController {
public:
    // dataRoot empty: the user's data folder ($XDG_DATA_HOME); without a home folder nothing is
    // kept (the flash lives in memory, saves report failure). An empty finder finds no camera.
    // `blank` is what a camera's flash holds before its file exists (erased, unless the camera
    // comes with prepared contents).
    FileFlashController(QString dataRoot, CameraFinder finder, FlashImage blank = FlashImage());
    // Saves writes still pending (a pair left open, or an earlier failed save).
    ~FileFlashController() override;
    FileFlashController(const FileFlashController&) = delete;
    FileFlashController& operator=(const FileFlashController&) = delete;

    void ALC_Initialize() override;
    void ALC_UnInitialize() override;
    bool ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) override;
    void ALC_SetFlashSize(uint32_t size) override;
    int ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) override;
    void ALC_WriteFlash(uint32_t address, uint32_t length, const uint8_t* buffer) override;
    // False while writes are pending because the file could not be saved.
    bool flashKept() const override { return !m_dirty || m_depth > 0; }
    FlashNotice takeFlashNotice() override;

    // The file that holds the flash image of camera.
    QString flashFilePath(const CameraIdentity& camera) const;
    // The flash image of the camera found by the last outermost pair.
    const FlashImage& flash() const { return m_flash; }
    // Number of open Initialize/UnInitialize pairs.
    int depth() const { return m_depth; }

private:
    class ImplicitPair;
    void load();
    void save();
    void takeOverSharedFile(const CameraIdentity& camera);
    QString setAside(const QString& path);

    QString m_flashFolder;
    CameraFinder m_finder;
    int m_depth = 0;
    std::optional<CameraIdentity> m_camera;  // found by the outermost Initialize
    FlashImage m_blank;                      // a camera's flash without a file
    FlashImage m_flash;                      // m_camera's flash
    bool m_dirty = false;                    // m_flash holds writes not yet in the file
    FlashImage::FileState m_fileState = FlashImage::FileState::Missing;  // m_camera's file
    QString m_loggedLoad;            // the file and finding logged last: each is logged once
    QString m_loggedSave;            // the same for a failed save
    QSet<QString> m_toldUnreadable;  // files the user was told cannot be read
    FlashNotice m_notice;            // not yet taken by the owner
};
