// The V4L2 backend against a real kernel driver: vivid, the kernel's virtual video device,
// inside the QEMU guest that tests/vm/run-in-vm boots. Discovery and the support check, formats,
// streaming into the frame store, the other uncompressed formats, the picture properties over
// vivid's controls and the device vanishing while it streams.
//
// vivid's first input is a webcam that draws 75% colour bars (white, yellow, cyan, green,
// magenta, red, blue, black from left to right) with a text overlay at the top left. The
// tests run in file order in one guest; the unplug test comes last because it removes the
// device (and binds it again at the end).

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "VmTestSupport.h"
#include "capture/Camera.h"
#include "capture/CameraParameters.h"
#include "capture/CameraSystem.h"
#include "capture/FrameStore.h"
#include "contracts/CameraController.h"
#include "contracts/Image.h"
#include "device/CameraDiscovery.h"
#include "device/DeviceTable.h"
#include "device/SupportCheck.h"
#include "device/UsbDeviceSource.h"
#include "platform/UniqueFd.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr const char* kDriverDir = "/sys/bus/platform/drivers/vivid";
constexpr const char* kDeviceName = "vivid.0";
constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kBars = 8;

using vmtest::luma;
using vmtest::mustReturnWithin;
using vmtest::processCpuSeconds;
using vmtest::Rgb;
using vmtest::threadCount;
using vmtest::waitUntil;
using vmtest::writeSysfs;

// The 75% bars: each channel is either 75% of full scale or off.
constexpr double kOn = 0.75 * 255;
constexpr std::array<std::array<double, 3>, kBars> kBarColours = {{
    {kOn, kOn, kOn},  // white
    {kOn, kOn, 0},    // yellow
    {0, kOn, kOn},    // cyan
    {0, kOn, 0},      // green
    {kOn, 0, kOn},    // magenta
    {kOn, 0, 0},      // red
    {0, 0, kOn},      // blue
    {0, 0, 0},        // black
}};
constexpr const char* kBarNames[kBars] = {"white",   "yellow", "cyan", "green",
                                          "magenta", "red",    "blue", "black"};
constexpr double kTolerance = 20;

// Mean colour of the middle half of each bar, over picture rows 55%..75% from the top: well
// below vivid's text overlay. Frames are bottom-up, so picture row y is buffer row h-1-y.
std::array<Rgb, kBars> barMeans(const uint8_t* bgr, int w, int h) {
    std::array<Rgb, kBars> means{};
    for (int bar = 0; bar < kBars; ++bar) {
        const int x0 = w * bar / kBars + w / (4 * kBars);
        const int x1 = w * (bar + 1) / kBars - w / (4 * kBars);
        double sum[3] = {0, 0, 0};
        int n = 0;
        for (int y = h * 55 / 100; y < h * 75 / 100; ++y) {
            const uint8_t* row = bgr + size_t(h - 1 - y) * w * 3;
            for (int x = x0; x < x1; ++x) {
                sum[0] += row[x * 3];
                sum[1] += row[x * 3 + 1];
                sum[2] += row[x * 3 + 2];
                ++n;
            }
        }
        means[bar] = Rgb{sum[2] / n, sum[1] / n, sum[0] / n};
    }
    return means;
}

// Receives the backend's frames on its capture thread: keeps what the tests check (size,
// depth, bar colours, arrival times, the newest frame's pixels) and hands every frame on to
// the frame store as the window's frame intake does.
class RecordingSink : public FrameSink {
public:
    explicit RecordingSink(FrameStore* store = nullptr) : m_store(store) {}

    int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override {
        Frame frame;
        frame.width = width;
        frame.height = height;
        frame.bpp = bitsPerPixel;
        frame.when = Clock::now();
        if (pixels && bitsPerPixel == 24 && width > 0 && height > 0) {
            frame.bars = barMeans(pixels, width, height);
        }
        {
            std::lock_guard guard(m_mutex);
            if (pixels && bitsPerPixel == 24) {
                m_lastPixels.assign(pixels, pixels + size_t(width) * height * 3);
            }
            m_frames.push_back(frame);
        }
        if (m_store) {
            m_store->OnFrame(pixels, width, height, bitsPerPixel);
        }
        m_cv.notify_all();
        return 0;
    }

    struct Frame {
        int width = 0, height = 0, bpp = 0;
        Clock::time_point when;
        std::array<Rgb, kBars> bars{};
    };

    // Waits until count frames have arrived in all; false on timeout.
    bool waitForFrames(size_t count, std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, timeout, [&] { return m_frames.size() >= count; });
    }
    // Waits for a frame that satisfies test; false on timeout.
    bool waitForFrame(const std::function<bool(const Frame&)>& test,
                      std::chrono::milliseconds timeout) {
        std::unique_lock lock(m_mutex);
        size_t checked = 0;
        return m_cv.wait_for(lock, timeout, [&] {
            for (; checked < m_frames.size(); ++checked) {
                if (test(m_frames[checked])) {
                    return true;
                }
            }
            return false;
        });
    }
    std::vector<Frame> frames() const {
        std::lock_guard guard(m_mutex);
        return m_frames;
    }
    std::vector<uint8_t> lastPixels() const {
        std::lock_guard guard(m_mutex);
        return m_lastPixels;
    }

private:
    FrameStore* m_store;
    // Protects m_frames and m_lastPixels.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Frame> m_frames;
    std::vector<uint8_t> m_lastPixels;
};

class VividTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kDriverDir)) {
            GTEST_SKIP() << "the vivid driver is not loaded: run this binary through "
                            "tests/vm/run-in-vm";
        }
    }

    // The vivid capture camera as discovery reports it.
    static CameraId findVivid(CameraSystem& system) {
        for (const CameraId& id : CameraDiscovery(system).enumerate()) {
            if (id.cardName.startsWith(QStringLiteral("vivid"))) {
                return id;
            }
        }
        return {};
    }

    // Opens the vivid camera and selects 640x360 YUYV at the rate the backend lists for it.
    std::unique_ptr<Camera> openYuyv640x360(CameraSystem& system, CameraFormat* chosen) {
        const CameraId id = findVivid(system);
        if (!id.isValid()) {
            ADD_FAILURE() << "discovery did not find the vivid camera";
            return nullptr;
        }
        std::unique_ptr<Camera> camera = system.create(id);
        if (!camera || !camera->open()) {
            ADD_FAILURE() << "cannot open " << id.devNode.toStdString();
            return nullptr;
        }
        for (const CameraFormat& f : camera->formats()) {
            if (f.pixelFormat == PixelFormat::YUYV && f.width == kWidth && f.height == kHeight) {
                *chosen = f;
                break;
            }
        }
        if (chosen->width != kWidth || !camera->setFormat(*chosen)) {
            ADD_FAILURE() << "cannot select 640x360 YUYV";
            return nullptr;
        }
        return camera;
    }
};

TEST_F(VividTest, DiscoveryFindsOnlyTheCaptureNode) {
    CameraSystem system(false);
    CameraDiscovery discovery(system);
    const std::vector<CameraId> ids = discovery.enumerate();
    const CameraId vivid = findVivid(system);
    ASSERT_TRUE(vivid.isValid()) << "no vivid camera among " << ids.size() << " cameras";
    EXPECT_EQ(vivid.backend, CameraBackend::V4L2);
    EXPECT_TRUE(vivid.devNode.startsWith(QStringLiteral("/dev/video")));
    // vivid is a platform device, not a USB one.
    EXPECT_TRUE(vivid.usbVid.isEmpty());
    EXPECT_TRUE(vivid.usbPid.isEmpty());

    // vivid also creates video output and VBI nodes; only the video capture node is a camera.
    for (const CameraId& id : ids) {
        const int fd = ::open(id.devNode.toUtf8().constData(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd, 0) << id.devNode.toStdString();
        v4l2_capability cap{};
        ASSERT_EQ(::ioctl(fd, VIDIOC_QUERYCAP, &cap), 0);
        ::close(fd);
        const uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        EXPECT_TRUE(caps & V4L2_CAP_VIDEO_CAPTURE) << id.devNode.toStdString();
        EXPECT_TRUE(caps & V4L2_CAP_STREAMING) << id.devNode.toStdString();
    }
    int vividNodes = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/video4linux")) {
        std::FILE* f = std::fopen((entry.path() / "name").c_str(), "r");
        char name[64] = {};
        if (f && std::fgets(name, sizeof name, f)) {
            vividNodes += std::strncmp(name, "vivid", 5) == 0;
        }
        if (f) {
            std::fclose(f);
        }
    }
    EXPECT_GT(vividNodes, 1) << "vivid should have made output nodes too";
    EXPECT_EQ(std::count_if(ids.begin(), ids.end(),
                            [](const CameraId& id) {
                                return id.cardName.startsWith(QStringLiteral("vivid"));
                            }),
              1);

    // The same device found twice is the same camera.
    CameraSystem another(false);
    EXPECT_EQ(findVivid(system), findVivid(another));

    // vivid is a supported camera, the one opened (the only one), and identified by where it
    // sits and its name; the controller answers for it with no USB ids.
    EXPECT_TRUE(vivid.busInfo.startsWith(QStringLiteral("platform:vivid")))
        << vivid.busInfo.toStdString();
    UdevUsbDeviceSource usb;
    DeviceTable table;
    SupportCheck check(table, discovery, usb);
    ASSERT_EQ(check.FindSupportedCameras(), 1);
    EXPECT_TRUE(check.usbFailureKey().isEmpty()) << check.usbFailureKey().toStdString();
    EXPECT_EQ(check.cameras()[0], vivid);
    EXPECT_EQ(table.m_strCameraName[0], vivid.cardName);
    EXPECT_EQ(table.m_strCameraVid + u':' + table.m_strCameraPid, QStringLiteral("0000:0000"));
    uint16_t vid = 1;
    uint16_t pid = 1;
    EXPECT_TRUE(discovery.controller().ALC_GetPIDVID(&vid, &pid));
    EXPECT_EQ(vid, 0);
    EXPECT_EQ(pid, 0);
}

TEST_F(VividTest, FormatsListYuyvSizesOnce) {
    CameraSystem system(false);
    std::unique_ptr<Camera> camera = system.create(findVivid(system));
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->open());
    const std::vector<CameraFormat> formats = camera->formats();
    ASSERT_FALSE(formats.empty());

    std::vector<std::pair<int, int>> yuyvSizes;
    for (const CameraFormat& f : formats) {
        if (f.pixelFormat == PixelFormat::YUYV) {
            yuyvSizes.emplace_back(f.width, f.height);
        }
    }
    std::printf("vivid YUYV sizes:");
    for (const auto& [w, h] : yuyvSizes) {
        std::printf(" %dx%d", w, h);
    }
    std::printf(" (%zu formats in all)\n", formats.size());
    EXPECT_NE(std::find(yuyvSizes.begin(), yuyvSizes.end(), std::pair(kWidth, kHeight)),
              yuyvSizes.end());
    EXPECT_NE(std::find(yuyvSizes.begin(), yuyvSizes.end(), std::pair(1280, 720)), yuyvSizes.end());

    // Each (format, size) once; no MJPG entry before an uncompressed one.
    for (size_t i = 0; i < formats.size(); ++i) {
        for (size_t j = i + 1; j < formats.size(); ++j) {
            EXPECT_FALSE(formats[i].pixelFormat == formats[j].pixelFormat &&
                         formats[i].width == formats[j].width &&
                         formats[i].height == formats[j].height)
                << "entry " << i << " listed again as entry " << j;
        }
        if (i > 0) {
            EXPECT_FALSE(formats[i - 1].isMjpg() && !formats[i].isMjpg());
        }
    }
    // vivid offers every uncompressed format at every size: each size is listed once, in the
    // best of them.
    for (size_t i = 0; i < formats.size(); ++i) {
        if (formats[i].isMjpg()) {
            continue;
        }
        EXPECT_EQ(formats[i].pixelFormat, PixelFormat::YUYV) << "entry " << i;
        for (size_t j = i + 1; j < formats.size(); ++j) {
            EXPECT_FALSE(!formats[j].isMjpg() && formats[i].width == formats[j].width &&
                         formats[i].height == formats[j].height)
                << "size of entry " << i << " listed again as entry " << j;
        }
    }

    // The chosen format is what the device then reports.
    CameraFormat yuyv;
    for (const CameraFormat& f : formats) {
        if (f.pixelFormat == PixelFormat::YUYV && f.width == kWidth && f.height == kHeight) {
            yuyv = f;
        }
    }
    ASSERT_TRUE(camera->setFormat(yuyv));
    EXPECT_EQ(camera->currentFormat().pixelFormat, PixelFormat::YUYV);
    EXPECT_EQ(camera->currentFormat().width, kWidth);
    EXPECT_EQ(camera->currentFormat().height, kHeight);
    const int fd = ::open(camera->id().devNode.toUtf8().constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    ASSERT_EQ(::ioctl(fd, VIDIOC_G_FMT, &fmt), 0);
    ::close(fd);
    EXPECT_EQ(fmt.fmt.pix.pixelformat, V4L2_PIX_FMT_YUYV);
    EXPECT_EQ(fmt.fmt.pix.width, uint32_t(kWidth));
    EXPECT_EQ(fmt.fmt.pix.height, uint32_t(kHeight));
}

TEST_F(VividTest, StreamsColourBarsIntoTheFrameStore) {
    CameraSystem system(false);
    CameraFormat format;
    std::unique_ptr<Camera> camera = openYuyv640x360(system, &format);
    ASSERT_TRUE(camera);

    // The pan square centred on the frame: the middle h x h square of the picture.
    FrameStore store;
    store.updateTransform([](TransformState& t) {
        t.m_nCenterX = kWidth / 2;
        t.m_nCenterY = kHeight / 2;
    });
    RecordingSink sink(&store);

    constexpr size_t kFrames = 30;
    ASSERT_TRUE(camera->prepare());
    const Clock::time_point started = Clock::now();
    ASSERT_TRUE(camera->start(&sink));
    EXPECT_TRUE(camera->isStreaming());
    const bool arrived = sink.waitForFrames(kFrames, 60s);
    camera->stop();
    EXPECT_FALSE(camera->isStreaming());
    EXPECT_FALSE(camera->isLost());
    ASSERT_TRUE(arrived) << "only " << sink.frames().size() << " frames in 60 s";

    const std::vector<RecordingSink::Frame> frames = sink.frames();
    // After stop() returns no frame arrives any more.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(sink.frames().size(), frames.size());
    EXPECT_GE(camera->stats().framesDelivered, kFrames);

    // The rate over the whole run (from start() to the last frame) and the steady rate
    // between the first and the last frame, which leaves out starting the stream.
    const double seconds =
        std::chrono::duration<double>(frames[kFrames - 1].when - started).count();
    const double steadySeconds =
        std::chrono::duration<double>(frames[kFrames - 1].when - frames[0].when).count();
    std::printf(
        "vivid 640x360 YUYV through the V4L2 backend: %zu frames in %.2f s = %.1f fps "
        "(%.1f fps after the first frame; asked for %.1f fps)\n",
        kFrames, seconds, double(kFrames) / seconds, double(kFrames - 1) / steadySeconds,
        format.fps);

    int badFrames = 0;
    for (size_t i = 0; i < frames.size() && badFrames < 3; ++i) {
        const RecordingSink::Frame& frame = frames[i];
        ASSERT_EQ(frame.width, kWidth) << "frame " << i;
        ASSERT_EQ(frame.height, kHeight) << "frame " << i;
        ASSERT_EQ(frame.bpp, 24) << "frame " << i;
        for (int bar = 0; bar < kBars; ++bar) {
            const Rgb& got = frame.bars[bar];
            const auto& want = kBarColours[bar];
            if (std::abs(got.r - want[0]) > kTolerance || std::abs(got.g - want[1]) > kTolerance ||
                std::abs(got.b - want[2]) > kTolerance) {
                ADD_FAILURE() << "frame " << i << ": the " << kBarNames[bar] << " bar is RGB ("
                              << got.r << ", " << got.g << ", " << got.b << "), expected ("
                              << want[0] << ", " << want[1] << ", " << want[2] << ")";
                ++badFrames;
                break;
            }
        }
    }

    // The frame store kept the middle square of the last frame, its rows from the bottom up
    // to (not including) the frame's top row, black around it.
    const std::vector<uint8_t> raw = sink.lastPixels();
    ASSERT_EQ(raw.size(), size_t(kWidth) * kHeight * 3);
    Image image;
    ASSERT_TRUE(store.copyCurrentImage(image));
    ASSERT_EQ(image.GetWidth(), kWidth);
    ASSERT_EQ(image.GetHeight(), kHeight);
    ASSERT_EQ(image.GetBpp(), 24);
    const int left = (kWidth - kHeight) / 2;
    const int right = left + kHeight;
    int wrongRows = 0;
    for (int row = 0; row < kHeight; ++row) {
        const uint8_t* got = image.GetBits(row);
        const uint8_t* frameRow = raw.data() + size_t(row) * kWidth * 3;
        bool rowOk = true;
        for (int x = 0; x < kWidth && rowOk; ++x) {
            const bool inside = x >= left && x < right && row < kHeight - 1;
            for (int c = 0; c < 3; ++c) {
                const uint8_t want = inside ? frameRow[x * 3 + c] : 0;
                if (got[x * 3 + c] != want) {
                    rowOk = false;
                    ADD_FAILURE() << "frame store row " << row << " x " << x << " channel " << c
                                  << ": " << int(got[x * 3 + c]) << ", expected " << int(want);
                    break;
                }
            }
        }
        wrongRows += !rowOk;
        if (wrongRows >= 3) {
            break;
        }
    }
    // The square keeps the picture's columns in place: the green bar shows, the outer bars
    // (white, black) lie outside it.
    const std::array<Rgb, kBars> cropBars =
        barMeans(image.GetBits(0), kWidth, kHeight);  // rows are unpadded at 640 x 3 bytes
    EXPECT_GT(luma(cropBars[3]), 60);
    EXPECT_NEAR(luma(cropBars[0]), 0, 1);
    EXPECT_NEAR(luma(cropBars[7]), 0, 1);
}

// The formats cameras offer besides YUYV, as the driver lays them out: the bars come out in
// their colours, and grey for the monochrome format.
TEST_F(VividTest, ASlowConsumerGetsTheNewestBufferAndTheOlderOnesAreSkipped) {
    // Eight frame periods per frame: the driver fills several buffers meanwhile; the backend
    // takes the newest, gives the older ones back unread and counts them.
    class SlowSink : public RecordingSink {
    public:
        int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override {
            std::this_thread::sleep_for(270ms);
            return RecordingSink::OnFrame(pixels, width, height, bitsPerPixel);
        }
    };
    CameraSystem system(false);
    CameraFormat format;
    std::unique_ptr<Camera> camera = openYuyv640x360(system, &format);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->prepare());
    SlowSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(sink.waitForFrames(6, 30s));
    camera->stop();
    const CameraStats stats = camera->stats();
    std::printf("slow consumer: %llu frames delivered, %llu skipped, %llu dropped\n",
                static_cast<unsigned long long>(stats.framesDelivered),
                static_cast<unsigned long long>(stats.framesSkipped),
                static_cast<unsigned long long>(stats.framesDropped));
    EXPECT_EQ(stats.framesDelivered, sink.frames().size());
    EXPECT_GE(stats.framesSkipped, stats.framesDelivered) << "older buffers were delivered";
    EXPECT_FALSE(camera->isLost());
}

TEST_F(VividTest, OtherUncompressedFormatsStreamTheBars) {
    CameraSystem system(false);
    CameraFormat yuyv;
    std::unique_ptr<Camera> camera = openYuyv640x360(system, &yuyv);
    ASSERT_TRUE(camera);
    const std::pair<uint32_t, const char*> formats[] = {
        {PixelFormat::UYVY, "UYVY"}, {PixelFormat::NV21, "NV21"}, {PixelFormat::YV12, "YV12"},
        {PixelFormat::RGBP, "RGBP"}, {PixelFormat::GREY, "GREY"},
    };
    for (const auto& [pixelFormat, name] : formats) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(camera->setFormat({pixelFormat, kWidth, kHeight, yuyv.fps}));
        RecordingSink sink;
        ASSERT_TRUE(camera->start(&sink));
        const bool arrived = sink.waitForFrames(2, 30s);
        camera->stop();
        ASSERT_TRUE(arrived);
        EXPECT_EQ(camera->stats().framesDropped, 0u);
        const std::array<Rgb, kBars> bars = sink.frames().back().bars;
        for (int bar = 0; bar < kBars; ++bar) {
            const auto& want = kBarColours[bar];
            // vivid makes its grey from Rec. 709 luma, over the full range.
            const double grey = 0.2126 * want[0] + 0.7152 * want[1] + 0.0722 * want[2];
            const Rgb expected = pixelFormat == PixelFormat::GREY ? Rgb{grey, grey, grey}
                                                                  : Rgb{want[0], want[1], want[2]};
            EXPECT_NEAR(bars[bar].r, expected.r, kTolerance) << kBarNames[bar];
            EXPECT_NEAR(bars[bar].g, expected.g, kTolerance) << kBarNames[bar];
            EXPECT_NEAR(bars[bar].b, expected.b, kTolerance) << kBarNames[bar];
        }
    }
}

TEST_F(VividTest, BrightnessReadsBackAndBrightensThePicture) {
    CameraSystem system(false);
    CameraFormat format;
    std::unique_ptr<Camera> camera = openYuyv640x360(system, &format);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->hasProperty(CameraProperty::Brightness));

    PropertyRange range;
    ASSERT_TRUE(camera->getPropertyRange(CameraProperty::Brightness, &range));
    EXPECT_EQ(range.min, 0);
    EXPECT_EQ(range.max, 255);
    EXPECT_EQ(range.def, 128);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, range.def, kPropertyFlagsManual));

    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(sink.waitForFrames(3, 30s));
    const std::array<Rgb, kBars> before = sink.frames().back().bars;
    EXPECT_LT(luma(before[7]), kTolerance) << "the black bar at default brightness";

    long value = -1;
    long flags = 0;
    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, 200, kPropertyFlagsManual));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Brightness, &value, &flags));
    EXPECT_EQ(value, 200);
    EXPECT_EQ(flags, kPropertyFlagsManual);

    // Frames already in the driver's queue keep the old brightness; a later one is brighter.
    const bool brighter = sink.waitForFrame(
        [&](const RecordingSink::Frame& f) {
            // Every bar gains, the black one most visibly (it was at the bottom of the range).
            for (int bar = 0; bar < kBars; ++bar) {
                if (luma(f.bars[bar]) < luma(before[bar]) + (bar == 0 ? 20 : 40)) {
                    return false;
                }
            }
            return true;
        },
        30s);
    camera->stop();
    EXPECT_TRUE(brighter) << "no frame got brighter after brightness 200";

    ASSERT_TRUE(camera->setProperty(CameraProperty::Brightness, range.def, kPropertyFlagsManual));
    ASSERT_TRUE(camera->getProperty(CameraProperty::Brightness, &value, &flags));
    EXPECT_EQ(value, range.def);
}

// The device's controls as the driver holds them, read through a file descriptor of its own,
// as another program would see them.
class DriverControls {
public:
    explicit DriverControls(const QString& node)
        : m_fd(::open(node.toUtf8().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC)) {}

    bool isOpen() const { return m_fd.isValid(); }
    long get(uint32_t id) const {
        v4l2_control ctrl{};
        ctrl.id = id;
        return ::ioctl(m_fd.get(), VIDIOC_G_CTRL, &ctrl) == 0 ? ctrl.value : -9999;
    }

private:
    UniqueFd m_fd;
};

TEST_F(VividTest, PictureControlsReachTheDriverClampedToTheirRange) {
    CameraSystem system(false);
    std::unique_ptr<Camera> camera = system.create(findVivid(system));
    ASSERT_TRUE(camera && camera->open());
    DriverControls driver(camera->id().devNode);
    ASSERT_TRUE(driver.isOpen());

    struct Case {
        CameraProperty property;
        uint32_t control;
        const char* name;
        long value;
    };
    // vivid: brightness, contrast and saturation 0..255, hue -128..128, gain 0..255.
    const Case cases[] = {
        {CameraProperty::Brightness, V4L2_CID_BRIGHTNESS, "brightness", 200},
        {CameraProperty::Contrast, V4L2_CID_CONTRAST, "contrast", 90},
        {CameraProperty::Saturation, V4L2_CID_SATURATION, "saturation", 40},
        {CameraProperty::Hue, V4L2_CID_HUE, "hue", -20},
        {CameraProperty::Gain, V4L2_CID_GAIN, "gain", 60},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PropertyRange range;
        ASSERT_TRUE(camera->getPropertyRange(c.property, &range));
        long value = 0;
        long flags = 0;
        ASSERT_TRUE(camera->setProperty(c.property, c.value, kPropertyFlagsManual));
        EXPECT_EQ(driver.get(c.control), c.value);
        ASSERT_TRUE(camera->getProperty(c.property, &value, &flags));
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(flags, kPropertyFlagsManual);

        ASSERT_TRUE(camera->setProperty(c.property, range.max + 1000, kPropertyFlagsManual));
        EXPECT_EQ(driver.get(c.control), range.max);
        ASSERT_TRUE(
            camera->setProperty(c.property, range.min - 5'000'000'000L, kPropertyFlagsManual));
        EXPECT_EQ(driver.get(c.control), range.min);
        ASSERT_TRUE(camera->setProperty(c.property, range.def, kPropertyFlagsManual));
    }
    // vivid starts with autogain on.
    ASSERT_TRUE(camera->setProperty(CameraProperty::Gain, 100, kPropertyFlagsAuto));
    EXPECT_EQ(driver.get(V4L2_CID_AUTOGAIN), 1);

    // The same values through the camera parameter set, as the property dialog's Cancel and the
    // stored parameter block write them: all reach the driver, gain with autogain off.
    CameraParameters set;
    set.ReadBack(*camera);
    for (const Case& c : cases) {
        set.setValue(c.property, c.value);
    }
    set.SetExposureAuto(false);
    set.WriteToCamera(*camera);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(driver.get(c.control), c.value);
    }
    EXPECT_EQ(driver.get(V4L2_CID_AUTOGAIN), 0);
}

// vivid's gain is inactive while autogain is on: the driver framework drops writes to it then,
// and switching autogain off gives it the value the automatic loop had reached. A gain set with
// autogain on must therefore wait, and be written after the switch, not before it.
TEST_F(VividTest, GainSetWhileAutogainIsOnArrivesWhenAutogainIsSwitchedOff) {
    CameraSystem system(false);
    std::unique_ptr<Camera> camera = system.create(findVivid(system));
    ASSERT_TRUE(camera && camera->open());
    DriverControls driver(camera->id().devNode);
    ASSERT_TRUE(driver.isOpen());

    PropertyRange range;
    ASSERT_TRUE(camera->getPropertyRange(CameraProperty::Gain, &range));
    EXPECT_EQ(range.flags, kPropertyFlagsAuto | kPropertyFlagsManual);
    ASSERT_TRUE(camera->setProperty(CameraProperty::Gain, 77, kPropertyFlagsAuto));
    EXPECT_EQ(driver.get(V4L2_CID_AUTOGAIN), 1);
    long value = 0;
    long flags = 0;
    ASSERT_TRUE(camera->getProperty(CameraProperty::Gain, &value, &flags));
    EXPECT_EQ(flags, kPropertyFlagsAuto);

    ASSERT_TRUE(camera->setProperty(CameraProperty::Gain, 77, kPropertyFlagsManual));
    EXPECT_EQ(driver.get(V4L2_CID_AUTOGAIN), 0);
    EXPECT_EQ(driver.get(V4L2_CID_GAIN), 77);
    ASSERT_TRUE(camera->getProperty(CameraProperty::Gain, &value, &flags));
    EXPECT_EQ(value, 77);
    EXPECT_EQ(flags, kPropertyFlagsManual);

    ASSERT_TRUE(camera->setProperty(CameraProperty::Gain, range.def, kPropertyFlagsAuto));
}

// Runs last: removes the device while it streams, then binds it again.
TEST_F(VividTest, UnbindWhileStreamingEndsTheCaptureThread) {
    CameraSystem system(false);
    CameraFormat format;
    std::unique_ptr<Camera> camera = openYuyv640x360(system, &format);
    ASSERT_TRUE(camera);
    ASSERT_TRUE(camera->prepare());
    const int threadsBefore = threadCount();

    RecordingSink sink;
    ASSERT_TRUE(camera->start(&sink));
    ASSERT_TRUE(sink.waitForFrames(5, 30s));
    EXPECT_GT(threadCount(), threadsBefore) << "streaming runs a capture thread";

    const std::string driver = kDriverDir;
    bool unbound = false;
    mustReturnWithin(10s, "unbinding vivid",
                     [&] { unbound = writeSysfs(driver + "/unbind", kDeviceName); });
    ASSERT_TRUE(unbound) << "cannot write " << driver << "/unbind";
    ASSERT_FALSE(std::filesystem::exists(driver + "/" + kDeviceName)) << "vivid still bound";

    waitUntil(10s, [&] { return camera->isLost(); });
    ASSERT_TRUE(camera->isLost()) << "the backend did not notice the device going away";
    EXPECT_FALSE(camera->isStreaming());
    // The capture thread ends by itself, before anyone calls stop().
    waitUntil(5s, [&] { return threadCount() <= threadsBefore; });
    EXPECT_LE(threadCount(), threadsBefore) << "the capture thread is still running";

    // Nothing spins: over 2 s the process uses a small fraction of one core.
    const size_t framesAtLoss = sink.frames().size();
    const double cpuBefore = processCpuSeconds();
    std::this_thread::sleep_for(2s);
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    std::printf("after the unbind: %.3f s of CPU time in 2 s\n", cpuUsed);
    EXPECT_LT(cpuUsed, 0.3);
    EXPECT_EQ(sink.frames().size(), framesAtLoss) << "frames after the device went away";

    mustReturnWithin(5s, "stop() after the unbind", [&] { camera->stop(); });
    EXPECT_FALSE(camera->isStreaming());
    EXPECT_FALSE(camera->start(&sink)) << "a lost camera must not start again";
    mustReturnWithin(5s, "close() after the unbind", [&] { camera->close(); });
    EXPECT_FALSE(findVivid(system).isValid()) << "discovery still lists the removed camera";

    // Plugged in again, the camera is found and streams once more.
    ASSERT_TRUE(writeSysfs(driver + "/bind", kDeviceName));
    CameraId again;
    waitUntil(10s, [&] {
        again = findVivid(system);
        return again.isValid();
    });
    ASSERT_TRUE(again.isValid()) << "vivid not found after binding it again";
    std::unique_ptr<Camera> replugged = system.create(again);
    ASSERT_TRUE(replugged && replugged->open());
    RecordingSink sink2;
    ASSERT_TRUE(replugged->start(&sink2));
    EXPECT_TRUE(sink2.waitForFrames(3, 30s));
    replugged->stop();
    replugged->close();
}

}  // namespace
