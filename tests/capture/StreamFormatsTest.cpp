// Resolution lists and the stream choice, and the capture graph's stages over the virtual
// camera.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "capture/CameraSystem.h"
#include "capture/CaptureGraph.h"
#include "capture/StreamFormats.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "device/CameraDiscovery.h"

namespace {

CameraFormat Yuyv(int w, int h) {
    return {PixelFormat::YUYV, w, h, 30};
}
CameraFormat Mjpg(int w, int h) {
    return {PixelFormat::MJPG, w, h, 30};
}

StreamFormats TenCapabilities() {
    StreamFormats formats;
    formats.setCapabilities({Yuyv(640, 480), Yuyv(800, 600), Yuyv(1280, 720), Yuyv(1600, 1200),
                             Yuyv(1920, 1080), Mjpg(640, 480), Mjpg(800, 600), Mjpg(1280, 720),
                             Mjpg(1600, 1200), Mjpg(1920, 1080)});
    return formats;
}

}  // namespace

TEST(StreamFormats, ListsCarryTheirTextsAndPlaces) {
    StreamFormats formats = TenCapabilities();
    const auto yuv = formats.yuvList();
    const auto mjpg = formats.mjpgList();
    ASSERT_EQ(yuv.size(), 5u);
    ASSERT_EQ(mjpg.size(), 5u);
    EXPECT_EQ(yuv[0].index, 0);
    EXPECT_EQ(yuv[4].index, 4);
    EXPECT_EQ(yuv[2].text, QStringLiteral("1280 X 720"));
    EXPECT_EQ(mjpg[0].index, 0);
    EXPECT_TRUE(mjpg[3].format.isMjpg());
    EXPECT_EQ(mjpg[3].format.width, 1600);
}

TEST(StreamFormats, EntryKOfAListAppliesThatListsEntryK) {
    StreamFormats formats = TenCapabilities();
    EXPECT_EQ(formats.formatAt(false, 3), Yuyv(1600, 1200));
    EXPECT_EQ(formats.formatAt(true, 1), Mjpg(800, 600));
    EXPECT_FALSE(formats.formatAt(false, 5).has_value());  // past the list
    EXPECT_FALSE(formats.formatAt(false, -1).has_value());
}

TEST(StreamFormats, NormalModeShowsTheListTheStoredChoiceSelects) {
    StreamFormats formats = TenCapabilities();
    EXPECT_EQ(formats.flatList().size(), 5u);
    EXPECT_FALSE(formats.flatList()[0].format.isMjpg());
    formats.m_bMjpgSelected = true;
    const auto flat = formats.flatList();
    ASSERT_EQ(flat.size(), 5u);
    EXPECT_TRUE(flat[0].format.isMjpg());
    EXPECT_EQ(flat[0].index, 0);
}

TEST(StreamFormats, StoredChoiceSelectsItsEntryAndAnIndexPastTheEndNothing) {
    StreamFormats formats = TenCapabilities();
    formats.m_bMjpgSelected = true;
    formats.m_nResolutionIndex = 2;
    EXPECT_EQ(formats.selectedFormat(), Mjpg(1280, 720));
    formats.m_nResolutionIndex = 9;
    EXPECT_FALSE(formats.selectedFormat().has_value());
}

TEST(StreamFormats, WidthZeroGivesNoEntryAndEveryListedEntryApplies) {
    StreamFormats formats;
    std::vector<CameraFormat> caps{Yuyv(0, 0)};
    for (int i = 0; i < 12; ++i) {
        caps.push_back(Yuyv(160 + 16 * i, 120));
    }
    formats.setCapabilities(caps);
    const auto yuv = formats.yuvList();
    ASSERT_EQ(yuv.size(), 12u);
    EXPECT_EQ(yuv[0].format.width, 160);
    // A ninth entry applies its format like the first eight.
    EXPECT_EQ(formats.formatAt(false, 8), Yuyv(160 + 16 * 8, 120));
}

namespace {

class CountingSink final : public FrameSink, public StillSink {
public:
    int OnFrame(const uint8_t*, int width, int, int) override {
        lastWidth = width;
        ++frames;
        return 0;
    }
    void OnStillButton() override { ++presses; }
    std::atomic<int> frames{0};
    std::atomic<int> presses{0};
    std::atomic<int> lastWidth{0};
};

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

}  // namespace

TEST(CaptureGraph, StagesFollowTheirOrderOverTheVirtualCamera) {
    CameraSystem cameras(true);
    CountingSink sink;
    CaptureGraph graph(cameras, sink, sink);
    EXPECT_FALSE(graph.render());
    EXPECT_FALSE(graph.run());

    const auto found = CameraDiscovery(cameras).enumerate();
    ASSERT_EQ(found.size(), 1u);
    ASSERT_TRUE(graph.build(found[0]));
    EXPECT_EQ(graph.state(), CaptureGraph::State::Built);
    EXPECT_FALSE(graph.run());  // not rendered yet
    ASSERT_TRUE(graph.render());
    ASSERT_TRUE(graph.run());
    EXPECT_EQ(graph.state(), CaptureGraph::State::Running);
    EXPECT_TRUE(WaitFor([&] { return sink.frames >= 5; }, std::chrono::seconds(5)));

    EXPECT_TRUE(graph.stop());
    EXPECT_FALSE(graph.stop());
    const int stopped = sink.frames;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sink.frames, stopped);  // nothing is delivered after stop()

    // A format change goes back to built, keeps the camera, and streams the new size.
    graph.tearDown();
    EXPECT_EQ(graph.state(), CaptureGraph::State::Built);
    ASSERT_TRUE(graph.source()->setFormat(Mjpg(1280, 720)));
    ASSERT_TRUE(graph.render());
    ASSERT_TRUE(graph.run());
    EXPECT_TRUE(WaitFor([&] { return sink.lastWidth == 1280; }, std::chrono::seconds(5)));

    graph.free();
    EXPECT_EQ(graph.state(), CaptureGraph::State::None);
    EXPECT_EQ(graph.source(), nullptr);
}

TEST(CaptureGraph, AnUnpluggedCameraFailsToBuildWithTheOpenKey) {
    CameraSystem cameras(true);
    CountingSink sink;
    CaptureGraph graph(cameras, sink, sink);
    const CameraId camera = CameraDiscovery(cameras).enumerate().at(0);
    cameras.virtualDevice()->unplug();
    EXPECT_FALSE(graph.build(camera));
    EXPECT_EQ(graph.failureKey(), QStringLiteral("NOOPENSOURCE"));
    EXPECT_EQ(graph.state(), CaptureGraph::State::None);
}

TEST(CaptureGraph, LongNamesAreCutTo119Characters) {
    CameraSystem cameras(true);
    CountingSink sink;
    CaptureGraph graph(cameras, sink, sink);
    CameraId camera = CameraDiscovery(cameras).enumerate().at(0);
    camera.cardName = QString(130, QLatin1Char('n'));
    ASSERT_TRUE(graph.build(camera));
    EXPECT_EQ(graph.deviceName().size(), 119);
}
