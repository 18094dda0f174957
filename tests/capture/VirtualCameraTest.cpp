#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "capture/CameraSystem.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "capture/virtual/VirtualFrameEncoder.h"
#include "capture/virtual/VirtualScene.h"
#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"

namespace {

using namespace std::chrono_literals;

template <typename Predicate>
bool waitFor(Predicate predicate, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Keeps the number of frames and a copy of the newest one.
class RecordingSink : public FrameSink {
public:
    int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override {
        std::lock_guard lock(m_mutex);
        m_last.assign(pixels, pixels + size_t(width) * size_t(height) * 3);
        m_width = width;
        m_height = height;
        m_bpp = bitsPerPixel;
        ++m_count;
        return 0;
    }
    int count() const {
        std::lock_guard lock(m_mutex);
        return m_count;
    }
    struct Frame {
        std::vector<uint8_t> bgr;  // bottom-up
        int width = 0, height = 0, bpp = 0;

        // Mean of (B+G+R)/3 over a rectangle given in top-down picture coordinates.
        double mean(int x0, int y0, int x1, int y1) const {
            double sum = 0;
            for (int y = y0; y < y1; ++y) {
                const uint8_t* row = &bgr[size_t(height - 1 - y) * size_t(width) * 3];
                for (int x = x0; x < x1; ++x) {
                    sum += (row[x * 3] + row[x * 3 + 1] + row[x * 3 + 2]) / 3.0;
                }
            }
            return sum / (double(x1 - x0) * (y1 - y0));
        }
        // Mean over the middle of the microscope field.
        double centre() const {
            const int cx = int(width * 0.52), cy = int(height * 0.48), r = height / 8;
            return mean(cx - r, cy - r, cx + r, cy + r);
        }
        double corners() const {
            const int s = height / 20;
            return (mean(0, 0, s, s) + mean(width - s, 0, width, s) +
                    mean(0, height - s, s, height) + mean(width - s, height - s, width, height)) /
                   4;
        }
    };
    Frame last() const {
        std::lock_guard lock(m_mutex);
        return Frame{m_last, m_width, m_height, m_bpp};
    }

private:
    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_last;
    int m_width = 0, m_height = 0, m_bpp = 0, m_count = 0;
};

class CountingStillSink : public StillSink {
public:
    void OnStillButton() override {
        if (std::this_thread::get_id() != caller) {
            ++offCaller;
        }
        ++presses;
    }
    std::thread::id caller = std::this_thread::get_id();
    std::atomic<int> presses{0};
    std::atomic<int> offCaller{0};
};

bool machineHasVideoNodes() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
        if (entry.path().filename().string().rfind("video", 0) == 0) {
            return true;
        }
    }
    return false;
}

std::vector<CameraId> virtualCameras(CameraSystem& system) {
    std::vector<CameraId> result;
    for (const CameraId& id : CameraDiscovery(system).enumerate()) {
        if (id.backend == CameraBackend::Virtual) {
            result.push_back(id);
        }
    }
    return result;
}

// Lets a few frames pass so that the picture reflects settings changed before.
RecordingSink::Frame frameAfterSettle(const RecordingSink& sink) {
    const int start = sink.count();
    EXPECT_TRUE(waitFor([&] { return sink.count() >= start + 3; }));
    return sink.last();
}

}  // namespace

TEST(VirtualCameraDiscovery, ListedOnlyWhenEnabled) {
    CameraSystem with(true);
    const std::vector<CameraId> found = virtualCameras(with);
    ASSERT_EQ(found.size(), 1u);
    const CameraId& id = found.front();
    EXPECT_EQ(id.devNode, QStringLiteral("virtual:0"));
    EXPECT_EQ(id.cardName, QStringLiteral("Tavrel Virtual Microscope"));
    EXPECT_EQ(id.usbVid, QStringLiteral("1209"));
    EXPECT_EQ(id.usbPid, QStringLiteral("0001"));
    EXPECT_EQ(id.usbSerial, QStringLiteral("TVM-0001"));
    EXPECT_EQ(id, with.virtualDevice()->cameraId());

    CameraSystem without(false);
    EXPECT_EQ(without.virtualDevice(), nullptr);
    EXPECT_TRUE(virtualCameras(without).empty());
    EXPECT_EQ(without.create(id), nullptr);
    if (!machineHasVideoNodes()) {
        EXPECT_TRUE(CameraDiscovery(without).enumerate().empty());
    }
}

TEST(VirtualCameraDiscovery, CreateServesEachBackend) {
    CameraSystem system(true);
    CameraId missing;
    missing.backend = CameraBackend::V4L2;
    missing.devNode = QStringLiteral("/dev/video-tavrel-missing");
    std::unique_ptr<Camera> real = system.create(missing);
    ASSERT_NE(real, nullptr) << "V4L2 ids go to the V4L2 backend";
    EXPECT_EQ(real->id(), missing);
    EXPECT_FALSE(real->open());

    CameraId stranger = system.virtualDevice()->cameraId();
    stranger.devNode = QStringLiteral("virtual:7");
    EXPECT_EQ(system.create(stranger), nullptr) << "no such virtual device";
    std::unique_ptr<Camera> camera = system.create(system.virtualDevice()->cameraId());
    ASSERT_NE(camera, nullptr);
    EXPECT_FALSE(camera->isOpen());
}

TEST(VirtualCameraFormats, UncompressedFirstThenMjpgEachOnce) {
    CameraSystem system(true);
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_NE(camera, nullptr);
    EXPECT_TRUE(camera->formats().empty()) << "a closed camera lists no formats";
    ASSERT_TRUE(camera->open());

    const std::vector<CameraFormat> formats = camera->formats();
    // YUYV up to 2560 x 1440 as over USB 2, MJPG up to 3840 x 2160.
    const std::vector<std::pair<int, int>> sizes{{640, 480},   {800, 600},   {1280, 720},
                                                 {1920, 1080}, {2560, 1440}, {3840, 2160}};
    ASSERT_EQ(formats.size(), 11u);
    std::set<std::tuple<uint32_t, int, int>> seen;
    for (size_t i = 0; i < formats.size(); ++i) {
        const bool yuyv = i < 5;
        const auto& size = sizes[yuyv ? i : i - 5];
        EXPECT_EQ(formats[i].pixelFormat, yuyv ? PixelFormat::YUYV : PixelFormat::MJPG) << i;
        EXPECT_EQ(formats[i].width, size.first) << i;
        EXPECT_EQ(formats[i].height, size.second) << i;
        EXPECT_TRUE(
            seen.insert({formats[i].pixelFormat, formats[i].width, formats[i].height}).second);
    }
    EXPECT_EQ(camera->currentFormat(), formats.front());
    EXPECT_FALSE(camera->setFormat(CameraFormat{PixelFormat::YUYV, 1024, 768, 30}));
    EXPECT_EQ(camera->currentFormat(), formats.front());
}

TEST(VirtualCameraStreaming, HundredFramesOfAMicroscopeFieldInBothFormats) {
    CameraSystem system(true);
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_TRUE(camera->open());
    for (uint32_t pixelFormat : {PixelFormat::YUYV, PixelFormat::MJPG}) {
        SCOPED_TRACE(pixelFormat == PixelFormat::YUYV ? "YUYV" : "MJPG");
        ASSERT_TRUE(camera->setFormat(CameraFormat{pixelFormat, 640, 480, 30}));
        RecordingSink sink;
        ASSERT_TRUE(camera->start(&sink));
        EXPECT_TRUE(camera->isStreaming());
        ASSERT_TRUE(waitFor([&] { return sink.count() >= 10; }));
        const RecordingSink::Frame early = sink.last();
        ASSERT_TRUE(waitFor([&] { return sink.count() >= 100; }, 10000ms));
        camera->stop();
        EXPECT_FALSE(camera->isStreaming());
        const int stopped = sink.count();
        EXPECT_GE(camera->stats().framesDelivered, uint64_t(stopped));

        const RecordingSink::Frame frame = sink.last();
        EXPECT_EQ(frame.width, 640);
        EXPECT_EQ(frame.height, 480);
        EXPECT_EQ(frame.bpp, 24);
        EXPECT_GT(frame.centre(), 150) << "bright field of view";
        EXPECT_LT(frame.corners(), 30) << "dark surround";
        EXPECT_NE(frame.bgr, early.bgr) << "the scene moves";

        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(sink.count(), stopped) << "no frame after stop()";
    }
    EXPECT_EQ(camera->stats().framesDropped, 0u);
}

TEST(VirtualCameraStreaming, FormatChangeDeliversTheNewSize) {
    CameraSystem system(true);
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_TRUE(camera->open());
    RecordingSink small;
    ASSERT_TRUE(camera->start(&small));
    ASSERT_TRUE(waitFor([&] { return small.count() >= 2; }));
    EXPECT_FALSE(camera->setFormat(CameraFormat{PixelFormat::MJPG, 1280, 720, 30}))
        << "no format change while streaming";
    camera->stop();

    // The largest size, sent as MJPG only.
    EXPECT_FALSE(camera->setFormat(CameraFormat{PixelFormat::YUYV, 3840, 2160, 30}));
    ASSERT_TRUE(camera->setFormat(CameraFormat{PixelFormat::MJPG, 3840, 2160, 30}));
    EXPECT_TRUE(camera->currentFormat().isMjpg());
    RecordingSink large;
    ASSERT_TRUE(camera->start(&large));
    ASSERT_TRUE(waitFor([&] { return large.count() >= 3; }, 10000ms));
    camera->stop();
    const RecordingSink::Frame frame = large.last();
    EXPECT_EQ(frame.width, 3840);
    EXPECT_EQ(frame.height, 2160);
    EXPECT_GT(frame.centre(), 150);
    EXPECT_LT(frame.corners(), 30);
}

TEST(VirtualCameraStreaming, ASlowSinkGetsTheNewestFramesAndTheOthersAreSkipped) {
    // A sink that needs five frame periods per frame: the camera keeps its pace, nothing
    // piles up, and what it had no time for is counted as skipped.
    class SlowSink : public RecordingSink {
    public:
        int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override {
            std::this_thread::sleep_for(165ms);
            return RecordingSink::OnFrame(pixels, width, height, bitsPerPixel);
        }
    };
    CameraSystem system(true);
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_TRUE(camera->open());
    SlowSink sink;
    ASSERT_TRUE(camera->start(&sink));
    std::this_thread::sleep_for(1500ms);
    camera->stop();
    const CameraStats stats = camera->stats();
    EXPECT_EQ(stats.framesDelivered, uint64_t(sink.count()));
    EXPECT_LE(sink.count(), 10);
    EXPECT_GE(stats.framesSkipped, 2 * stats.framesDelivered) << "the sensor kept its pace";
    EXPECT_EQ(stats.framesDropped, 0u);
}

TEST(VirtualCameraProperties, RangesFlagsAndVisibleEffect) {
    CameraSystem system(true);
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_TRUE(camera->open());

    PropertyRange range;
    ASSERT_TRUE(camera->getPropertyRange(CameraProperty::Brightness, &range));
    EXPECT_EQ(range.min, -64);
    EXPECT_EQ(range.max, 64);
    EXPECT_EQ(range.def, 0);
    EXPECT_EQ(range.flags, kPropertyFlagsManual);
    ASSERT_TRUE(camera->getPropertyRange(CameraProperty::WhiteBalance, &range));
    EXPECT_EQ(range.step, 10);
    EXPECT_EQ(range.flags, kPropertyFlagsAuto | kPropertyFlagsManual);
    ASSERT_TRUE(camera->getPropertyRange(CameraProperty::Exposure, &range));
    EXPECT_EQ(range.min, -11);
    EXPECT_EQ(range.max, -2);
    EXPECT_EQ(range.def, -6);

    // Exposure and gain each have their own automatic mode, as on a V4L2 camera (keeping them
    // together is the parameter set's rule).
    long value = 0, flags = 0;
    ASSERT_TRUE(camera->setProperty(CameraProperty::Exposure, -7, kPropertyFlagsManual));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Gain, &value, &flags));
    EXPECT_EQ(flags, kPropertyFlagsAuto);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Gain, 20, kPropertyFlagsManual));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Exposure, &value, &flags));
    EXPECT_EQ(value, -7);
    EXPECT_EQ(flags, kPropertyFlagsManual);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Gain, 30, kPropertyFlagsAuto));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Exposure, &value, &flags));
    EXPECT_EQ(flags, kPropertyFlagsManual);
    // Out-of-range values are clamped as V4L2 drivers do; a value set together with automatic
    // is not applied (the gain above stays 20), as V4L2 does not write an inactive control.
    ASSERT_TRUE(camera->getProperty(CameraProperty::Gain, &value, &flags));
    EXPECT_EQ(value, 20);
    EXPECT_EQ(flags, kPropertyFlagsAuto);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Exposure, 0, kPropertyFlagsManual));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Exposure, &value, &flags));
    EXPECT_EQ(value, -2);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Exposure, -7, kPropertyFlagsManual));
    ASSERT_TRUE(camera->setProperty(CameraProperty::Exposure, -4, kPropertyFlagsAuto));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Exposure, &value, &flags));
    EXPECT_EQ(value, -7);
    EXPECT_EQ(flags, kPropertyFlagsAuto);
    ASSERT_TRUE(camera->setProperty(CameraProperty::WhiteBalance, 4607, kPropertyFlagsManual));
    ASSERT_TRUE(camera->getProperty(CameraProperty::WhiteBalance, &value, &flags));
    EXPECT_EQ(value, 4610) << "snapped to the step";
    ASSERT_TRUE(camera->setProperty(CameraProperty::Hue, 5, kPropertyFlagsAuto));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Hue, &value, &flags));
    EXPECT_EQ(value, 5);
    EXPECT_EQ(flags, kPropertyFlagsManual) << "hue has no automatic mode";
    ASSERT_TRUE(camera->setProperty(CameraProperty::Hue, 0, kPropertyFlagsManual));

    // Values live in the device: they survive closing and opening the camera.
    ASSERT_TRUE(camera->setProperty(CameraProperty::Contrast, 40, kPropertyFlagsManual));
    ASSERT_TRUE(camera->setPowerLineFrequency(2));
    camera->close();
    EXPECT_FALSE(camera->getProperty(CameraProperty::Contrast, &value, &flags));
    ASSERT_TRUE(camera->open());
    ASSERT_TRUE(camera->getProperty(CameraProperty::Contrast, &value, &flags));
    EXPECT_EQ(value, 40);
    EXPECT_EQ(flags, kPropertyFlagsManual);
    ASSERT_TRUE(camera->getPowerLineFrequency(&value));
    EXPECT_EQ(value, 2);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Contrast, 32, kPropertyFlagsManual));
    ASSERT_TRUE(camera->setPowerLineFrequency(1));

    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, -64, kPropertyFlagsManual));
    const RecordingSink::Frame dark = frameAfterSettle(sink);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, 64, kPropertyFlagsManual));
    const RecordingSink::Frame bright = frameAfterSettle(sink);
    EXPECT_GT(bright.centre(), dark.centre() + 60);

    // Saturation 0 leaves a grey picture; the default keeps the warm tint of the lamp.
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, 0, kPropertyFlagsManual));
    auto warmth = [](const RecordingSink::Frame& f) {  // mean R - B over the field's middle
        const int r = f.height / 8;
        const int cx = int(f.width * 0.52), cy = f.height - 1 - int(f.height * 0.48);
        double sum = 0;
        for (int y = cy - r; y < cy + r; ++y) {
            for (int x = cx - r; x < cx + r; ++x) {
                const uint8_t* p = &f.bgr[(size_t(y) * size_t(f.width) + size_t(x)) * 3];
                sum += int(p[2]) - int(p[0]);
            }
        }
        return sum / (4.0 * r * r);
    };
    EXPECT_GT(warmth(frameAfterSettle(sink)), 8);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Saturation, 0, kPropertyFlagsManual));
    EXPECT_LE(std::abs(warmth(frameAfterSettle(sink))), 2.0);

    // Manual exposure far below the default darkens the field; automatic restores it.
    const double normal = frameAfterSettle(sink).centre();
    ASSERT_TRUE(camera->setProperty(CameraProperty::Exposure, -11, kPropertyFlagsManual));
    EXPECT_LT(frameAfterSettle(sink).centre(), normal / 4);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Exposure, -11, kPropertyFlagsAuto));
    EXPECT_NEAR(frameAfterSettle(sink).centre(), normal, 25);
    camera->stop();
}

TEST(VirtualCameraStill, ButtonPressesReachTheStillSinkOnTheCaptureThread) {
    CameraSystem system(true);
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_TRUE(camera->open());
    CountingStillSink still;
    camera->setStillSink(&still);
    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(waitFor([&] { return sink.count() >= 1; }));
    system.virtualDevice()->pressSnapshotButton();
    system.virtualDevice()->pressSnapshotButton();
    EXPECT_TRUE(waitFor([&] { return still.presses.load() == 2; }));
    EXPECT_EQ(still.offCaller.load(), 2);

    camera->setStillSink(nullptr);
    system.virtualDevice()->pressSnapshotButton();
    const int frames = sink.count();
    ASSERT_TRUE(waitFor([&] { return sink.count() >= frames + 3; }));
    camera->stop();
    EXPECT_EQ(still.presses.load(), 2) << "a detached sink is not called";
}

TEST(VirtualCameraHotPlug, UnplugWhileStreamingEndsTheStreamAndPlugBringsItBack) {
    CameraSystem system(true);
    VirtualCameraDevice* device = system.virtualDevice();
    std::vector<bool> changes;
    device->onDeviceChange = [&](bool arrival) { changes.push_back(arrival); };
    std::unique_ptr<Camera> camera = system.create(virtualCameras(system).front());
    ASSERT_TRUE(camera->open());
    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(waitFor([&] { return sink.count() >= 3; }));

    device->unplug();
    EXPECT_FALSE(device->isPlugged());
    EXPECT_EQ(changes, std::vector<bool>{false});
    ASSERT_TRUE(waitFor([&] { return !camera->isStreaming(); }, 2000ms)) << "capture thread ended";
    EXPECT_TRUE(camera->isLost());
    const int frames = sink.count();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(sink.count(), frames);
    EXPECT_TRUE(virtualCameras(system).empty());
    EXPECT_FALSE(camera->start(&sink));
    long value = 0, flags = 0;
    EXPECT_FALSE(camera->getProperty(CameraProperty::Brightness, &value, &flags));
    uint16_t vid = 0, pid = 0;
    EXPECT_FALSE(CameraDiscovery(system).controller().ALC_GetPIDVID(&vid, &pid));

    device->plug();
    EXPECT_EQ(changes, (std::vector<bool>{false, true}));
    EXPECT_EQ(virtualCameras(system).size(), 1u);
    EXPECT_FALSE(camera->start(&sink)) << "a camera opened before the unplug stays lost";
    camera->close();
    ASSERT_TRUE(camera->open());
    EXPECT_FALSE(camera->isLost());
    ASSERT_TRUE(camera->start(&sink));
    EXPECT_TRUE(waitFor([&] { return sink.count() >= frames + 3; }));
    camera->stop();
}

TEST(VirtualCameraHotPlug, CameraOutlivingTheSystemFindsTheDeviceGone) {
    std::unique_ptr<Camera> camera;
    RecordingSink sink;
    {
        CameraSystem system(true);
        camera = system.create(virtualCameras(system).front());
        ASSERT_TRUE(camera->open());
        ASSERT_TRUE(camera->start(&sink));
        ASSERT_TRUE(waitFor([&] { return sink.count() >= 1; }));
    }
    EXPECT_TRUE(waitFor([&] { return camera->isLost(); }, 2000ms));
    camera.reset();
}

TEST(VirtualCameraController, IdsWhilePluggedAndFlashKeptBetweenRuns) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString file = root.filePath(QStringLiteral("Orvane/flash/1209-0001-TVM-0001.bin"));
    {
        CameraSystem system(true, root.path());
        CameraDiscovery discovery(system, QString(), root.path());
        CameraController& controller = discovery.controller();
        EXPECT_EQ(&controller, &discovery.controller());

        controller.ALC_Initialize();
        uint16_t vid = 0, pid = 0;
        ASSERT_TRUE(controller.ALC_GetPIDVID(&vid, &pid));
        EXPECT_EQ(vid, 0x1209);
        EXPECT_EQ(pid, 0x0001);
        uint8_t byte = 0;
        ASSERT_NE(controller.ALC_ReadFlash(0x1C17, 1, &byte), 0);
        EXPECT_EQ(byte, 0xFF) << "erased flag";
        ASSERT_NE(controller.ALC_ReadFlash(0x1C04, 1, &byte), 0);
        EXPECT_EQ(byte, 88) << "the prepared default block's mask radius";
        controller.ALC_SetFlashSize(CameraController::kFlashSize);
        for (uint32_t i = 0; i < 0x37; ++i) {
            const uint8_t data = uint8_t(i * 7 + 1);
            controller.ALC_WriteFlash(0x1D00 + i, 1, &data);
        }
        EXPECT_FALSE(QFile::exists(file)) << "written when the pair closes";
        controller.ALC_UnInitialize();
        EXPECT_TRUE(QFile::exists(file));

        system.virtualDevice()->unplug();
        EXPECT_FALSE(controller.ALC_GetPIDVID(&vid, &pid));
        EXPECT_EQ(controller.ALC_ReadFlash(0x1D00, 1, &byte), 0);
        system.virtualDevice()->plug();
    }
    // The next run on the same data folder finds the bytes and the default block.
    CameraSystem system(true, root.path());
    CameraDiscovery discovery(system, QString(), root.path());
    CameraController& controller = discovery.controller();
    controller.ALC_Initialize();
    uint8_t byte = 0;
    for (uint32_t i = 0; i < 0x37; ++i) {
        ASSERT_NE(controller.ALC_ReadFlash(0x1D00 + i, 1, &byte), 0);
        EXPECT_EQ(byte, uint8_t(i * 7 + 1)) << i;
    }
    ASSERT_NE(controller.ALC_ReadFlash(0x1C04, 1, &byte), 0);
    EXPECT_EQ(byte, 88);
    controller.ALC_UnInitialize();
}

namespace {

// Mean absolute difference of two ARGB pictures over the middle of the field, in grey levels.
double fieldDifference(const VirtualScene& scene, const std::vector<uint8_t>& a,
                       const std::vector<uint8_t>& b) {
    const int r = int(scene.fieldRadius() * 0.7);
    const int cx = int(scene.fieldCenterX()), cy = int(scene.fieldCenterY());
    double sum = 0;
    int count = 0;
    for (int y = cy - r; y < cy + r; ++y) {
        for (int x = cx - r; x < cx + r; ++x) {
            for (int c = 0; c < 3; ++c) {
                const size_t i = (size_t(y) * size_t(scene.width()) + size_t(x)) * 4 + size_t(c);
                sum += std::abs(int(a[i]) - int(b[i]));
                ++count;
            }
        }
    }
    return sum / count;
}

std::vector<uint8_t> renderWith(VirtualScene& scene, const VirtualPictureSettings& settings) {
    scene.setPicture(settings);
    const uint8_t* pixels = scene.render(90);
    return std::vector<uint8_t>(pixels, pixels + size_t(scene.stride()) * size_t(scene.height()));
}

}  // namespace

TEST(VirtualScene, BrightRoundFieldWhereAutoCentringExpectsIt) {
    VirtualScene scene;
    scene.setSize(640, 480);
    const uint8_t* pixels = scene.render(0);
    // Threshold at the mean grey level, as circle auto-centring does.
    std::vector<int> grey(640 * 480);
    double mean = 0;
    for (size_t i = 0; i < grey.size(); ++i) {
        grey[i] = (pixels[i * 4] + pixels[i * 4 + 1] + pixels[i * 4 + 2]) / 3;
        mean += grey[i];
    }
    mean /= double(grey.size());
    double sumX = 0, sumY = 0, area = 0;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            if (grey[size_t(y) * 640 + size_t(x)] > mean) {
                sumX += x;
                sumY += y;
                ++area;
            }
        }
    }
    const double radius = 0.42 * 480;
    EXPECT_NEAR(sumX / area, 0.52 * 640, 6);
    EXPECT_NEAR(sumY / area, 0.48 * 480, 6);
    EXPECT_NEAR(area, 3.14159 * radius * radius, 0.06 * 3.14159 * radius * radius);
}

TEST(VirtualScene, EveryPictureSettingChangesThePicture) {
    VirtualScene scene;
    scene.setSize(320, 240);
    const VirtualPictureSettings defaults;
    const std::vector<uint8_t> reference = renderWith(scene, defaults);
    EXPECT_EQ(renderWith(scene, defaults), reference) << "rendering is repeatable";

    struct Change {
        const char* name;
        void (*apply)(VirtualPictureSettings&);
    };
    const Change changes[] = {
        {"brightness", [](VirtualPictureSettings& s) { s.brightness = 40; }},
        {"contrast", [](VirtualPictureSettings& s) { s.contrast = 8; }},
        {"hue", [](VirtualPictureSettings& s) { s.hue = 40; }},
        {"saturation", [](VirtualPictureSettings& s) { s.saturation = 0; }},
        {"sharpness", [](VirtualPictureSettings& s) { s.sharpness = 0; }},
        {"gamma", [](VirtualPictureSettings& s) { s.gamma = 300; }},
        {"white balance",
         [](VirtualPictureSettings& s) {
             s.whiteBalanceAuto = false;
             s.whiteBalance = 2800;
         }},
        {"gain",
         [](VirtualPictureSettings& s) {
             s.exposureAuto = false;
             s.gainAuto = false;
             s.gain = 60;
         }},
        {"exposure",
         [](VirtualPictureSettings& s) {
             s.exposureAuto = false;
             s.exposure = -9;
         }},
        {"power line 60 Hz", [](VirtualPictureSettings& s) { s.powerLineFrequency = 2; }},
    };
    for (const Change& change : changes) {
        VirtualPictureSettings settings;
        change.apply(settings);
        EXPECT_GT(fieldDifference(scene, reference, renderWith(scene, settings)), 1.0)
            << change.name;
    }

    // Automatic modes hold the picture: the manual values then do not matter.
    VirtualPictureSettings automatic;
    automatic.whiteBalance = 2800;
    automatic.exposure = -2;
    automatic.gain = 100;
    EXPECT_EQ(renderWith(scene, automatic), reference);
}

namespace {

// Decodes a JPEG into top-down BGR; empty when it is not a valid JPEG of that size.
std::vector<uint8_t> DecodeJpeg(const uint8_t* data, size_t size, int width, int height) {
    tjhandle tj = tjInitDecompress();
    std::vector<uint8_t> bgr(size_t(width) * 3 * size_t(height));
    int w = 0, h = 0, sub = 0, cs = 0;
    const bool ok =
        tjDecompressHeader3(tj, data, static_cast<unsigned long>(size), &w, &h, &sub, &cs) == 0 &&
        w == width && h == height &&
        tjDecompress2(tj, data, static_cast<unsigned long>(size), bgr.data(), width, width * 3,
                      height, TJPF_BGR, TJFLAG_FASTDCT | TJFLAG_STOPONWARNING) == 0;
    tjDestroy(tj);
    return ok ? bgr : std::vector<uint8_t>{};
}

// The same frame encoded in one piece, without restart markers.
std::vector<uint8_t> WholeJpeg(const uint8_t* argb, int width, int height) {
    tjhandle tj = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> jpeg;
    if (tjCompress2(tj, argb, width, width * 4, height, TJPF_BGRX, &out, &size, TJSAMP_422, 85,
                    TJFLAG_FASTDCT) == 0) {
        jpeg.assign(out, out + size);
    }
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

}  // namespace

// The encoder re-codes only the blocks that changed since the previous frame; what the camera
// sends must still decode to exactly the pixels of a plain encode of each frame, whatever moved.
TEST(VirtualFrameEncoder, MjpgFramesDecodeLikeAWholeEncodeOfEachFrame) {
    // 1920 x 1080: blocks of 8 MCUs; 800 x 600: 5 MCUs; 100 x 60: not whole MCUs, one piece.
    const int sizes[][2] = {{1920, 1080}, {800, 600}, {100, 60}};
    for (const auto& size : sizes) {
        const int w = size[0], h = size[1];
        VirtualScene scene;
        scene.setSize(w, h);
        VirtualFrameEncoder encoder;
        // Consecutive frames, a repeated one, a jump, and new picture settings (every pixel).
        const uint64_t frames[] = {300, 301, 302, 302, 900, 901};
        for (size_t i = 0; i < std::size(frames); ++i) {
            if (i == 5) {
                VirtualPictureSettings settings;
                settings.brightness = 40;
                scene.setPicture(settings);
            }
            const uint8_t* argb = scene.render(frames[i]);
            ASSERT_TRUE(encoder.encode(PixelFormat::MJPG, argb, w, h));
            const auto sent = DecodeJpeg(encoder.data(), encoder.size(), w, h);
            const auto whole = WholeJpeg(argb, w, h);
            const auto expected = DecodeJpeg(whole.data(), whole.size(), w, h);
            ASSERT_FALSE(sent.empty()) << w << "x" << h << " frame " << frames[i];
            ASSERT_FALSE(expected.empty());
            ASSERT_TRUE(sent == expected) << w << "x" << h << " frame " << frames[i];
        }
    }
}
