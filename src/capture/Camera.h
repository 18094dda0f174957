#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// The camera layer: one interface in front of the V4L2 backend (real cameras) and the built-in
// virtual camera. Nothing above capture/ knows which backend serves a camera.

// Which backend serves a camera.
enum class CameraBackend { V4L2, Virtual };

// Whether the port a camera's USB device is plugged into is one the user plugs into (the USB
// device's sysfs attribute "removable": "removable", "fixed", anything else unknown). A laptop's
// built-in webcam sits on a fixed port.
enum class UsbPort { Unknown, Removable, Fixed };

// A camera as found by discovery (the "moniker"): a value that names one device. Two values
// are the same camera now when their identity() is equal; identityKey() names the camera across
// runs and device numbers.
struct CameraId {
    CameraBackend backend = CameraBackend::V4L2;
    QString devNode;     // "/dev/video0", or "virtual:0" for the virtual camera
    QString cardName;    // V4L2 card name / friendly name
    QString busInfo;     // V4L2 bus info, e.g. "usb-0000:00:14.0-2", "platform:vivid-000"
    QString usbVid;      // four upper-case hex digits of the USB parent; empty without one
    QString usbPid;      // four upper-case hex digits of the USB parent; empty without one
    QString usbSerial;   // serial number of the USB parent, may be empty
    QString usbSysPath;  // sysfs path of the USB parent device (empty for virtual)
    UsbPort usbPort = UsbPort::Unknown;

    bool isValid() const { return !devNode.isEmpty(); }
    bool onUsb() const { return !usbVid.isEmpty(); }
    // Device node, bus info and USB parent: equal identity = the same device now.
    QString identity() const;
    bool operator==(const CameraId& other) const { return identity() == other.identity(); }
    // The camera whatever node it has now, for keeping in Setting.ini: a USB camera by vendor,
    // product and serial (its USB port path when it has no serial), a camera without a USB
    // device by bus info and card name, the virtual camera by its node.
    QString identityKey() const;
};

// Pixel formats the decoders understand (V4L2 fourcc values).
namespace PixelFormat {
inline constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}
inline constexpr uint32_t YUYV = fourcc('Y', 'U', 'Y', 'V');
inline constexpr uint32_t MJPG = fourcc('M', 'J', 'P', 'G');
inline constexpr uint32_t NV12 = fourcc('N', 'V', '1', '2');
inline constexpr uint32_t YU12 = fourcc('Y', 'U', '1', '2');  // I420
inline constexpr uint32_t RGB3 = fourcc('R', 'G', 'B', '3');  // RGB24
inline constexpr uint32_t BGR3 = fourcc('B', 'G', 'R', '3');  // BGR24
inline constexpr uint32_t UYVY = fourcc('U', 'Y', 'V', 'Y');
inline constexpr uint32_t NV21 = fourcc('N', 'V', '2', '1');
inline constexpr uint32_t YV12 = fourcc('Y', 'V', '1', '2');  // I420 with V before U
inline constexpr uint32_t RGBP = fourcc('R', 'G', 'B', 'P');  // RGB565, little-endian
inline constexpr uint32_t GREY = fourcc('G', 'R', 'E', 'Y');  // 8-bit monochrome
}  // namespace PixelFormat

// One capability: a pixel format at one frame size. Cameras list uncompressed formats first,
// then MJPG, sizes in the camera's own order, each (format, size) once; of the uncompressed
// formats a camera offers at one size only the best one is listed
// (FrameDecoder::uncompressedRank).
struct CameraFormat {
    uint32_t pixelFormat = 0;
    int width = 0;
    int height = 0;
    double fps = 0;  // nominal frame rate the backend will ask for (0 = the camera's default)

    bool isMjpg() const { return pixelFormat == PixelFormat::MJPG; }
    bool operator==(const CameraFormat&) const = default;
};

// Picture properties. Their numbers are fixed: the parameter blocks kept in a camera's flash
// must mean the same whichever computer wrote them.
enum class CameraProperty {
    Brightness = 0,
    Contrast = 1,
    Hue = 2,
    Saturation = 3,
    Sharpness = 4,
    Gamma = 5,
    WhiteBalance = 7,
    Gain = 9,
    Exposure = 100 + 4,  // camera-control exposure, in log2 seconds (-7 = 1/128 s)
};

// Flags of a property value, as bits: automatic or manual.
inline constexpr long kPropertyFlagsAuto = 1;
inline constexpr long kPropertyFlagsManual = 2;

struct PropertyRange {
    long min = 0;
    long max = 0;
    long step = 1;
    long def = 0;
    long flags = kPropertyFlagsManual;  // capability flags: Auto|Manual when automatic exists
};

// Receives decoded frames on the camera's capture thread: 24-bit BGR, rows bottom-up, rows
// of width*3 bytes without padding. The pointer is valid only during the call.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) = 0;
};

// Receives the camera's snapshot-button presses ("still buffers"), on a camera thread.
class StillSink {
public:
    virtual ~StillSink() = default;
    virtual void OnStillButton() = 0;
};

// Frame counters of a running stream, for diagnostics and tests.
struct CameraStats {
    uint64_t framesDelivered = 0;
    uint64_t framesDropped = 0;  // undecodable or cut-short frames, error-flagged buffers
    // Good frames passed over because a newer one was already waiting when the capture thread
    // got to them (the machine could not keep up): the newest is always the one delivered.
    uint64_t framesSkipped = 0;
};

// What a camera operation that can fail returns: success, or a failure with the system error
// (errno) of the call that failed: EBUSY when another program holds the camera, EACCES when the
// user may not open it, 0 when the failure has no such code (a format the driver changed, a
// node that is no capture device). The error belongs to this one call only.
class [[nodiscard]] CameraResult {
public:
    static constexpr CameraResult success() { return CameraResult(true, 0); }
    static constexpr CameraResult failure(int error) { return CameraResult(false, error); }

    constexpr bool ok() const { return m_ok; }
    // 0 after a success.
    constexpr int error() const { return m_error; }
    constexpr explicit operator bool() const { return m_ok; }

private:
    constexpr CameraResult(bool ok, int error) : m_ok(ok), m_error(ok ? 0 : error) {}
    bool m_ok;
    int m_error;
};

// A camera device. All methods are called from the GUI thread unless noted. Life cycle:
//   closed --open()--> open --start()--> streaming --stop()--> open --close()--> closed
// A camera that disappears while streaming ends its capture thread by itself; isLost() then
// reports true and start() fails until the camera is opened again.
class Camera {
public:
    virtual ~Camera() = default;

    virtual const CameraId& id() const = 0;

    virtual CameraResult open() = 0;  // open the device, query capabilities and formats
    virtual void close() = 0;         // stops streaming first
    virtual bool isOpen() const = 0;

    virtual std::vector<CameraFormat> formats() const = 0;
    virtual CameraResult setFormat(const CameraFormat& format) = 0;  // not while streaming
    virtual CameraFormat currentFormat() const = 0;

    // Requests and maps buffers, opens the snapshot-button source ("rendered").
    virtual CameraResult prepare() = 0;
    virtual void unprepare() = 0;
    virtual bool isPrepared() const = 0;

    // Streaming: frames go to sink on the camera's capture thread until stop(). stop() joins
    // the capture thread; after it returns no further OnFrame call is made.
    virtual CameraResult start(FrameSink* sink) = 0;
    virtual void stop() = 0;
    virtual bool isStreaming() const = 0;
    virtual bool isLost() const = 0;

    // The snapshot button; sink is called on a camera thread. Null detaches.
    virtual void setStillSink(StillSink* sink) = 0;

    // Picture properties. get/set return false when the camera lacks the property or the
    // device refuses the call (V4L2 logs each refusal once per control and error).
    // - set() clamps the value into the range and snaps it to the step. Auto switches the
    //   camera's automatic mode on where its range has the Auto flag; the camera's own loop then
    //   runs the value, so the value passed is not applied, and the later set() with Manual
    //   brings the value that counts. Elsewhere Auto is ignored and the value applied.
    // - Exposure and gain have automatic modes of their own; keeping them together is the
    //   caller's rule. A V4L2 camera without automatic gain remembers gain's flag and reports
    //   it back from get(), switching nothing; its gain range has only the Manual flag.
    // - Exposure's range (log2 seconds) holds only values inside the camera's own range, and
    //   get() reports the camera's exposure within it.
    virtual bool hasProperty(CameraProperty property) const = 0;
    virtual bool getProperty(CameraProperty property, long* value, long* flags) const = 0;
    virtual bool setProperty(CameraProperty property, long value, long flags) = 0;
    virtual bool getPropertyRange(CameraProperty property, PropertyRange* range) const = 0;

    // Power-line frequency: 1 = 50 Hz, 2 = 60 Hz.
    virtual bool hasPowerLineFrequency() const = 0;
    virtual bool getPowerLineFrequency(long* value) const = 0;
    virtual bool setPowerLineFrequency(long value) = 0;

    virtual CameraStats stats() const = 0;
};

// Opens the backend that serves id (not yet open()ed). Null for an unknown backend.
std::unique_ptr<Camera> CreateCamera(const CameraId& id);
