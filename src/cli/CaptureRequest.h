#pragma once

#include <QSize>
#include <QString>

// What the command line asks for besides the window.
enum class CaptureMode {
    Window,       // no capture option: the main window opens
    ListCameras,  // --list-cameras [--verbose]
    Snapshot,     // --snapshot [FILE] [--count N --interval SECONDS]
    Record,       // --record SECONDS [FILE]
};

// A capture without a window, as the command line describes it. The values are checked when
// the command line is read; whether the camera offers the format and size is found out once it
// is open.
struct CaptureRequest {
    CaptureMode mode = CaptureMode::Window;
    // The output file; empty: a time-stamped name in the save folder, as the window names it.
    QString file;
    int count = 1;               // snapshots in the series
    double intervalSeconds = 0;  // between the snapshots of a series
    double recordSeconds = 0;    // length of the recording
    // Frames composed before the picture counts as settled (exposure and white balance of a
    // camera just started take a few frames).
    int warmupFrames = 5;
    // The camera: a device node ("/dev/video2", "virtual:0") or VID:PID[:SERIAL] in hex;
    // empty: the camera the window would open.
    QString camera;
    // Stream choice: a pixel format name ("MJPG", "YUYV", …; empty: any) and a size (invalid:
    // any). With neither, the stream the camera's parameter memory names.
    QString format;
    QSize size;
    bool overlay = true;   // false: no edge mask and crosshair (--no-overlay)
    bool verbose = false;  // --list-cameras: formats and sizes too
};
