// The virtual camera through the whole frame path, as the window wires it: CameraSystem with
// the virtual camera -> CaptureGraph (built, rendered, running MJPG at 30 fps at 1920x1080 or
// 3840x2160) -> FrameIntake -> FrameStore::OnFrame -> DisplayWorker composing every frame with
// the edge mask and crosshair on, the overlay built at the frame's size and the pan at the
// frame's centre. The worker has no widget: frames are composed into the frame store's
// composed image (what snapshots and recordings take) but not painted.
//
// One run streams for 10 s after a 1 s warm-up and reports, for <size> 1080p or 4k:
//   virtual_<size>30_fps      frames composed per second;
//   virtual_<size>30_cpu_pct  CPU time of the whole process (every thread) over the run, as a
//                             percentage of one core;
//   latency_<size>_ms         median time from a frame's capture time stamp to its composed
//                             image. The stamp is taken when the capture thread hands the
//                             decoded frame to frame intake (the point where a V4L2 backend has
//                             the driver's buffer decoded); the virtual sensor's render, JPEG
//                             encode and decode come before it;
//   virtual_<size>30_dropped  frames the camera reported dropped during the run (its
//                             framesDropped counter);
//   virtual_<size>30_skipped  frames the capture thread had no time for and skipped for a
//                             newer one (the camera's framesSkipped counter);
//   virtual_<size>30_camera_fps  frames the camera delivered to frame intake per second: below
//                             30, its capture thread (render, encode, decode and frame intake,
//                             which runs on it) fell behind; above the composed rate, frames
//                             were skipped before composing.
// A run that does not stream, or in which the frame store makes new buffers although the frame
// size stays, ends with an error instead of figures.
#include <benchmark/benchmark.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/CameraSystem.h"
#include "capture/CaptureGraph.h"
#include "capture/FrameIntake.h"
#include "capture/FrameStore.h"
#include "device/CameraDiscovery.h"
#include "display/DisplayWorker.h"
#include "display/Overlay.h"

namespace {

using Clock = std::chrono::steady_clock;

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Stamps every frame on the capture thread before it enters frame intake.
class StampingSink final : public FrameSink {
public:
    explicit StampingSink(FrameIntake& intake) : m_intake(intake) {}
    int OnFrame(const uint8_t* pixels, int width, int height, int bitsPerPixel) override {
        stamp = Clock::now();  // capture thread only
        return m_intake.OnFrame(pixels, width, height, bitsPerPixel);
    }
    Clock::time_point stamp;

private:
    FrameIntake& m_intake;
};

struct RunResult {
    double fps = 0;
    double cpuPercent = 0;
    double latencyMs = 0;
    double cameraFps = 0;
    double dropped = 0;
    double skipped = 0;
    bool ok = false;
    bool reallocated = false;  // the frame store made new buffers for frames of the same size
};

RunResult StreamVirtualCamera(int width, int height, std::chrono::seconds duration) {
    RunResult result;
    CameraSystem cameras(true);
    FrameStore store;
    Overlay overlay;
    overlay.setSettings(OverlaySettings{});  // edge mask and crosshair on
    overlay.BuildOverlay(width, height);
    TransformState t = store.transform();
    t.m_nCenterX = width / 2;  // pan 0: the centre of the frame
    t.m_nCenterY = height / 2;
    store.setTransform(t);
    DisplayWorker display(store, overlay, nullptr);
    FrameIntake intake(store);
    StampingSink sink(intake);

    // Guarded by the frame lock: the stamp of the current image, and of the frame the worker
    // took. Latencies belong to the worker thread.
    Clock::time_point publishedStamp;
    Clock::time_point takenStamp;
    std::vector<double> latencies;
    latencies.reserve(size_t(duration.count() + 5) * 60);
    std::mutex latencyLock;  // guards latencies and measuring
    bool measuring = false;

    store.onFramePublished = [&] {
        publishedStamp = sink.stamp;
        display.notifyFrame();
    };
    display.onFrameTaken = [&] { takenStamp = publishedStamp; };
    display.onComposed = [&] {
        const double ms =
            std::chrono::duration<double, std::milli>(Clock::now() - takenStamp).count();
        std::lock_guard guard(latencyLock);
        if (measuring && latencies.size() < latencies.capacity()) {
            latencies.push_back(ms);
        }
    };

    CaptureGraph graph(cameras, sink, intake.cameraButton());
    const auto found = CameraDiscovery(cameras).enumerate();
    if (found.empty() || !graph.build(found[0]) ||
        !graph.source()->setFormat(CameraFormat{PixelFormat::MJPG, width, height, 30.0}) ||
        !graph.render() || !graph.run()) {
        return result;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // buffers sized, caches warm

    {
        std::lock_guard guard(latencyLock);
        measuring = true;
    }
    Camera& camera = *graph.source();
    const CameraStats stats0 = camera.stats();
    const int reallocations0 = store.reallocationCount();
    const int composed0 = display.composedCount();
    const double cpu0 = ProcessCpuSeconds();
    const auto wall0 = Clock::now();
    std::this_thread::sleep_for(duration);
    const CameraStats stats1 = camera.stats();
    const int composed1 = display.composedCount();
    const int reallocations1 = store.reallocationCount();
    const double cpu1 = ProcessCpuSeconds();
    const auto wall1 = Clock::now();
    {
        std::lock_guard guard(latencyLock);
        measuring = false;
    }

    graph.free();
    display.stop();
    store.onFramePublished = nullptr;

    const double seconds = std::chrono::duration<double>(wall1 - wall0).count();
    result.fps = double(composed1 - composed0) / seconds;
    result.cameraFps = double(stats1.framesDelivered - stats0.framesDelivered) / seconds;
    result.dropped = double(stats1.framesDropped - stats0.framesDropped);
    result.skipped = double(stats1.framesSkipped - stats0.framesSkipped);
    result.cpuPercent = 100.0 * (cpu1 - cpu0) / seconds;
    if (!latencies.empty()) {
        std::sort(latencies.begin(), latencies.end());
        result.latencyMs = latencies[latencies.size() / 2];
    }
    result.ok = composed1 > composed0;
    result.reallocated = reallocations1 != reallocations0;
    return result;
}

// Counter names carry the size's short name ("1080p", "4k").
void StreamAtSize(benchmark::State& state, int width, int height, const std::string& name) {
    RunResult r;
    for (auto _ : state) {
        r = StreamVirtualCamera(width, height, std::chrono::seconds(state.range(0)));
        if (!r.ok) {
            state.SkipWithError("the virtual camera did not stream through the frame path");
            return;
        }
        if (r.reallocated) {
            state.SkipWithError("the frame store reallocated while the frame size stayed");
            return;
        }
    }
    state.counters["virtual_" + name + "30_fps"] = r.fps;
    state.counters["virtual_" + name + "30_cpu_pct"] = r.cpuPercent;
    state.counters["latency_" + name + "_ms"] = r.latencyMs;
    state.counters["virtual_" + name + "30_dropped"] = r.dropped;
    state.counters["virtual_" + name + "30_skipped"] = r.skipped;
    state.counters["virtual_" + name + "30_camera_fps"] = r.cameraFps;
}

}  // namespace

// Seconds of streaming per run: 10 (the figures' definition); pass a filter and
// --benchmark_repetitions on the command line as for any benchmark.
BENCHMARK_CAPTURE(StreamAtSize, 1080p, 1920, 1080, std::string("1080p"))
    ->Name("virtual_1080p30")
    ->Arg(10)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(StreamAtSize, 4k, 3840, 2160, std::string("4k"))
    ->Name("virtual_4k30")
    ->Arg(10)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
