#include "capture/virtual/VirtualCamera.h"

#include <cerrno>
#include <chrono>

#include "capture/FrameDecoder.h"
#include "capture/virtual/VirtualCameraLog.h"
#include "capture/virtual/VirtualFrameEncoder.h"
#include "capture/virtual/VirtualHardware.h"
#include "capture/virtual/VirtualScene.h"

VirtualCamera::VirtualCamera(CameraId id, std::shared_ptr<VirtualHardware> hardware)
    : m_id(std::move(id)), m_hardware(std::move(hardware)) {}

VirtualCamera::~VirtualCamera() {
    close();
}

std::vector<CameraFormat> VirtualCamera::supportedFormats() {
    // Like a USB 2 camera, the sensor sends uncompressed YUYV up to 2560 x 1440 only; beyond
    // that the bus cannot carry 30 frames a second, and 3840 x 2160 comes as MJPG alone.
    static constexpr int kSizes[][2] = {{640, 480},   {800, 600},   {1280, 720},
                                        {1920, 1080}, {2560, 1440}, {3840, 2160}};
    static constexpr int kLargestYuyvWidth = 2560;
    std::vector<CameraFormat> list;
    for (uint32_t pixelFormat : {PixelFormat::YUYV, PixelFormat::MJPG}) {
        for (const auto& size : kSizes) {
            if (pixelFormat == PixelFormat::YUYV && size[0] > kLargestYuyvWidth) {
                continue;
            }
            list.push_back(CameraFormat{pixelFormat, size[0], size[1], kFrameRate});
        }
    }
    return list;
}

bool VirtualCamera::deviceReachable() const {
    return m_hardware && m_hardware->isPlugged() && m_hardware->generation() == m_generation;
}

CameraResult VirtualCamera::open() {
    if (isOpen()) {
        return CameraResult::success();
    }
    if (!m_hardware || !m_hardware->isPlugged()) {
        qCWarning(lcVirtualCamera) << "open" << m_id.devNode << "failed: device unplugged";
        return CameraResult::failure(ENOENT);  // as the node of an unplugged camera is gone
    }
    m_generation = m_hardware->generation();
    m_lost.store(false);
    m_framesDelivered.store(0);
    m_framesDropped.store(0);
    m_framesSkipped.store(0);
    // Like a V4L2 driver, the sensor keeps its last format; a new camera starts with the first.
    if (m_format.width == 0) {
        m_format = supportedFormats().front();
    }
    m_state = State::Open;
    return CameraResult::success();
}

void VirtualCamera::close() {
    stop();
    m_state = State::Closed;
}

std::vector<CameraFormat> VirtualCamera::formats() const {
    if (!isOpen()) {
        return {};
    }
    return supportedFormats();
}

CameraResult VirtualCamera::setFormat(const CameraFormat& format) {
    if (!isOpen() || m_state == State::Streaming) {
        return CameraResult::failure(0);
    }
    for (const CameraFormat& offered : supportedFormats()) {
        if (offered.pixelFormat == format.pixelFormat && offered.width == format.width &&
            offered.height == format.height) {
            m_format = offered;
            return CameraResult::success();
        }
    }
    qCWarning(lcVirtualCamera) << "setFormat: no format" << format.width << "x" << format.height
                               << Qt::hex << format.pixelFormat;
    return CameraResult::failure(0);
}

CameraResult VirtualCamera::prepare() {
    if (!isOpen()) {
        return CameraResult::failure(0);
    }
    if (m_lost.load() || !deviceReachable()) {
        return CameraResult::failure(ENODEV);
    }
    if (m_state == State::Open) {
        m_state = State::Prepared;
    }
    return CameraResult::success();
}

void VirtualCamera::unprepare() {
    stop();
    if (m_state == State::Prepared) {
        m_state = State::Open;
    }
}

CameraResult VirtualCamera::start(FrameSink* sink) {
    if (sink == nullptr || !isOpen()) {
        return CameraResult::failure(0);
    }
    if (m_state == State::Streaming) {
        if (m_threadRunning.load()) {
            return CameraResult::failure(0);  // already streaming
        }
        stop();  // the threads ended by themselves: reap them
    }
    if (!deviceReachable()) {
        m_lost.store(true);
    }
    if (m_lost.load()) {
        qCWarning(lcVirtualCamera) << "start" << m_id.devNode << "failed: device lost";
        return CameraResult::failure(ENODEV);
    }
    if (const CameraResult prepared = prepare(); !prepared) {
        return prepared;
    }
    {
        std::lock_guard lock(m_wakeMutex);
        m_stopRequested = false;
        m_readyFresh = false;
        m_sensorEnded = false;
    }
    m_threadRunning.store(true);
    m_sensorThread = std::thread(&VirtualCamera::sensorLoop, this, m_format);
    m_thread =
        std::thread(&VirtualCamera::captureLoop, this, sink, m_format, m_hardware->buttonPresses());
    m_state = State::Streaming;
    return CameraResult::success();
}

void VirtualCamera::stop() {
    if (m_thread.joinable() || m_sensorThread.joinable()) {
        {
            std::lock_guard lock(m_wakeMutex);
            m_stopRequested = true;
        }
        m_wake.notify_all();
        m_slotFilled.notify_all();
        if (m_sensorThread.joinable()) {
            m_sensorThread.join();
        }
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    if (m_state == State::Streaming) {
        m_state = State::Prepared;
    }
}

void VirtualCamera::setStillSink(StillSink* sink) {
    std::lock_guard lock(m_stillMutex);
    m_stillSink = sink;
}

void VirtualCamera::deliverStillPresses(uint64_t count) {
    std::lock_guard lock(m_stillMutex);
    if (m_stillSink == nullptr) {
        return;
    }
    for (uint64_t i = 0; i < count; ++i) {
        m_stillSink->OnStillButton();
    }
}

void VirtualCamera::sensorLoop(CameraFormat format) {
    using Clock = std::chrono::steady_clock;
    VirtualScene scene;
    VirtualFrameEncoder encoder;
    std::vector<uint8_t> back;  // the last encoded frame, taken from the encoder for the slot
    scene.setSize(format.width, format.height);

    const double fps = format.fps > 0 ? format.fps : kFrameRate;
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / fps));
    uint64_t settingsVersion = 0;
    auto next = Clock::now();
    uint64_t frameNumber = uint64_t((next - m_hardware->poweredOnAt()) / period);

    for (;;) {
        {
            // Sleeping on the condition variable rather than sleep_until lets stop() end the
            // wait at once; the deadline on the steady clock keeps the pace.
            std::unique_lock lock(m_wakeMutex);
            if (m_wake.wait_until(lock, next, [this] { return m_stopRequested; })) {
                break;
            }
        }
        if (!deviceReachable()) {
            qCInfo(lcVirtualCamera) << m_id.devNode << "disappeared while streaming";
            m_lost.store(true);
            break;
        }
        if (m_hardware->isStalled()) {
            next += period;
            continue;
        }
        const uint64_t version = m_hardware->settingsVersion();
        if (version != settingsVersion) {
            settingsVersion = version;
            scene.setPicture(m_hardware->settings());
        }

        const uint8_t* argb = scene.render(frameNumber);
        if (encoder.encode(format.pixelFormat, argb, scene.width(), scene.height())) {
            const size_t size = encoder.size();
            encoder.swapBuffer(back);
            {
                std::lock_guard lock(m_wakeMutex);
                if (m_readyFresh) {
                    m_framesSkipped.fetch_add(1);  // the capture thread is still busy
                }
                m_ready.swap(back);
                m_readySize = size;
                m_readyFresh = true;
            }
            m_slotFilled.notify_one();
        } else {
            m_framesDropped.fetch_add(1);
        }

        ++frameNumber;
        next += period;
        // A sensor that fell more than a frame behind (a loaded machine) drops the missed
        // frames instead of sending a burst.
        const auto now = Clock::now();
        if (next + period < now) {
            next = now;
        }
    }
    {
        std::lock_guard lock(m_wakeMutex);
        m_sensorEnded = true;
    }
    m_slotFilled.notify_all();
}

void VirtualCamera::captureLoop(FrameSink* sink, CameraFormat format,
                                uint64_t buttonPressesAtStart) {
    FrameDecoder decoder;
    std::vector<uint8_t> front;  // the frame being decoded (its first frontSize bytes)
    size_t frontSize = 0;
    uint64_t buttonPresses = buttonPressesAtStart;
    for (;;) {
        {
            std::unique_lock lock(m_wakeMutex);
            m_slotFilled.wait(lock,
                              [this] { return m_stopRequested || m_readyFresh || m_sensorEnded; });
            if (m_stopRequested || !m_readyFresh) {
                break;
            }
            front.swap(m_ready);
            frontSize = m_readySize;
            m_readyFresh = false;
        }
        if (decoder.decode(format.pixelFormat, format.width, format.height, front.data(),
                           frontSize)) {
            sink->OnFrame(decoder.pixels(), decoder.width(), decoder.height(), 24);
            m_framesDelivered.fetch_add(1);
        } else {
            m_framesDropped.fetch_add(1);
        }

        const uint64_t presses = m_hardware->buttonPresses();
        if (presses != buttonPresses) {
            deliverStillPresses(presses - buttonPresses);
            buttonPresses = presses;
        }
    }
    m_threadRunning.store(false);
}

bool VirtualCamera::hasProperty(CameraProperty property) const {
    return m_hardware ? m_hardware->offers(property) : VirtualHardware::range(property, nullptr);
}

bool VirtualCamera::getProperty(CameraProperty property, long* value, long* flags) const {
    if (!isOpen() || !deviceReachable()) {
        return false;
    }
    return m_hardware->get(property, value, flags);
}

bool VirtualCamera::setProperty(CameraProperty property, long value, long flags) {
    if (!isOpen() || !deviceReachable()) {
        return false;
    }
    return m_hardware->set(property, value, flags);
}

bool VirtualCamera::getPropertyRange(CameraProperty property, PropertyRange* range) const {
    if (!isOpen() || !deviceReachable() || !m_hardware->offers(property)) {
        return false;
    }
    return VirtualHardware::range(property, range);
}

bool VirtualCamera::getPowerLineFrequency(long* value) const {
    if (!isOpen() || !deviceReachable() || value == nullptr) {
        return false;
    }
    *value = m_hardware->powerLineFrequency();
    return true;
}

bool VirtualCamera::setPowerLineFrequency(long value) {
    if (!isOpen() || !deviceReachable()) {
        return false;
    }
    return m_hardware->setPowerLineFrequency(value);
}

CameraStats VirtualCamera::stats() const {
    CameraStats stats;
    stats.framesDelivered = m_framesDelivered.load();
    stats.framesDropped = m_framesDropped.load();
    stats.framesSkipped = m_framesSkipped.load();
    return stats;
}
