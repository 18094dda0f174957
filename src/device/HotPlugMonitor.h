#pragma once

#include <QObject>
#include <QString>

#include "platform/Udev.h"

class CameraSystem;
class QSocketNotifier;

// Tells the window when a camera may have come or gone: udev's "add" and "remove" events of
// video4linux devices (read on the GUI thread through a socket notifier, after udev's rules have
// run, so a new node already has its permissions), and the virtual camera being plugged in or
// unplugged. Every event is reported, whichever device it is about; the window decides what it
// means for the open camera.
//
// Without udev (no udev daemon's socket, or no right to open it) only the virtual camera's
// events arrive; watching() says whether udev's do. GUI thread only. The camera system is
// borrowed and must outlive this object.
class HotPlugMonitor : public QObject {
    Q_OBJECT
public:
    explicit HotPlugMonitor(CameraSystem& cameras, QObject* parent = nullptr);
    ~HotPlugMonitor() override;
    HotPlugMonitor(const HotPlugMonitor&) = delete;
    HotPlugMonitor& operator=(const HotPlugMonitor&) = delete;

    // Whether udev's video4linux events are being received.
    bool watching() const { return m_monitor != nullptr; }

signals:
    // A device arrived (arrival) or left; devNode is its node ("/dev/video2", "virtual:0"), empty
    // when udev did not name one. Always delivered through the event loop, never from inside
    // the call that plugged or unplugged a virtual device.
    void deviceChanged(bool arrival, const QString& devNode);

private:
    void OnUdevReadable();

    CameraSystem& m_cameras;
    UdevPtr m_udev;
    UdevMonitorPtr m_monitor;
    QSocketNotifier* m_notifier = nullptr;  // child of this object
};
