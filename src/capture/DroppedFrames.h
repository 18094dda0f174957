#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <string_view>

// The frames a camera could not deliver (undecodable, cut short, flagged by the driver): counted
// for the camera's statistics, and the first one of each stream logged with its reason and the
// count so far ("tavrel.capture.frames"), so that a camera that sends damaged frames shows in
// the log without one line per frame.
//
// Threads: streamStarting() on the GUI thread before the capture thread starts, add() on the
// capture thread, count() on any thread.
class DroppedFrames {
public:
    explicit DroppedFrames(QString camera) : m_camera(std::move(camera)) {}

    // A new stream: its first drop is logged again.
    void streamStarting() { m_loggedThisStream = false; }
    // One more frame dropped, for `reason`.
    void add(std::string_view reason);
    uint64_t count() const { return m_count.load(); }

private:
    QString m_camera;  // the device node, for the log
    std::atomic<uint64_t> m_count{0};
    // Written by the capture thread while it runs and by the GUI thread before it starts; the
    // thread's start and join order the two.
    bool m_loggedThisStream = false;
};
