#pragma once

#include <cerrno>
#include <map>
#include <optional>
#include <vector>

#include "capture/Camera.h"

// A camera in memory for tests of what reaches a camera. Its picture properties store what they
// are given, without clamping, and log every write, so a test sees exactly what was written.
// open, setFormat, prepare and start succeed (offering `formats`) unless a test gives the errno
// they fail with; start delivers no frames.
class FakeCamera final : public Camera {
public:
    struct Property {
        long value = 0;
        long flags = kPropertyFlagsManual;
        PropertyRange range;
    };
    struct Write {
        CameraProperty property;
        long value;
        long flags;
        bool operator==(const Write&) const = default;
    };

    std::map<CameraProperty, Property> properties;
    std::vector<Write> writes;
    std::vector<CameraFormat> offered;
    // The errno a call fails with (0: a failure without one); none: it succeeds.
    std::optional<int> openFails, setFormatFails, prepareFails, startFails;

    // A property of range min..max, its default halfway; with an automatic mode when hasAuto.
    void add(CameraProperty property, long value, long flags, long min, long max,
             bool hasAuto = false) {
        Property p;
        p.value = value;
        p.flags = flags;
        p.range = {min, max, 1, (min + max) / 2,
                   hasAuto ? kPropertyFlagsAuto | kPropertyFlagsManual : kPropertyFlagsManual};
        properties[property] = p;
    }

    const CameraId& id() const override { return m_id; }
    CameraResult open() override {
        m_open = !openFails;
        return result(openFails);
    }
    void close() override { m_open = false; }
    bool isOpen() const override { return m_open; }
    std::vector<CameraFormat> formats() const override { return offered; }
    CameraResult setFormat(const CameraFormat& format) override {
        if (!setFormatFails) {
            m_format = format;
        }
        return result(setFormatFails);
    }
    CameraFormat currentFormat() const override { return m_format; }
    CameraResult prepare() override { return result(prepareFails); }
    void unprepare() override {}
    bool isPrepared() const override { return false; }
    CameraResult start(FrameSink*) override { return result(startFails); }
    void stop() override {}
    bool isStreaming() const override { return false; }
    bool isLost() const override { return false; }
    void setStillSink(StillSink*) override {}
    bool hasProperty(CameraProperty property) const override {
        return properties.count(property) != 0;
    }
    bool getProperty(CameraProperty property, long* value, long* flags) const override {
        auto it = properties.find(property);
        if (it == properties.end()) {
            return false;
        }
        *value = it->second.value;
        *flags = it->second.flags;
        return true;
    }
    bool setProperty(CameraProperty property, long value, long flags) override {
        auto it = properties.find(property);
        if (it == properties.end()) {
            return false;
        }
        it->second.value = value;
        it->second.flags = flags;
        writes.push_back({property, value, flags});
        return true;
    }
    bool getPropertyRange(CameraProperty property, PropertyRange* range) const override {
        auto it = properties.find(property);
        if (it == properties.end()) {
            return false;
        }
        *range = it->second.range;
        return true;
    }
    bool hasPowerLineFrequency() const override { return false; }
    bool getPowerLineFrequency(long*) const override { return false; }
    bool setPowerLineFrequency(long) override { return false; }
    CameraStats stats() const override { return {}; }

private:
    static CameraResult result(const std::optional<int>& fails) {
        return fails ? CameraResult::failure(*fails) : CameraResult::success();
    }

    CameraId m_id;
    bool m_open = false;
    CameraFormat m_format;
};
