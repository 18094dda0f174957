#include "capture/v4l2/V4L2Camera.h"

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string_view>

#include "capture/v4l2/V4L2Capability.h"
#include "capture/v4l2/V4L2Ioctl.h"
#include "capture/v4l2/V4L2Log.h"

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

V4L2Camera::V4L2Camera(CameraId id) : m_id(std::move(id)), m_framesDropped(m_id.devNode) {}

V4L2Camera::~V4L2Camera() {
    close();
}

int V4L2Camera::xioctl(unsigned long request, void* arg) const {
    return V4L2Ioctl(m_fd.get(), request, arg);
}

CameraResult V4L2Camera::fail(const char* what, int error) const {
    logOnce(what, error);
    return CameraResult::failure(error);
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

CameraResult V4L2Camera::open() {
    if (isOpen()) {
        return CameraResult::success();
    }
    m_lost = false;
    const QByteArray node = m_id.devNode.toLocal8Bit();
    UniqueFd fd(::open(node.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd.isValid()) {
        return fail("open", errno);
    }
    m_fd = std::move(fd);

    const std::optional<V4L2Capability> cap = V4L2Capability::query(m_fd.get(), m_id.devNode);
    if (!cap) {
        const int error = errno;  // of VIDIOC_QUERYCAP, which query() has logged
        m_fd.reset();
        return CameraResult::failure(error);
    }
    if (!cap->canCapture() || !cap->canStream()) {
        qCWarning(lcV4L2) << m_id.devNode << "is not a streaming video capture device";
        m_fd.reset();
        return CameraResult::failure(0);
    }
    if (m_id.cardName.isEmpty()) {
        m_id.cardName = cap->card;
    }

    enumerateFormats();
    if (m_formats.empty()) {
        qCWarning(lcV4L2) << m_id.devNode << "offers no pixel format Tavrel can decode";
        m_fd.reset();
        return CameraResult::failure(0);
    }

    m_controls.attach([fd = m_fd.get()](unsigned long request, void* arg) {
        return V4L2Ioctl(fd, request, arg);
    });

    UniqueFd wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake.isValid()) {
        const CameraResult failed = fail("eventfd", errno);
        m_controls.detach();
        m_formats.clear();
        m_fd.reset();
        return failed;
    }
    m_wakeFd = std::move(wake);
    m_state = State::Open;
    return CameraResult::success();
}

// One entry per (format, size), in the camera's order; of the uncompressed formats at one size
// only the best is kept, in the place where the camera first listed that size.
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
        const bool isMjpg = desc.pixelformat == PixelFormat::MJPG;
        std::vector<CameraFormat>& list = isMjpg ? mjpg : uncompressed;
        auto add = [&](uint32_t width, uint32_t height) {
            CameraFormat f;
            f.pixelFormat = desc.pixelformat;
            f.width = int(width);
            f.height = int(height);
            // The MJPG list holds one format; in the other, any format at this size is one.
            const auto known = std::find_if(list.begin(), list.end(), [&](const CameraFormat& o) {
                return o.width == f.width && o.height == f.height;
            });
            if (known == list.end()) {
                f.fps = chooseFrameRate(desc.pixelformat, width, height);
                list.push_back(f);
            } else if (!isMjpg && FrameDecoder::uncompressedRank(f.pixelFormat) <
                                      FrameDecoder::uncompressedRank(known->pixelFormat)) {
                f.fps = chooseFrameRate(desc.pixelformat, width, height);
                *known = f;
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

CameraResult V4L2Camera::readStreamFormat(StreamFormat* format) const {
    v4l2_format f{};
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_G_FMT, &f) < 0) {
        return fail("VIDIOC_G_FMT", errno);
    }
    format->pixelFormat = f.fmt.pix.pixelformat;
    format->width = int(f.fmt.pix.width);
    format->height = int(f.fmt.pix.height);
    format->bytesPerLine = f.fmt.pix.bytesperline;
    return CameraResult::success();
}

CameraResult V4L2Camera::setFormat(const CameraFormat& format) {
    if (!isOpen() || m_state == State::Streaming || !FrameDecoder::supports(format.pixelFormat) ||
        format.width <= 0 || format.height <= 0) {
        return CameraResult::failure(0);
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
    CameraResult result = CameraResult::success();
    if (xioctl(VIDIOC_S_FMT, &f) < 0) {
        result = fail("VIDIOC_S_FMT", errno);
    } else if (f.fmt.pix.pixelformat != format.pixelFormat ||
               int(f.fmt.pix.width) != format.width || int(f.fmt.pix.height) != format.height) {
        // The driver adjusted the request to something else: not the format that was asked for.
        qCWarning(lcV4L2) << m_id.devNode << "did not accept format" << format.width << "x"
                          << format.height << "; it chose" << f.fmt.pix.width << "x"
                          << f.fmt.pix.height;
        result = CameraResult::failure(0);
    }
    if (result && format.fps > 0) {
        setFrameRate(format.fps);
    }
    if (wasPrepared) {
        // Buffers for the format now set; without them the camera is not as the caller left it.
        const CameraResult prepared = prepare();
        if (result && !prepared) {
            result = prepared;
        }
    }
    return result;
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
    if (!isOpen() || !readStreamFormat(&f).ok()) {
        return result;
    }
    result.pixelFormat = f.pixelFormat;
    result.width = f.width;
    result.height = f.height;
    result.fps = currentFrameRate();
    return result;
}

// ---- Buffers ---------------------------------------------------------------------------

CameraResult V4L2Camera::prepare() {
    if (!isOpen()) {
        return CameraResult::failure(0);
    }
    if (m_lost) {
        return CameraResult::failure(ENODEV);
    }
    if (isPrepared()) {
        return CameraResult::success();
    }
    if (const CameraResult read = readStreamFormat(&m_stream); !read) {
        return read;
    }
    if (!FrameDecoder::supports(m_stream.pixelFormat)) {
        return CameraResult::failure(0);
    }

    v4l2_requestbuffers req{};
    req.count = kBufferCount;
    req.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    req.memory = V4L2_MEMORY_MMAP;
    if (xioctl(VIDIOC_REQBUFS, &req) < 0) {
        return fail("VIDIOC_REQBUFS", errno);
    }
    if (req.count < 2) {
        qCWarning(lcV4L2) << m_id.devNode << "granted only" << req.count << "buffers";
        releaseBuffers();
        return CameraResult::failure(0);
    }
    for (uint32_t i = 0; i < req.count; ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(VIDIOC_QUERYBUF, &buf) < 0) {
            const CameraResult failed = fail("VIDIOC_QUERYBUF", errno);
            releaseBuffers();
            return failed;
        }
        MappedBuffer mapping = MappedBuffer::map(m_fd.get(), buf.length, off_t(buf.m.offset));
        if (!mapping.isValid()) {
            const CameraResult failed = fail("mmap", errno);
            releaseBuffers();
            return failed;
        }
        m_buffers.push_back(std::move(mapping));
    }
    if (const CameraResult queued = queueAllBuffers(); !queued) {
        releaseBuffers();
        return queued;
    }

    int buttonErrno = 0;
    if (!m_button.open(m_id.devNode, m_id.usbSysPath, &buttonErrno) && buttonErrno != 0) {
        // Typically EACCES: the user may not read input devices. The button then only works
        // through the window's key events.
        logOnce("open snapshot button", buttonErrno);
    }
    if (m_button.isOpen() && m_button.grabErrno() != 0) {
        // Another program holds the device: the desktop may then deliver the press as a key
        // as well, which frame intake counts once.
        logOnce("EVIOCGRAB snapshot button", m_button.grabErrno());
    }
    m_state = State::Prepared;
    return CameraResult::success();
}

CameraResult V4L2Camera::queueAllBuffers() {
    for (uint32_t i = 0; i < m_buffers.size(); ++i) {
        v4l2_buffer buf{};
        buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buf.memory = V4L2_MEMORY_MMAP;
        buf.index = i;
        if (xioctl(VIDIOC_QBUF, &buf) < 0) {
            return fail("VIDIOC_QBUF", errno);
        }
    }
    m_buffersQueued = true;
    return CameraResult::success();
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

CameraResult V4L2Camera::start(FrameSink* sink) {
    if (!sink || !isOpen() || m_state == State::Streaming) {
        return CameraResult::failure(0);
    }
    if (m_lost) {
        return CameraResult::failure(ENODEV);
    }
    if (const CameraResult prepared = prepare(); !prepared) {
        return prepared;
    }
    if (!m_buffersQueued) {
        if (const CameraResult queued = queueAllBuffers(); !queued) {
            return queued;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (xioctl(VIDIOC_STREAMON, &type) < 0) {
        return fail("VIDIOC_STREAMON", errno);
    }
    // Presses made while the stream was stopped waited in the input device; they belong to
    // no picture and are dropped.
    if (m_button.isOpen() && m_button.readPresses() < 0) {
        m_button.close();
    }
    m_framesDropped.streamStarting();
    m_stopRequested = false;
    m_thread = std::thread(&V4L2Camera::captureLoop, this, sink);
    m_state = State::Streaming;
    return CameraResult::success();
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
    m_controls.detach();
    m_wakeFd.reset();
    m_fd.reset();
    m_formats.clear();
    m_state = State::Closed;
}

void V4L2Camera::setStillSink(StillSink* sink) {
    std::lock_guard lock(m_stillMutex);
    m_stillSink = sink;
}

CameraStats V4L2Camera::stats() const {
    CameraStats s;
    s.framesDelivered = m_framesDelivered;
    s.framesDropped = m_framesDropped.count();
    s.framesSkipped = m_framesSkipped;
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

// Dequeues the newest filled buffer, decodes it, gives it back to the driver and delivers the
// frame. Buffers that filled up while the previous frame was being processed are older than
// it: they go back to the driver unread (counted as skipped), so a slow machine shows the
// newest picture instead of falling further behind. Returns false when the stream has ended.
bool V4L2Camera::handleBuffer(FrameDecoder& decoder, FrameSink* sink) {
    v4l2_buffer buf{};
    buf.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buf.memory = V4L2_MEMORY_MMAP;
    if (!dequeue(buf)) {
        return !m_lost;
    }
    for (;;) {
        v4l2_buffer newer{};
        newer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        newer.memory = V4L2_MEMORY_MMAP;
        if (!dequeue(newer)) {
            if (m_lost) {
                return false;
            }
            break;
        }
        if (!requeue(buf)) {
            return false;
        }
        ++m_framesSkipped;
        buf = newer;
    }

    bool decoded = false;
    std::string_view dropReason;
    if (buf.index >= m_buffers.size()) {
        dropReason = "the driver returned an unknown buffer";
    } else if (buf.flags & V4L2_BUF_FLAG_ERROR) {
        dropReason = "the driver flagged the buffer as damaged";
    } else if (buf.bytesused == 0) {
        dropReason = "the buffer is empty";
    } else {
        const MappedBuffer& mapping = m_buffers[buf.index];
        const size_t size = std::min<size_t>(buf.bytesused, mapping.length());
        decoded = decoder.decode(m_stream.pixelFormat, m_stream.width, m_stream.height,
                                 mapping.data(), size, m_stream.bytesPerLine);
        dropReason = decoder.failure();
    }
    // The decoder holds its own copy: the driver gets the buffer back before delivery.
    if (!requeue(buf)) {
        return false;
    }
    if (!decoded) {
        m_framesDropped.add(dropReason);
        return true;
    }
    sink->OnFrame(decoder.pixels(), decoder.width(), decoder.height(), 24);
    ++m_framesDelivered;
    return true;
}

bool V4L2Camera::dequeue(v4l2_buffer& buf) {
    if (xioctl(VIDIOC_DQBUF, &buf) == 0) {
        return true;
    }
    if (errno != EAGAIN) {
        // Anything else would repeat on every poll: end the stream rather than spin.
        const int error = errno;
        if (!isLossErrno(error)) {
            logOnce("VIDIOC_DQBUF", error);
        }
        markLost("VIDIOC_DQBUF", error);
    }
    return false;
}

bool V4L2Camera::requeue(v4l2_buffer& buf) {
    if (xioctl(VIDIOC_QBUF, &buf) == 0) {
        return true;
    }
    const int error = errno;
    if (!isLossErrno(error)) {
        logOnce("VIDIOC_QBUF", error);
    }
    markLost("VIDIOC_QBUF", error);
    return false;
}

// ---- Properties (V4L2Controls, while open) ---------------------------------------------

bool V4L2Camera::hasProperty(CameraProperty property) const {
    return isOpen() && m_controls.hasProperty(property);
}

bool V4L2Camera::getProperty(CameraProperty property, long* value, long* flags) const {
    return isOpen() && m_controls.getProperty(property, value, flags);
}

bool V4L2Camera::setProperty(CameraProperty property, long value, long flags) {
    return isOpen() && m_controls.setProperty(property, value, flags);
}

bool V4L2Camera::getPropertyRange(CameraProperty property, PropertyRange* range) const {
    return isOpen() && m_controls.getPropertyRange(property, range);
}

bool V4L2Camera::hasPowerLineFrequency() const {
    return isOpen() && m_controls.hasPowerLineFrequency();
}

bool V4L2Camera::getPowerLineFrequency(long* value) const {
    return isOpen() && m_controls.getPowerLineFrequency(value);
}

bool V4L2Camera::setPowerLineFrequency(long value) {
    return isOpen() && m_controls.setPowerLineFrequency(value);
}
