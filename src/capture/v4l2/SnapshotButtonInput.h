#pragma once

#include <QString>
#include <utility>

#include "platform/UniqueFd.h"

// The snapshot button of a UVC camera. The uvcvideo driver reports it as KEY_CAMERA on an
// input device that hangs off the same USB device as the video node; this class finds that
// event device through udev, opens it and reads the presses. Opening usually needs the user to
// be allowed to read /dev/input (the "input" group or a seat ACL); without it the camera simply
// has no hardware button and the window's key handling remains the only source.
//
// The device is taken exclusively (EVIOCGRAB) as it opens, so that the desktop does not turn
// the same press into a key event for the focused window as well. When another program holds
// it already, the grab fails and the device is read all the same.
class SnapshotButtonInput {
public:
    SnapshotButtonInput() = default;
    // Adopts an already open event source and grabs it (tests feed events through a pipe).
    explicit SnapshotButtonInput(UniqueFd fd);

    // Finds and opens the button of the camera whose video node is videoNode; usbSysPath (the
    // camera's USB device in sysfs) is used when the node cannot be looked up. Returns false
    // when the camera has no button device or it cannot be opened; *openErrno is then the
    // errno of the failed open (0 when no device was found).
    bool open(const QString& videoNode, const QString& usbSysPath, int* openErrno = nullptr);
    // Closing the device also ends the grab.
    void close();

    int fd() const { return m_fd.get(); }
    bool isOpen() const { return m_fd.isValid(); }
    // The errno of the failed exclusive grab; 0 when the device is grabbed or not open.
    int grabErrno() const { return m_grabErrno; }

    // Reads every pending event without blocking and returns how many KEY_CAMERA presses
    // (key down, not auto-repeat) it saw; -1 when the device is gone or the stream ended.
    int readPresses();

private:
    void grab();

    UniqueFd m_fd;
    int m_grabErrno = 0;
};
