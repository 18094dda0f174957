#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "TestPicture.h"
#include "UsbIpMessage.h"
#include "UvcControlTable.h"
#include "UvcDescriptors.h"

// The emulated UVC camera as a USB device: answers the host's submissions and unlinks, one
// message at a time, through a send function. Standard requests on endpoint 0, the UVC class
// requests (controls, probe and commit), the status interrupt endpoint (the snapshot button)
// and the bulk video endpoint, which carries one payload a frame: a 2-byte header (frame id
// bit toggling per frame, end-of-frame set) and the whole frame, split over as many bulk
// transfers as it needs and closed by a short (or zero-length) transfer.
//
// Not thread-safe: one event loop owns it. Frames are produced by serve(), paced by the
// committed frame interval, and only while the host has bulk transfers waiting.
class EmulatedUvcCamera {
public:
    using Clock = std::chrono::steady_clock;
    using Send = std::function<void(const std::vector<uint8_t>&)>;

    EmulatedUvcCamera(std::string serial, Send send);

    // A new connection: the device as just plugged in (unconfigured, controls at their
    // defaults, nothing pending). The frame count is kept.
    void reset();
    // The serial number the device reports from its next enumeration on.
    void setSerial(std::string serial) { m_descriptors = UvcDescriptors(std::move(serial)); }

    void handle(const UsbIpMessage& message);
    // Sends what is due at now; returns when it next has something to do by itself.
    Clock::time_point serve(Clock::time_point now);

    // One button press and release on the status endpoint, sent as the host's next status
    // transfers come. False when the host is not polling the endpoint (uvcvideo polls it only
    // while the video node is open): the press is lost.
    bool press();

    std::optional<int32_t> control(const std::string& name) const { return m_controls.value(name); }
    std::string controlNames() const { return m_controls.names(); }
    uint64_t framesServed() const { return m_framesServed; }
    bool isStreaming() const { return m_streaming; }
    // "YUYV 640x480 30fps" for the committed stream; empty before the first commit.
    std::string streamDescription() const;
    const UvcDescriptors& descriptors() const { return m_descriptors; }

private:
    struct Pending {
        uint32_t seqnum;
        size_t length;
    };
    struct StreamParameters {
        uint8_t formatIndex = UvcDescriptors::kFormatYuyv;
        uint8_t frameIndex = 1;
        uint32_t interval = 0;
    };

    void handleControl(const UsbIpMessage& message);
    bool standardRequest(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                         std::vector<uint8_t>* answer);
    bool classRequest(uint8_t request, uint16_t value, uint16_t index,
                      const std::vector<uint8_t>& data, std::vector<uint8_t>* answer);
    bool streamingRequest(uint8_t request, uint8_t selector, const std::vector<uint8_t>& data,
                          std::vector<uint8_t>* answer);
    static StreamParameters negotiate(const std::vector<uint8_t>& data);
    static std::vector<uint8_t> encode(const StreamParameters& p);

    void stopStream();
    void renderFrame();
    void flushStatus();
    void complete(const Pending& urb, const uint8_t* data, size_t size);

    Send m_send;
    UvcDescriptors m_descriptors;
    UvcControlTable m_controls;
    TestPicture m_picture;

    uint8_t m_configuration = 0;
    StreamParameters m_probe;
    std::optional<StreamParameters> m_commit;
    bool m_streaming = false;

    std::deque<Pending> m_videoUrbs;
    std::deque<Pending> m_statusUrbs;
    std::deque<std::array<uint8_t, 4>> m_statusPackets;
    // The host polls the status endpoint: from its first transfer until it cancels one.
    bool m_statusPolled = false;

    std::vector<uint8_t> m_payload;  // the frame in flight, header included
    size_t m_sent = 0;               // bytes of m_payload sent
    bool m_zlpOwed = false;          // the payload ended on a full transfer: close it
    uint8_t m_fid = 0;
    uint32_t m_frameNumber = 0;
    uint64_t m_framesServed = 0;
    Clock::time_point m_nextFrame;
};
