// The V4L2 backend and discovery against the kernel's real USB video driver, uvcvideo, driving
// the emulated USB camera (tests/vm/usbcam) that tests/vm/run-in-vm serves to the guest over
// USB/IP when TAVREL_VM_USBCAM=1: discovery and the support check by USB ids and serial,
// YUYV and MJPG streaming at both sizes, every picture control and exposure reaching the
// device, the snapshot button, and unplugging while streaming, then plugging in again.
//
// The emulated camera's picture (tests/vm/usbcam/TestPicture.h): a top band of 16 blocks
// spelling the frame number in binary, then red, green, blue and grey bars at 75% plus the
// brightness control. The tests run in file order in one guest; the unplug test comes last.

#include <gtest/gtest.h>

#include <QString>
#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "UsbCamClient.h"
#include "VmTestSupport.h"
#include "capture/Camera.h"
#include "capture/CameraSystem.h"
#include "contracts/CameraController.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceTable.h"
#include "device/SupportCheck.h"
#include "device/UsbDeviceSource.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const QString kVid = QStringLiteral("1209");
const QString kPid = QStringLiteral("0002");
const QString kSerial = QStringLiteral("TUC-0001");
const QString kProduct = QStringLiteral("Tavrel USB Test Camera");

constexpr int kCodeBits = 16;
constexpr int kBars = 4;
constexpr double kLevel = 191;
constexpr double kTolerance = 24;

using vmtest::luma;
using vmtest::mustReturnWithin;
using vmtest::Rgb;
using vmtest::threadCount;
using vmtest::waitUntil;

// What the tests read from one frame (24-bit BGR, bottom-up): the frame number the camera
// drew, and the mean colour of the middle of each bar.
struct Seen {
    int width = 0, height = 0, bpp = 0;
    uint32_t number = 0;
    std::array<Rgb, kBars> bars{};
};

Seen look(const uint8_t* bgr, int w, int h, int bpp) {
    Seen s{w, h, bpp, 0, {}};
    if (!bgr || bpp != 24) {
        return s;
    }
    const auto pixel = [&](int x, int y) { return bgr + (size_t(h - 1 - y) * w + x) * 3; };
    for (int bit = 0; bit < kCodeBits; ++bit) {
        const uint8_t* p = pixel((2 * bit + 1) * w / (2 * kCodeBits), h / 16);
        if ((p[0] + p[1] + p[2]) / 3 > 128) {
            s.number |= 1u << (kCodeBits - 1 - bit);
        }
    }
    for (int bar = 0; bar < kBars; ++bar) {
        double sum[3] = {0, 0, 0};
        int n = 0;
        for (int y = h * 3 / 8; y < h * 7 / 8; y += 2) {
            for (int x = w * bar / kBars + w / 16; x < w * (bar + 1) / kBars - w / 16; x += 2) {
                const uint8_t* p = pixel(x, y);
                sum[0] += p[0];
                sum[1] += p[1];
                sum[2] += p[2];
                ++n;
            }
        }
        s.bars[bar] = Rgb{sum[2] / n, sum[1] / n, sum[0] / n};
    }
    return s;
}

class RecordingSink : public FrameSink {
public:
    int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override {
        const Seen seen = look(pixels, width, height, bitsPerPixel);
        {
            std::lock_guard guard(m_mutex);
            m_frames.push_back(seen);
        }
        m_cv.notify_all();
        return 0;
    }
    bool waitForFrames(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
    }
    std::vector<Seen> frames() const {
        std::lock_guard guard(m_mutex);
        return m_frames;
    }

private:
    // Protects m_frames.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Seen> m_frames;
};

class StillCounter : public StillSink {
public:
    void OnStillButton() override {
        std::lock_guard guard(m_mutex);
        ++m_presses;
        m_cv.notify_all();
    }
    bool waitForPresses(int count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_presses >= count; });
    }
    int presses() {
        std::lock_guard guard(m_mutex);
        return m_presses;
    }

private:
    // Protects m_presses.
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_presses = 0;
};

class UsbCameraTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* socket = std::getenv("TAVREL_USBCAM_SOCKET");
        if (!socket || !*socket) {
            GTEST_SKIP() << "no emulated USB camera: run this binary through tests/vm/run-in-vm "
                            "with TAVREL_VM_USBCAM=1";
        }
        m_client = std::make_unique<UsbCamClient>(socket);
        ASSERT_TRUE(m_client->connect()) << "cannot reach the emulator at " << socket;
    }

    void TearDown() override {
        if (HasFailure()) {
            std::printf("emulator: %s\n", m_client ? m_client->command("status").c_str() : "-");
            std::fflush(stdout);
            std::system("dmesg | grep -Ei 'uvc|usb|vhci' | tail -n 25");
        }
    }

    // The control's value in the camera as the driver last set it.
    long deviceValue(const char* control) {
        const std::string reply = m_client->command(std::string("get ") + control);
        EXPECT_TRUE(UsbCamClient::isOk(reply)) << reply;
        return std::strtol(UsbCamClient::value(reply).c_str(), nullptr, 10);
    }

    static CameraId findUsbCamera(CameraSystem& system) {
        for (const CameraId& id : CameraDiscovery(system).enumerate()) {
            if (id.usbVid == kVid && id.usbPid == kPid) {
                return id;
            }
        }
        return {};
    }

    std::unique_ptr<Camera> openCamera(CameraSystem& system) {
        const CameraId id = findUsbCamera(system);
        if (!id.isValid()) {
            ADD_FAILURE() << "discovery did not find the USB camera";
            return nullptr;
        }
        std::unique_ptr<Camera> camera = system.create(id);
        if (!camera || !camera->open()) {
            ADD_FAILURE() << "cannot open " << id.devNode.toStdString();
            return nullptr;
        }
        return camera;
    }

    // Streams format until `frames` frames have arrived; returns what they showed.
    static std::vector<Seen> stream(Camera& camera, const CameraFormat& format, size_t frames) {
        RecordingSink sink;
        if (!camera.setFormat(format) || !camera.start(&sink)) {
            ADD_FAILURE() << "cannot stream " << format.width << "x" << format.height;
            return {};
        }
        const bool arrived = sink.waitForFrames(frames, 30s);
        mustReturnWithin(10s, "stop()", [&] { camera.stop(); });
        EXPECT_TRUE(arrived) << "only " << sink.frames().size() << " frames in 30 s";
        return sink.frames();
    }

    std::unique_ptr<UsbCamClient> m_client;
};

TEST_F(UsbCameraTest, DiscoveryAndTheSupportCheckKnowTheCameraByItsUsbIds) {
    CameraSystem system(false);
    CameraDiscovery discovery(system);
    const CameraId camera = findUsbCamera(system);
    ASSERT_TRUE(camera.isValid()) << "no camera with USB ids 1209:0002";
    const char* node = std::getenv("TAVREL_USBCAM_NODE");
    EXPECT_EQ(camera.devNode.toStdString(), node ? node : "");
    EXPECT_EQ(camera.usbSerial, kSerial);
    EXPECT_TRUE(camera.cardName.startsWith(kProduct)) << camera.cardName.toStdString();
    EXPECT_TRUE(camera.busInfo.startsWith(QStringLiteral("usb-"))) << camera.busInfo.toStdString();
    EXPECT_TRUE(camera.usbSysPath.contains(QStringLiteral("vhci_hcd")))
        << camera.usbSysPath.toStdString();
    // Only the capture node is a camera, not uvcvideo's metadata node next to it.
    const std::vector<CameraId> all = discovery.enumerate();
    EXPECT_EQ(
        std::count_if(all.begin(), all.end(), [](const CameraId& id) { return id.usbVid == kVid; }),
        1);

    UdevUsbDeviceSource usb;
    DeviceTable table;
    SupportCheck check(table, discovery, usb);
    ASSERT_GE(check.FindSupportedCameras(), 1);
    EXPECT_TRUE(check.usbFailureKey().isEmpty()) << check.usbFailureKey().toStdString();
    EXPECT_NE(std::find(check.found().begin(), check.found().end(), camera), check.found().end());
    const auto tabled = std::find_if(
        table.m_UsbDevices.begin(), table.m_UsbDevices.begin() + table.m_nUsbDeviceCount,
        [&](const UsbDeviceEntry& e) { return e.strSysPath == camera.usbSysPath; });
    ASSERT_NE(tabled, table.m_UsbDevices.begin() + table.m_nUsbDeviceCount)
        << "the camera's USB device is not in the table";
    EXPECT_EQ(tabled->strVid, kVid.toUpper());
    EXPECT_EQ(tabled->strPid, kPid);
    EXPECT_EQ(tabled->strFriendlyName, kProduct);

    // With the USB camera open, the controller answers with its ids.
    discovery.setOpenCamera(camera);
    uint16_t vid = 0, pid = 0;
    EXPECT_TRUE(discovery.controller().ALC_GetPIDVID(&vid, &pid));
    EXPECT_EQ(vid, 0x1209);
    EXPECT_EQ(pid, 0x0002);
}

TEST_F(UsbCameraTest, StreamsYuyvAndMjpgAtBothSizes) {
    CameraSystem system(false);
    std::unique_ptr<Camera> camera = openCamera(system);
    ASSERT_TRUE(camera);
    std::vector<CameraFormat> wanted;
    for (uint32_t pixelFormat : {PixelFormat::YUYV, PixelFormat::MJPG}) {
        for (const auto& [w, h] : {std::pair{640, 480}, std::pair{320, 240}}) {
            const std::vector<CameraFormat> formats = camera->formats();
            const auto f = std::find_if(formats.begin(), formats.end(), [&](const auto& c) {
                return c.pixelFormat == pixelFormat && c.width == w && c.height == h;
            });
            ASSERT_NE(f, formats.end()) << "format " << pixelFormat << " " << w << "x" << h;
            wanted.push_back(*f);
        }
    }
    EXPECT_EQ(camera->formats().size(), wanted.size());

    for (const CameraFormat& format : wanted) {
        SCOPED_TRACE(std::string(format.isMjpg() ? "MJPG " : "YUYV ") +
                     std::to_string(format.width) + "x" + std::to_string(format.height));
        const long servedBefore =
            std::strtol(UsbCamClient::value(m_client->command("frames")).c_str(), nullptr, 10);
        const std::vector<Seen> frames = stream(*camera, format, 6);
        ASSERT_GE(frames.size(), 6u);
        EXPECT_GE(
            std::strtol(UsbCamClient::value(m_client->command("frames")).c_str(), nullptr, 10) -
                servedBefore,
            6);
        // Every frame a new picture: the numbers it carries only go up.
        for (size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(frames[i].width, format.width);
            EXPECT_EQ(frames[i].height, format.height);
            EXPECT_EQ(frames[i].bpp, 24);
            if (i > 0) {
                EXPECT_GT(frames[i].number, frames[i - 1].number) << "frame " << i;
            }
        }
        const Seen& last = frames.back();
        const Rgb expected[kBars] = {
            {kLevel, 0, 0}, {0, kLevel, 0}, {0, 0, kLevel}, {kLevel, kLevel, kLevel}};
        for (int bar = 0; bar < kBars; ++bar) {
            EXPECT_NEAR(last.bars[bar].r, expected[bar].r, kTolerance) << "bar " << bar;
            EXPECT_NEAR(last.bars[bar].g, expected[bar].g, kTolerance) << "bar " << bar;
            EXPECT_NEAR(last.bars[bar].b, expected[bar].b, kTolerance) << "bar " << bar;
        }
    }
    camera->close();
}

TEST_F(UsbCameraTest, EveryPictureControlReachesTheCamera) {
    CameraSystem system(false);
    std::unique_ptr<Camera> camera = openCamera(system);
    ASSERT_TRUE(camera);

    struct Case {
        CameraProperty property;
        const char* control;
    };
    for (const Case& c :
         {Case{CameraProperty::Brightness, "brightness"},
          Case{CameraProperty::Contrast, "contrast"}, Case{CameraProperty::Hue, "hue"},
          Case{CameraProperty::Saturation, "saturation"},
          Case{CameraProperty::Sharpness, "sharpness"}, Case{CameraProperty::Gamma, "gamma"},
          Case{CameraProperty::Gain, "gain"},
          Case{CameraProperty::WhiteBalance, "white_balance_temperature"}}) {
        SCOPED_TRACE(c.control);
        PropertyRange range;
        ASSERT_TRUE(camera->getPropertyRange(c.property, &range));
        ASSERT_LT(range.min, range.max);
        // Two values away from the default, the range's ends included.
        for (long value : {range.min, range.max - (range.max - range.min) / 3}) {
            EXPECT_TRUE(camera->setProperty(c.property, value, kPropertyFlagsManual));
            EXPECT_EQ(deviceValue(c.control), value);
            long read = 0, flags = 0;
            EXPECT_TRUE(camera->getProperty(c.property, &read, &flags));
            EXPECT_EQ(read, value);
        }
    }
    PropertyRange brightness;
    ASSERT_TRUE(camera->getPropertyRange(CameraProperty::Brightness, &brightness));
    EXPECT_EQ(brightness.min, -64);
    EXPECT_EQ(brightness.max, 64);
    EXPECT_EQ(brightness.def, 0);

    // White balance: the manual values above switched the camera's automatic mode off (it
    // refuses a temperature while automatic); Auto switches it back on, a manual value off.
    EXPECT_EQ(deviceValue("white_balance_auto"), 0);
    EXPECT_TRUE(camera->setProperty(CameraProperty::WhiteBalance, 0, kPropertyFlagsAuto));
    EXPECT_EQ(deviceValue("white_balance_auto"), 1);
    EXPECT_TRUE(camera->setProperty(CameraProperty::WhiteBalance, 5000, kPropertyFlagsManual));
    EXPECT_EQ(deviceValue("white_balance_auto"), 0);
    EXPECT_EQ(deviceValue("white_balance_temperature"), 5000);

    // Exposure: log2 seconds over the camera terminal's 100 us units; automatic is the
    // camera's aperture-priority mode, manual its manual mode.
    EXPECT_EQ(deviceValue("exposure_auto"), 8);
    EXPECT_TRUE(camera->setProperty(CameraProperty::Exposure, -7, kPropertyFlagsManual));
    EXPECT_EQ(deviceValue("exposure_auto"), 1);
    EXPECT_EQ(deviceValue("exposure_time"), 78);  // 1/128 s
    long exposure = 0, flags = 0;
    EXPECT_TRUE(camera->getProperty(CameraProperty::Exposure, &exposure, &flags));
    EXPECT_EQ(exposure, -7);
    EXPECT_EQ(flags, kPropertyFlagsManual);
    EXPECT_TRUE(camera->setProperty(CameraProperty::Exposure, -5, kPropertyFlagsManual));
    EXPECT_EQ(deviceValue("exposure_time"), 313);  // 1/32 s
    EXPECT_TRUE(camera->setProperty(CameraProperty::Exposure, 0, kPropertyFlagsAuto));
    EXPECT_EQ(deviceValue("exposure_auto"), 8);
    EXPECT_TRUE(camera->getProperty(CameraProperty::Exposure, &exposure, &flags));
    EXPECT_EQ(flags, kPropertyFlagsAuto);

    ASSERT_TRUE(camera->hasPowerLineFrequency());
    for (long hz : {2L, 1L}) {
        EXPECT_TRUE(camera->setPowerLineFrequency(hz));
        EXPECT_EQ(deviceValue("power_line_frequency"), hz);
        long read = 0;
        EXPECT_TRUE(camera->getPowerLineFrequency(&read));
        EXPECT_EQ(read, hz);
    }

    // Brightness reaches the picture: the grey bar follows it.
    CameraFormat small;
    for (const CameraFormat& f : camera->formats()) {
        if (f.pixelFormat == PixelFormat::YUYV && f.width == 320) {
            small = f;
        }
    }
    ASSERT_EQ(small.width, 320);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, 0, kPropertyFlagsManual));
    const std::vector<Seen> plain = stream(*camera, small, 3);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, 64, kPropertyFlagsManual));
    const std::vector<Seen> bright = stream(*camera, small, 3);
    ASSERT_FALSE(plain.empty());
    ASSERT_FALSE(bright.empty());
    const double lift = luma(bright.back().bars[3]) - luma(plain.back().bars[3]);
    EXPECT_NEAR(lift, 64, 12) << "brightness 64 should lift the grey bar by 64";
    camera->close();
}

TEST_F(UsbCameraTest, TheCameraButtonArrivesAsAStillWhileStreaming) {
    // Nobody has the node open: uvcvideo does not poll the button, and the emulator says so.
    EXPECT_FALSE(UsbCamClient::isOk(m_client->command("press")));

    CameraSystem system(false);
    std::unique_ptr<Camera> camera = openCamera(system);
    ASSERT_TRUE(camera);
    StillCounter stills;
    camera->setStillSink(&stills);
    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(sink.waitForFrames(2, 30s));
    for (int i = 1; i <= 2; ++i) {
        const std::string reply = m_client->command("press");
        ASSERT_TRUE(UsbCamClient::isOk(reply)) << reply;
        EXPECT_TRUE(stills.waitForPresses(i, 5s)) << "press " << i << " did not arrive";
    }
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(stills.presses(), 2) << "a release must not count as a press";
    camera->setStillSink(nullptr);
    mustReturnWithin(10s, "stop()", [&] { camera->stop(); });
    camera->close();
}

TEST_F(UsbCameraTest, UnplugWhileStreamingEndsTheStreamAndPlugBringsTheCameraBack) {
    CameraSystem system(false);
    std::unique_ptr<Camera> camera = openCamera(system);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, 30, kPropertyFlagsManual));
    ASSERT_TRUE(camera->prepare());
    const int threadsBefore = threadCount();
    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(sink.waitForFrames(3, 30s));

    const std::string unplugged = m_client->command("unplug");
    ASSERT_TRUE(UsbCamClient::isOk(unplugged)) << unplugged;
    waitUntil(10s, [&] { return camera->isLost(); });
    ASSERT_TRUE(camera->isLost()) << "the backend did not notice the camera going away";
    EXPECT_FALSE(camera->isStreaming());
    // The capture thread ends by itself, before anyone calls stop().
    waitUntil(5s, [&] { return threadCount() <= threadsBefore; });
    EXPECT_LE(threadCount(), threadsBefore) << "the capture thread is still running";
    const size_t framesAtLoss = sink.frames().size();
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(sink.frames().size(), framesAtLoss) << "frames after the unplug";
    mustReturnWithin(5s, "stop() after the unplug", [&] { camera->stop(); });
    EXPECT_FALSE(camera->start(&sink)) << "an unplugged camera must not start again";
    mustReturnWithin(5s, "close() after the unplug", [&] { camera->close(); });
    EXPECT_FALSE(findUsbCamera(system).isValid()) << "discovery still lists the unplugged camera";

    const std::string plugged = m_client->command("plug");
    ASSERT_TRUE(UsbCamClient::isOk(plugged)) << plugged;
    CameraId again;
    waitUntil(10s, [&] {
        again = findUsbCamera(system);
        return again.isValid();
    });
    ASSERT_TRUE(again.isValid()) << "the camera was not found after plugging it in again";
    EXPECT_EQ(again.devNode.toStdString(), UsbCamClient::value(plugged));
    EXPECT_EQ(again.usbSerial, kSerial);
    EXPECT_EQ(again.identityKey(), camera->id().identityKey()) << "the same camera, by its serial";
    std::unique_ptr<Camera> replugged = system.create(again);
    ASSERT_TRUE(replugged && replugged->open());
    // A new device: its controls start from their defaults.
    long brightness = 1, flags = 0;
    EXPECT_TRUE(replugged->getProperty(CameraProperty::Brightness, &brightness, &flags));
    EXPECT_EQ(brightness, 0);
    RecordingSink sink2;
    ASSERT_TRUE(replugged->start(&sink2));
    EXPECT_TRUE(sink2.waitForFrames(3, 30s));
    mustReturnWithin(10s, "stop() after plugging in again", [&] { replugged->stop(); });
    replugged->close();
}

}  // namespace
