#include "capture/v4l2/V4L2Camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <QLoggingCategory>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

Q_LOGGING_CATEGORY(lcV4L2, "tavrel.capture.v4l2")

namespace {

constexpr uint32_t kBufferCount = 4;
constexpr int kPollTimeoutMs = 200;
constexpr double kMaxFrameRate = 30.0;

// Sizes offered for cameras that describe their sizes as a range instead of a list.
constexpr struct {
    uint32_t width, height;
} kStandardSizes[] = {{320, 240},  {640, 480},   {800, 600},   {1024, 768},  {1280, 720},
                      {1280, 960}, {1600, 1200}, {1920, 1080}, {2592, 1944}, {3840, 2160}};

double framesPerSecond(const v4l2_fract& interval) {
    if (interval.numerator == 0 || interval.denominator == 0) {
        return 0;
    }
    // Cameras give intervals like 333333/10000000; keep a tidy 30.
    return std::round(double(interval.denominator) / interval.numerator * 1000.0) / 1000.0;
}

bool isLossErrno(int error) {
    return error == ENODEV || error == EIO || error == EPIPE;
}

}  // namespace

long ExposureLog2ToV4L2(long log2Seconds, long v4l2Min, long v4l2Max) {
    const long e = std::clamp(log2Seconds, -40L, 20L);
    const long units = std::lround(std::ldexp(10000.0, int(e)));
    return std::clamp(units, v4l2Min, std::max(v4l2Min, v4l2Max));
}

long ExposureV4L2ToLog2(long v4l2Units) {
    return std::lround(std::log2(double(std::max(v4l2Units, 1L)) / 10000.0));
}

V4L2Camera::V4L2Camera(CameraId id) : m_id(std::move(id)) {}

V4L2Camera::~V4L2Camera() {
    close();
}

int V4L2Camera::xioctl(unsigned long request, void* arg) const {
    int rc;
    do {
        rc = ::ioctl(m_fd.get(), request, arg);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

void V4L2Camera::logOnce(const char* what, int error) const {
    {
        std::lock_guard lock(m_logMutex);
        if (!m_loggedFailures.insert(std::string(what) + ':' + std::to_string(error)).second) {
            return;
        }
    }
    qCWarning(lcV4L2).noquote() << m_id.devNode << what << "failed:" << qt_error_string(error);
}

// ---- Opening and formats ---------------------------------------------------------------

bool V4L2Camera::open() {
    if (isOpen()) {
        return true;
    }
    m_lost = false;
    const QByteArray node = m_id.devNode.toLocal8Bit();
    UniqueFd fd(::open(node.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid()) {
        logOnce("open", errno);
        return false;
    }
    m_fd = std::move(fd);

    v4l2_capability cap{};
    if (xioctl(VIDIOC_QUERYCAP, &cap) < 0) {
        logOnce("VIDIOC_QUERYCAP", errno);
        m_fd.reset();
        return false;
    }
    const uint32_t caps =
        (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) {
        qCWarning(lcV4L2) << m_id.devNode << "is not a streaming video capture device";
        m_fd.reset();
        return false;
    }
    if (m_id.cardName.isEmpty()) {
        m_id.cardName = QString::fromUtf8(
            reinterpret_cast<const char*>(cap.card),
            int(strnlen(reinterpret_cast<const char*>(cap.card), sizeof(cap.card))));
    }

    enumerateFormats();
    if (m_formats.empty()) {
        qCWarning(lcV4L2) << m_id.devNode << "offers no pixel format Tavrel can decode";
        m_fd.reset();
        return false;
    }

    // Controls: remember which ones exist, and how automatic exposure is switched on.
    m_controls.clear();
    for (uint32_t id :
         {V4L2_CID_BRIGHTNESS, V4L2_CID_CONTRAST, V4L2_CID_HUE, V4L2_CID_HUE_AUTO,
          V4L2_CID_SATURATION, V4L2_CID_SHARPNESS, V4L2_CID_GAMMA, V4L2_CID_GAIN, V4L2_CID_AUTOGAIN,
          V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE,
          V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO, V4L2_CID_POWER_LINE_FREQUENCY}) {
        v4l2_queryctrl q{};
        q.id = id;
        if (xioctl(VIDIOC_QUERYCTRL, &q) == 0 && !(q.flags & V4L2_CTRL_FLAG_DISABLED)) {
            m_controls.insert(id);
        }
    }
    m_exposureAutoValue = V4L2_EXPOSURE_AUTO;
    if (controlPresent(V4L2_CID_EXPOSURE_AUTO)) {
        // UVC cameras usually offer only manual and aperture priority (automatic exposure
        // time with a fixed iris), which is what "automatic" means for them.
        v4l2_querymenu item{};
        item.id = V4L2_CID_EXPOSURE_AUTO;
        item.index = V4L2_EXPOSURE_APERTURE_PRIORITY;
        if (xioctl(VIDIOC_QUERYMENU, &item) == 0) {
            m_exposureAutoValue = V4L2_EXPOSURE_APERTURE_PRIORITY;
        }
    }

    UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake.isValid()) {
        logOnce("eventfd", errno);
        m_formats.clear();
        m_fd.reset();
        return false;
    }
    m_wakeFd = std::move(wake);
    m_state = State::Open;
    return true;
}

void V4L2Camera::enumerateFormats() {
    std::vector<CameraFormat> uncompressed;
    std::vector<CameraFormat> mjpg;
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (xioctl(VIDIOC_ENUM_FMT, &desc) < 0) {
            break;  // EINVAL ends the list
        }
        if (!FrameDecoder::supports(desc.pixelformat)) {
            continue;
        }
        std::vector<CameraFormat>& list =
            desc.pixelformat == PixelFormat::MJPG ? mjpg : uncompressed;
        auto add = [&](uint32_t width, uint32_t height) {
            CameraFormat f;
            f.pixelFormat = desc.pixelformat;
            f.width = int(width);
            f.height = int(height);
            const bool known = std::any_of(list.begin(), list.end(), [&](const CameraFormat& o) {
                return o.pixelFormat == f.pixelFormat && o.width == f.width && o.height == f.height;
            });
            if (!known) {
                f.fps = chooseFrameRate(desc.pixelformat, width, height);
                list.push_back(f);
            }
        };

        v4l2_frmsizeenum size{};
        size.pixel_format = desc.pixelformat;
        if (xioctl(VIDIOC_ENUM_FRAMESIZES, &size) < 0) {
            // No size list: offer the size the device is set to, if it is this format.
            v4l2_format cur{};
            cur.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            if (xioctl(VIDIOC_G_FMT, &cur) == 0 && cur.fmt.pix.pixelformat == desc.pixelformat) {
                add(cur.fmt.pix.width, cur.fmt.pix.height);
            }
            continue;
        }
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            do {
                add(size.discrete.width, size.discrete.height);
                ++size.index;
            } while (xioctl(VIDIOC_ENUM_FRAMESIZES, &size) == 0 &&
                     size.type == V4L2_FRMSIZE_TYPE_DISCRETE);
        } else {
            const v4l2_frmsize_stepwise& s = size.stepwise;
            const uint32_t stepW = std::max(s.step_width, 1u);
            const uint32_t stepH = std::max(s.step_height, 1u);
            for (const auto& standard : kStandardSizes) {
                if (standard.width >= s.min_width && standard.width <= s.max_width &&
                    standard.height >= s.min_height && standard.height <= s.max_height &&
                    (standard.width - s.min_width) % stepW == 0 &&
                    (standard.height - s.min_height) % stepH == 0) {
                    add(standard.width, standard.height);
                }
            }
        }
    }
    m_formats = std::move(uncompressed);
    m_formats.insert(m_formats.end(), mjpg.begin(), mjpg.end());
}

// The fastest rate up to 30 frames per second; the slowest when every rate is faster; 0 (the
// camera's default) when the camera does not say.
double V4L2Camera::chooseFrameRate(uint32_t pixelFormat, uint32_t width, uint32_t height) const {
    v4l2_frmivalenum ival{};
    ival.pixel_format = pixelFormat;
    ival.width = width;
    ival.height = height;
    if (xioctl(VIDIOC_ENUM_FRAMEINTERVALS, &ival) < 0) {
        return 0;
    }
    if (ival.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
        double best = 0;
        double slowest = 0;
        do {
            const double fps = framesPerSecond(ival.discrete);
            if (fps > 0 && fps <= kMaxFrameRate && fps > best) {
                best = fps;
            }
            if (fps > 0 && (slowest == 0 || fps < slowest)) {
                slowest = fps;
            }
            ++ival.index;
        } while (xioctl(VIDIOC_ENUM_FRAMEINTERVALS, &ival) == 0 &&
                 ival.type == V4L2_FRMIVAL_TYPE_DISCRETE);
        return best > 0 ? best : slowest;
    }
    const double fastest = framesPerSecond(ival.stepwise.min);
    const double slowest = framesPerSecond(ival.stepwise.max);
    if (fastest <= 0) {
        return 0;
    }
    return std::clamp(kMaxFrameRate, std::min(slowest, fastest), fastest);
}

bool V4L2Camera::readStreamFormat(StreamFormat* format) const {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_G_FMT, &f) < 0) {
        logOnce("VIDIOC_G_FMT", errno);
        return false;
    }
    format->pixelFormat = f.fmt.pix.pixelformat;
    format->width = int(f.fmt.pix.width);
    format->height = int(f.fmt.pix.height);
    format->bytesPerLine = f.fmt.pix.bytesperline;
    return true;
}

bool V4L2Camera::setFormat(const CameraFormat& format) {
    if (!isOpen() || m_state == State::Streaming || !FrameDecoder::supports(format.pixelFormat) ||
        format.width <= 0 || format.height <= 0) {
        return false;
    }
    // The driver refuses a new format while buffers exist.
    const bool wasPrepared = isPrepared();
    if (wasPrepared) {
        unprepare();
    }

    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = uint32_t(format.width);
    f.fmt.pix.height = uint32_t(format.height);
    f.fmt.pix.pixelformat = format.pixelFormat;
    f.fmt.pix.field = V4L2_FIELD_NONE;
    bool ok = xioctl(VIDIOC_S_FMT, &f) == 0;
    if (!ok) {
        logOnce("VIDIOC_S_FMT", errno);
    } else if (f.fmt.pix.pixelformat != format.pixelFormat ||
               int(f.fmt.pix.width) != format.width || int(f.fmt.pix.height) != format.height) {
        // The driver adjusted the request to something else: not the format that was asked for.
        qCWarning(lcV4L2) << m_id.devNode << "did not accept format" << format.width << "x"
                          << format.height << "; it chose" << f.fmt.pix.width << "x"
                          << f.fmt.pix.height;
        ok = false;
    }
    if (ok && format.fps > 0) {
        setFrameRate(format.fps);
    }
    if (wasPrepared) {
        prepare();
    }
    return ok;
}

void V4L2Camera::setFrameRate(double fps) {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_G_PARM, &parm) < 0 ||
        !(parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        return;  // the camera has a fixed rate
    }
    parm.parm.capture.timeperframe.numerator = 1000;
    parm.parm.capture.timeperframe.denominator = uint32_t(std::lround(fps * 1000.0));
    if (xioctl(VIDIOC_S_PARM, &parm) < 0) {
        logOnce("VIDIOC_S_PARM", errno);
    }
}

double V4L2Camera::currentFrameRate() const {
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_G_PARM, &parm) < 0 ||
        !(parm.parm.capture.capability & V4L2_CAP_TIMEPERFRAME)) {
        return 0;
    }
    return framesPerSecond(parm.parm.capture.timeperframe);
}

CameraFormat V4L2Camera::currentFormat() const {
    CameraFormat result;
    StreamFormat f;
    if (!isOpen() || !readStreamFormat(&f)) {
        return result;
    }
    result.pixelFormat = f.pixelFormat;
    result.width = f.width;
    result.height = f.height;
    result.fps = currentFrameRate();
    return result;
}

// ---- Buffers ---------------------------------------------------------------------------

bool V4L2Camera::prepare() {
    if (!isOpen() || m_lost) {
        return false;
    }
    if (isPrepared()) {
        return true;
    }
    if (!readStreamFormat(&m_stream) || !FrameDecoder::supports(m_stream.pixelFormat)) {
        return false;
    }

    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_REQBUFS, &req) < 0) {
        logOnce("VIDIOC_REQBUFS", errno);
        return false;
    }
    if (req.count < 2) {
        qCWarning(lcV4L2) << m_id.devNode << "granted only" << req.count << "buffers";
        releaseBuffers();
        return false;
    }
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(VIDIOC_QUERYBUF, &buf) < 0) {
            logOnce("VIDIOC_QUERYBUF", errno);
            releaseBuffers();
            return false;
        }
        MappedBuffer mapping = MappedBuffer::map(m_fd.get(), buf.length, off_t(buf.m.offset));
        if (!mapping.isValid()) {
            logOnce("mmap", errno);
            releaseBuffers();
            return false;
        }
        m_buffers.push_back(std::move(mapping));
    }
    if (!queueAllBuffers()) {
        releaseBuffers();
        return false;
    }

    int buttonErrno = 0;
    if (!m_button.open(m_id.devNode, m_id.usbSysPath, &buttonErrno) && buttonErrno != 0) {
        // Typically EACCES: the user may not read input devices. The button then only works
        // through the window's key events.
        logOnce("open snapshot button", buttonErrno);
    }
    m_state = State::Prepared;
    return true;
}

bool V4L2Camera::queueAllBuffers() {
    for (uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(VIDIOC_QBUF, &buf) < 0) {
            logOnce("VIDIOC_QBUF", errno);
            return false;
        }
    }
    m_buffersQueued = true;
    return true;
}

void V4L2Camera::releaseBuffers() {
    m_buffers.clear();  // unmaps
    v4l2_requestbuffers req{};
    req.count = 0;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_REQBUFS, &req) < 0 && !m_lost) {
        logOnce("VIDIOC_REQBUFS(0)", errno);
    }
    m_buffersQueued = false;
}

void V4L2Camera::unprepare() {
    if (!isPrepared()) {
        return;
    }
    stop();
    releaseBuffers();
    m_button.close();
    m_state = State::Open;
}

// ---- Streaming -------------------------------------------------------------------------

bool V4L2Camera::start(FrameSink* sink) {
    if (!sink || !isOpen() || m_lost || m_state == State::Streaming) {
        return false;
    }
    if (!prepare()) {
        return false;
    }
    if (!m_buffersQueued && !queueAllBuffers()) {
        return false;
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_STREAMON, &type) < 0) {
        logOnce("VIDIOC_STREAMON", errno);
        return false;
    }
    m_stopRequested = false;
    m_thread = std::thread(&V4L2Camera::captureLoop, this, sink);
    m_state = State::Streaming;
    return true;
}

void V4L2Camera::stop() {
    if (m_state != State::Streaming) {
        return;
    }
    m_stopRequested = true;
    const uint64_t one = 1;
    if (::write(m_wakeFd.get(), &one, sizeof(one)) < 0) {
        // The flag alone stops the thread within one poll timeout.
        logOnce("eventfd write", errno);
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    uint64_t drained = 0;
    while (::read(m_wakeFd.get(), &drained, sizeof(drained)) > 0) {
    }
    // STREAMOFF takes every buffer back from the driver; start() queues them again.
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_STREAMOFF, &type) < 0 && !m_lost) {
        logOnce("VIDIOC_STREAMOFF", errno);
    }
    m_buffersQueued = false;
    m_state = State::Prepared;
}

void V4L2Camera::close() {
    if (!isOpen()) {
        return;
    }
    stop();
    unprepare();
    m_wakeFd.reset();
    m_fd.reset();
    m_formats.clear();
    m_controls.clear();
    m_state = State::Closed;
}

void V4L2Camera::setStillSink(StillSink* sink) {
    std::lock_guard lock(m_stillMutex);
    m_stillSink = sink;
}

CameraStats V4L2Camera::stats() const {
    CameraStats s;
    s.framesDelivered = m_framesDelivered;
    s.framesDropped = m_framesDropped;
    return s;
}

void V4L2Camera::markLost(const char* what, int error) {
    if (!m_lost.exchange(true)) {
        const QString reason =
            error ? QStringLiteral("%1: %2").arg(QLatin1String(what), qt_error_string(error))
                  : QStringLiteral("%1 reported an error").arg(QLatin1String(what));
        qCWarning(lcV4L2).noquote() << m_id.devNode << "is gone," << reason;
    }
}

// The capture thread: wait for a filled buffer, the snapshot button or the stop signal. The
// poll timeout only bounds how long a missed wake-up could delay stop(); it never spins.
void V4L2Camera::captureLoop(FrameSink* sink) {
    FrameDecoder decoder;
    pollfd fds[3] = {{m_fd.get(), POLLIN, 0}, {m_wakeFd.get(), POLLIN, 0}, {-1, POLLIN, 0}};
    nfds_t count = 2;
    if (m_button.isOpen()) {
        fds[2].fd = m_button.fd();
        count = 3;
    }
    while (!m_stopRequested) {
        const int ready = ::poll(fds, count, kPollTimeoutMs);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            markLost("poll", errno);
            return;
        }
        if (m_stopRequested || (fds[1].revents & POLLIN)) {
            return;
        }
        if (count == 3 && fds[2].revents) {
            const int presses = m_button.readPresses();
            if (presses < 0 || (fds[2].revents & (POLLERR | POLLHUP | POLLNVAL))) {
                count = 2;  // the button device went away; the video node tells whether we did
            }
            for (int i = 0; i < presses; ++i) {
                std::lock_guard lock(m_stillMutex);
                if (m_stillSink) {
                    m_stillSink->OnStillButton();
                }
            }
        }
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            markLost("poll", 0);
            return;
        }
        if ((fds[0].revents & POLLIN) && !handleBuffer(decoder, sink)) {
            return;
        }
    }
}

// Dequeues one buffer, decodes it, gives it back to the driver and delivers the frame.
// Returns false when the stream has ended.
bool V4L2Camera::handleBuffer(FrameDecoder& decoder, FrameSink* sink) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_DQBUF, &buf) < 0) {
        if (errno == EAGAIN) {
            return true;
        }
        // Anything else would repeat on every poll: end the stream rather than spin.
        const int error = errno;
        if (!isLossErrno(error)) {
            logOnce("VIDIOC_DQBUF", error);
        }
        markLost("VIDIOC_DQBUF", error);
        return false;
    }

    bool decoded = false;
    if (buf.index < m_buffers.size() && !(buf.flags & V4L2_BUF_FLAG_ERROR) && buf.bytesused > 0) {
        const MappedBuffer& mapping = m_buffers[buf.index];
        const size_t size = std::min<size_t>(buf.bytesused, mapping.length());
        decoded = decoder.decode(m_stream.pixelFormat, m_stream.width, m_stream.height,
                                 mapping.data(), size, m_stream.bytesPerLine);
    }
    // The decoder holds its own copy: the driver gets the buffer back before delivery.
    if (xioctl(VIDIOC_QBUF, &buf) < 0) {
        const int error = errno;
        if (!isLossErrno(error)) {
            logOnce("VIDIOC_QBUF", error);
        }
        markLost("VIDIOC_QBUF", error);
        return false;
    }
    if (!decoded) {
        ++m_framesDropped;
        return true;
    }
    sink->OnFrame(decoder.pixels(), decoder.width(), decoder.height(), 24);
    ++m_framesDelivered;
    return true;
}

// ---- Properties ------------------------------------------------------------------------

bool V4L2Camera::controlPresent(uint32_t id) const {
    return m_controls.count(id) != 0;
}

bool V4L2Camera::resolveProperty(CameraProperty property, PropertyControls* c) const {
    *c = PropertyControls();
    switch (property) {
        case CameraProperty::Brightness:
            c->valueId = V4L2_CID_BRIGHTNESS;
            break;
        case CameraProperty::Contrast:
            c->valueId = V4L2_CID_CONTRAST;
            break;
        case CameraProperty::Hue:
            c->valueId = V4L2_CID_HUE;
            c->autoId = V4L2_CID_HUE_AUTO;
            c->autoKind = AutoKind::Boolean;
            break;
        case CameraProperty::Saturation:
            c->valueId = V4L2_CID_SATURATION;
            break;
        case CameraProperty::Sharpness:
            c->valueId = V4L2_CID_SHARPNESS;
            break;
        case CameraProperty::Gamma:
            c->valueId = V4L2_CID_GAMMA;
            break;
        case CameraProperty::WhiteBalance:
            c->valueId = V4L2_CID_WHITE_BALANCE_TEMPERATURE;
            c->autoId = V4L2_CID_AUTO_WHITE_BALANCE;
            c->autoKind = AutoKind::Boolean;
            break;
        case CameraProperty::Gain:
            c->valueId = V4L2_CID_GAIN;
            // Without a gain switch of its own, gain is automatic together with exposure, as
            // UVC cameras run them in one loop.
            if (controlPresent(V4L2_CID_AUTOGAIN)) {
                c->autoId = V4L2_CID_AUTOGAIN;
                c->autoKind = AutoKind::Boolean;
            } else {
                c->autoId = V4L2_CID_EXPOSURE_AUTO;
                c->autoKind = AutoKind::ExposureMenu;
            }
            break;
        case CameraProperty::Exposure:
            c->valueId = V4L2_CID_EXPOSURE_ABSOLUTE;
            c->autoId = V4L2_CID_EXPOSURE_AUTO;
            c->autoKind = AutoKind::ExposureMenu;
            break;
        default:
            return false;
    }
    if (!controlPresent(c->valueId)) {
        return false;
    }
    if (c->autoId && !controlPresent(c->autoId)) {
        c->autoId = 0;
        c->autoKind = AutoKind::None;
    }
    return true;
}

bool V4L2Camera::readControl(uint32_t id, long* value) const {
    v4l2_control ctrl{};
    ctrl.id = id;
    if (xioctl(VIDIOC_G_CTRL, &ctrl) < 0) {
        logOnce("VIDIOC_G_CTRL", errno);
        return false;
    }
    *value = ctrl.value;
    return true;
}

bool V4L2Camera::writeControl(uint32_t id, long value) {
    v4l2_control ctrl{};
    ctrl.id = id;
    ctrl.value = int32_t(std::clamp<long>(value, INT32_MIN, INT32_MAX));
    if (xioctl(VIDIOC_S_CTRL, &ctrl) < 0) {
        logOnce("VIDIOC_S_CTRL", errno);
        return false;
    }
    return true;
}

bool V4L2Camera::writeClamped(const PropertyControls& c, CameraProperty property, long value) {
    v4l2_queryctrl q{};
    q.id = c.valueId;
    if (xioctl(VIDIOC_QUERYCTRL, &q) < 0) {
        logOnce("VIDIOC_QUERYCTRL", errno);
        return false;
    }
    const long v4l2Value = property == CameraProperty::Exposure
                               ? ExposureLog2ToV4L2(value, q.minimum, q.maximum)
                               : std::clamp<long>(value, q.minimum, std::max(q.minimum, q.maximum));
    return writeControl(c.valueId, v4l2Value);
}

bool V4L2Camera::hasProperty(CameraProperty property) const {
    PropertyControls c;
    return isOpen() && resolveProperty(property, &c);
}

bool V4L2Camera::getProperty(CameraProperty property, long* value, long* flags) const {
    PropertyControls c;
    if (!isOpen() || !resolveProperty(property, &c)) {
        return false;
    }
    long v = 0;
    if (!readControl(c.valueId, &v)) {
        return false;
    }
    long f = kPropertyFlagsManual;
    long autoValue = 0;
    if (c.autoKind != AutoKind::None && readControl(c.autoId, &autoValue)) {
        const bool isAuto = c.autoKind == AutoKind::ExposureMenu ? autoValue != V4L2_EXPOSURE_MANUAL
                                                                 : autoValue != 0;
        f = isAuto ? kPropertyFlagsAuto : kPropertyFlagsManual;
    }
    if (value) {
        *value = property == CameraProperty::Exposure ? ExposureV4L2ToLog2(v) : v;
    }
    if (flags) {
        *flags = f;
    }
    return true;
}

bool V4L2Camera::setProperty(CameraProperty property, long value, long flags) {
    PropertyControls c;
    if (!isOpen() || !resolveProperty(property, &c)) {
        return false;
    }
    if (c.autoKind == AutoKind::None) {
        return writeClamped(c, property, value);
    }
    const bool wantAuto = (flags & kPropertyFlagsAuto) != 0;
    const long autoSwitch = c.autoKind == AutoKind::ExposureMenu
                                ? (wantAuto ? m_exposureAutoValue : long(V4L2_EXPOSURE_MANUAL))
                                : (wantAuto ? 1 : 0);
    if (!writeControl(c.autoId, autoSwitch)) {
        return false;
    }
    if (wantAuto) {
        // While the camera regulates the value itself the control is inactive (or grabbed);
        // writing it then fails or fights the camera's own loop.
        v4l2_queryctrl q{};
        q.id = c.valueId;
        if (xioctl(VIDIOC_QUERYCTRL, &q) == 0 &&
            !(q.flags & (V4L2_CTRL_FLAG_INACTIVE | V4L2_CTRL_FLAG_GRABBED))) {
            writeClamped(c, property, value);
        }
        return true;
    }
    return writeClamped(c, property, value);
}

bool V4L2Camera::getPropertyRange(CameraProperty property, PropertyRange* range) const {
    PropertyControls c;
    if (!isOpen() || !range || !resolveProperty(property, &c)) {
        return false;
    }
    v4l2_queryctrl q{};
    q.id = c.valueId;
    if (xioctl(VIDIOC_QUERYCTRL, &q) < 0) {
        logOnce("VIDIOC_QUERYCTRL", errno);
        return false;
    }
    if (property == CameraProperty::Exposure) {
        range->min = ExposureV4L2ToLog2(q.minimum);
        range->max = ExposureV4L2ToLog2(q.maximum);
        range->step = 1;
        range->def = ExposureV4L2ToLog2(q.default_value);
    } else {
        range->min = q.minimum;
        range->max = q.maximum;
        range->step = std::max(q.step, 1);
        range->def = q.default_value;
    }
    range->flags = c.autoKind != AutoKind::None ? kPropertyFlagsAuto | kPropertyFlagsManual
                                                : kPropertyFlagsManual;
    return true;
}

bool V4L2Camera::hasPowerLineFrequency() const {
    return isOpen() && controlPresent(V4L2_CID_POWER_LINE_FREQUENCY);
}

bool V4L2Camera::getPowerLineFrequency(long* value) const {
    return hasPowerLineFrequency() && value && readControl(V4L2_CID_POWER_LINE_FREQUENCY, value);
}

bool V4L2Camera::setPowerLineFrequency(long value) {
    // V4L2 numbers the menu as we do: 1 = 50 Hz, 2 = 60 Hz.
    if (!hasPowerLineFrequency() || (value != V4L2_CID_POWER_LINE_FREQUENCY_50HZ &&
                                     value != V4L2_CID_POWER_LINE_FREQUENCY_60HZ)) {
        return false;
    }
    return writeControl(V4L2_CID_POWER_LINE_FREQUENCY, value);
}
