#pragma once

#include <QString>
#include <cstdint>
#include <optional>

// What a V4L2 node says it is (VIDIOC_QUERYCAP): the names of its device and the capabilities
// of this node. Discovery asks it of every video node; a camera asks it when it opens.
struct V4L2Capability {
    QString card;             // the device's name, e.g. "HD USB Camera"
    QString busInfo;          // where it sits, e.g. "usb-0000:00:14.0-2"
    QString driver;           // e.g. "uvcvideo"
    uint32_t deviceCaps = 0;  // V4L2_CAP_* of this node (not of the whole device)

    // A camera's capture node captures video and streams; a UVC camera's metadata node does
    // neither of these (it reports V4L2_CAP_META_CAPTURE only).
    bool canCapture() const;
    bool canStream() const;

    // Asks the node open at fd; node names it in the log. nullopt when the driver does not
    // answer; the failure is logged, and errno is left as the driver set it.
    static std::optional<V4L2Capability> query(int fd, const QString& node);
    // Opens node just for the question and closes it again. nullopt, logged, when it cannot be
    // opened or does not answer.
    static std::optional<V4L2Capability> queryNode(const QString& node);
};
