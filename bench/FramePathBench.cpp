// Single-step figures of the frame path and the outputs, each on frames of the virtual camera's
// scene: frame intake (pan square, digital zoom, mirrors), the compose step of the display
// worker (overlay over the frame), the decoders, the snapshot JPEG and one MPEG-1 frame.
// Every benchmark is named after the figure scripts/bench prints; times are per frame.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchFrames.h"
#include "capture/Camera.h"
#include "capture/FrameDecoder.h"
#include "capture/FrameStore.h"
#include "capture/ImageResize.h"
#include "capture/virtual/VirtualFrameEncoder.h"
#include "capture/virtual/VirtualScene.h"
#include "contracts/Image.h"
#include "display/Overlay.h"
#include "output/MpegWriter.h"
#include "output/Snapshot.h"

extern "C" {
#include <libavutil/log.h>
}

namespace {

constexpr int kFrames = 4;  // frames cycled through, so no step sees the same picture twice

// A scratch folder for the files the output benchmarks write, removed at exit.
const std::string& ScratchDir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/tavrel-bench-XXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

// Google Benchmark runs a benchmark function several times: to find the iteration count, then
// once per repetition. The frames a benchmark works on are made on its first run and kept for
// the runs that follow. Only the last benchmark's set is kept (the next one's replaces it), so
// 4K inputs do not pile up; each benchmark asks for one set, under a key that names its kind
// and size.
class KeptInputs {
public:
    template <typename T, typename Make>
    const T& get(const std::string& key, Make make) {
        if (!m_value || m_key != key) {
            m_value.reset();  // the previous set goes before the next is made
            m_value = std::make_shared<T>(make());
            m_key = key;
        }
        return *static_cast<const T*>(m_value.get());
    }

private:
    std::string m_key;
    std::shared_ptr<void> m_value;
};

std::string SizeKey(const char* what, int width, int height) {
    return std::string(what) + std::to_string(width) + "x" + std::to_string(height);
}

// Frame intake: OnFrame on the frame store with the window's transform for pan 0 (centre of
// the frame), view zoom 1, digital zoom `zoom`, both mirrors when `mirror`, the scaler running
// `path`.
void Intake(benchmark::State& state, KeptInputs* inputs, int width, int height, float zoom,
            bool mirror, ScalerPath path) {
    const auto& frames = inputs->get<std::vector<bench::BgrFrame>>(
        SizeKey("bgr", width, height),
        [&] { return bench::RenderBgrFrames(width, height, kFrames); });
    FrameStore store(path);
    TransformState t = store.transform();
    t.m_fZoom = zoom;
    t.m_bHMirror = mirror;
    t.m_bVMirror = mirror;
    t.m_nCenterX = width / 2;
    t.m_nCenterY = height / 2;
    t.m_nVideoWidth = width;
    t.m_nVideoHeight = height;
    store.setTransform(t);
    store.setVideoSize(width, height);
    store.OnFrame(frames[0].pixels.data(), width, height, 24);  // sizes the buffers
    size_t i = 0;
    for (auto _ : state) {
        store.OnFrame(frames[i++ % kFrames].pixels.data(), width, height, 24);
    }
    if (store.reallocationCount() != 1) {
        state.SkipWithError("the frame store reallocated on a frame of unchanged size");
    }
}

// The display worker's shrink of a composed frame to the preview's size: the scaler alone,
// rows read bottom-up and written top-down (the vertical mirror), on the scaler running `path`.
void Shrink(benchmark::State& state, KeptInputs* inputs, int width, int height, int outWidth,
            int outHeight, ScalerPath path) {
    const auto& frames = inputs->get<std::vector<bench::BgrFrame>>(
        SizeKey("bgr", width, height),
        [&] { return bench::RenderBgrFrames(width, height, kFrames); });
    BilinearScaler24 scaler(path);
    if (scaler.path() != path) {
        state.SkipWithError("the scaler does not run the path asked for");
        return;
    }
    std::vector<uint8_t> out(size_t(outWidth) * 3 * size_t(outHeight));
    size_t i = 0;
    for (auto _ : state) {
        if (!scaler.scale(frames[i++ % kFrames].pixels.data(), width * 3, width, height, out.data(),
                          outWidth * 3, outWidth, outHeight, false, true)) {
            state.SkipWithError("scale failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
}

// The display worker's compose step: the current image copied out of the frame store with the
// prepared overlay (edge mask and crosshair, the default settings) laid over it, in the one
// pass the worker makes. Like the worker, it composes into two images in turn; each still holds
// the marks from two frames before, so only the picture between them is copied.
void Compose(benchmark::State& state, KeptInputs* inputs, int width, int height) {
    const auto& current = inputs->get<std::vector<Image>>(SizeKey("scene", width, height), [&] {
        return bench::SceneImages(width, height, kFrames);
    });
    OverlaySettings settings;  // mask 0.5 and crosshair 0.25, both on
    const auto overlay = PreparedOverlay::Build(settings, width, height);
    Image work[2];
    bool marked[2] = {false, false};
    size_t i = 0;
    for (auto _ : state) {
        const size_t k = i % 2;
        if (!overlay->ComposeInto(current[i % kFrames], work[k], marked[k])) {
            state.SkipWithError("ComposeInto failed");
            break;
        }
        marked[k] = true;
        benchmark::DoNotOptimize(work[k].GetBits());
        ++i;
    }
}

void Decode(benchmark::State& state, KeptInputs* inputs, uint32_t pixelFormat, int w, int h) {
    const auto& raw = inputs->get<std::vector<std::vector<uint8_t>>>(
        SizeKey(pixelFormat == PixelFormat::MJPG ? "mjpg" : "yuyv", w, h),
        [&] { return bench::EncodeSceneFrames(pixelFormat, w, h, kFrames); });
    FrameDecoder decoder;
    // The first decode sizes the decoder's buffers; frames of a stream find them made.
    if (raw.empty() || !decoder.decode(pixelFormat, w, h, raw[0].data(), raw[0].size())) {
        state.SkipWithError("decode failed");
        return;
    }
    size_t i = 1;
    for (auto _ : state) {
        const auto& data = raw[i++ % kFrames];
        if (!decoder.decode(pixelFormat, w, h, data.data(), data.size())) {
            state.SkipWithError("decode failed");
            break;
        }
    }
}

// The snapshot as the window takes it: the composed frame copied out of the frame store under
// the frame lock, then a JPEG of quality 90 written into the save folder. The time stamp is
// fixed, so every run replaces the same file.
void Snapshot(benchmark::State& state, KeptInputs* inputs) {
    // Copies: the exchanges below move the pictures between this list and the store.
    std::vector<Image> composed = inputs->get<std::vector<Image>>(
        "composed1920x1080", [] { return bench::ComposedSceneImages(1920, 1080, kFrames + 1); });
    Image first = std::move(composed.back());
    composed.pop_back();
    const QString folder = QString::fromStdString(ScratchDir() + "/");
    const QDateTime when(QDate(2026, 1, 2), QTime(3, 4, 5, 6));
    // A snapshot needs a current image. The composed frames are handed in as the display
    // worker does, by exchange, which gives back the one handed in before: the store starts
    // with a frame of its own so that every exchange gives back a picture.
    FrameStore store;
    const std::vector<uint8_t> frame(size_t(64) * 48 * 3);
    store.OnFrame(frame.data(), 64, 48, 24);
    store.exchangeComposedImage(first);
    size_t i = 0;
    for (auto _ : state) {
        store.exchangeComposedImage(composed[i++ % kFrames]);
        const SnapshotResult r = TakeSnapshot(folder, when, store);
        if (!r.written) {
            state.SkipWithError("TakeSnapshot wrote no file");
            break;
        }
        // Snapshots never replace a file: without this, every run would take a name further
        // along ("-2", "-3", …) and time the search for a free one.
        std::remove(r.fileName.toStdString().c_str());
    }
}

// One recorded frame: the composed frame copied into the RGB picture, converted, encoded and
// written by the muxer, with the recorder's settings (format from the ".mpeg" name, 24 fps,
// 6 Mbit/s). Every frame of the animation differs, so the encoder sees motion.
void EncodeMpeg1(benchmark::State& state, KeptInputs* inputs) {
    const int w = 1920;
    const int h = 1080;
    constexpr int kMotionFrames = 24;
    const auto& composed = inputs->get<std::vector<Image>>(
        "motion1920x1080", [] { return bench::ComposedSceneImages(w, h, kMotionFrames); });
    const std::string path = ScratchDir() + "/record.mpeg";
    MpegWriter writer;
    writer.nKind = 7;
    writer.nWidth = w;
    writer.nHeight = h;
    writer.fFrameRate = 24.0f;
    writer.fBitRate = 6000000.0f;
    if (!OpenMpegWriter(writer, path.c_str())) {
        state.SkipWithError("OpenMpegWriter failed");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        const Image& frame = composed[i++ % kMotionFrames];
        CopyFrameToRgb(24, writer.pRgbPicture, w, h, frame.GetBits());
        if (!WriteVideoFrame(writer.pFormatContext, writer.pVideoStream, writer)) {
            state.SkipWithError("WriteVideoFrame failed");
            break;
        }
    }
    CloseMpegWriter(writer);
    std::remove(path.c_str());
}

// The overlay's alternatives, kept to show why the blend works on prepared runs: a test of
// every overlay pixel, and the rebuild that a settings change costs.
void OverlayPerPixelBlend(benchmark::State& state) {
    const int w = 1920;
    const int h = 1080;
    const auto overlay = PreparedOverlay::Build(OverlaySettings{}, w, h);
    const Image& canvas = overlay->canvas();
    Image frame = bench::SceneImages(w, h, 1)[0];
    for (auto _ : state) {
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = canvas.GetBits(y);
            uint8_t* dst = frame.GetBits(y);
            for (int x = 0; x < w * 3; x += 3) {
                if (src[x] != 255 || src[x + 1] != 255 || src[x + 2] != 255) {
                    std::memcpy(dst + x, src + x, 3);
                }
            }
        }
        benchmark::DoNotOptimize(frame.GetBits());
    }
}

void OverlayRebuild(benchmark::State& state) {
    for (auto _ : state) {
        auto overlay = PreparedOverlay::Build(OverlaySettings{}, 1920, 1080);
        benchmark::DoNotOptimize(overlay.get());
    }
}

// Every benchmark reports wall time and the CPU time of the whole process (the MPEG-1
// encoder runs slice threads); on a shared machine the CPU time is the steadier figure.
template <typename... Args>
void Add(const char* name, void (*fn)(benchmark::State&, Args...), Args... args) {
    benchmark::RegisterBenchmark(name, fn, args...)
        ->Unit(benchmark::kMillisecond)
        ->MeasureProcessCPUTime()
        ->UseRealTime();
}

// The virtual camera's own work per frame, which a real camera does in its hardware: drawing
// the scene and encoding it as the JPEG the sensor sends. Shown to split the end-to-end CPU.
void VirtualRender(benchmark::State& state, int w, int h) {
    VirtualScene scene;
    scene.setSize(w, h);
    uint64_t frame = 300;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scene.render(frame++));
    }
}

// Consecutive frames, as the camera sends them: the encoder codes again only the blocks that
// changed since the frame before (the jump back after the last frame costs a little more).
void VirtualEncodeMjpg(benchmark::State& state, KeptInputs* inputs, int w, int h) {
    constexpr int kSequence = 16;
    const auto& argb = inputs->get<std::vector<std::vector<uint8_t>>>(SizeKey("argb", w, h), [&] {
        VirtualScene scene;
        scene.setSize(w, h);
        std::vector<std::vector<uint8_t>> frames;
        for (int i = 0; i < kSequence; ++i) {
            const uint8_t* p = scene.render(300 + uint64_t(i));
            frames.emplace_back(p, p + size_t(scene.stride()) * size_t(h));
        }
        return frames;
    });
    VirtualFrameEncoder encoder;
    // A streaming camera's encoder has the frame before: the first frame, coded in full, is
    // not part of the figure.
    if (!encoder.encode(PixelFormat::MJPG, argb[kSequence - 1].data(), w, h)) {
        state.SkipWithError("encode failed");
        return;
    }
    size_t i = 0;
    for (auto _ : state) {
        if (!encoder.encode(PixelFormat::MJPG, argb[i++ % kSequence].data(), w, h)) {
            state.SkipWithError("encode failed");
            break;
        }
    }
}

void Register(KeptInputs* inputs) {
    const ScalerPath best = bestPath();
    Add("intake_1080p_zoom1_ms", Intake, inputs, 1920, 1080, 1.0f, false, best);
    Add("intake_1080p_zoom2_mirror_ms", Intake, inputs, 1920, 1080, 2.0f, true, best);
    Add("intake_4k_zoom2_mirror_ms", Intake, inputs, 3840, 2160, 2.0f, true, best);
    // The zoomed intake on each scaler path this machine runs; intake_1080p_zoom2_mirror_ms
    // above runs the fastest of them.
    for (ScalerPath path : {ScalerPath::Portable, ScalerPath::Ssse3, ScalerPath::Avx2}) {
        if (canRun(path)) {
            const std::string name =
                std::string("intake_1080p_zoom2_mirror_") + scalerPathName(path) + "_ms";
            Add(name.c_str(), Intake, inputs, 1920, 1080, 2.0f, true, path);
        }
    }
    // Shrinking to the preview: 1.1:1 (the paint bench's window), 2.2:1, 3:1 and 4:1, on the
    // fastest path, and the 1080p shrink on each path this machine runs.
    Add("shrink_1080p_to_1728_ms", Shrink, inputs, 1920, 1080, 1728, 972, best);
    Add("shrink_4k_to_1728_ms", Shrink, inputs, 3840, 2160, 1728, 972, best);
    Add("shrink_4k_to_1280_ms", Shrink, inputs, 3840, 2160, 1280, 720, best);
    Add("shrink_4k_to_960_ms", Shrink, inputs, 3840, 2160, 960, 540, best);
    for (ScalerPath path : {ScalerPath::Portable, ScalerPath::Ssse3, ScalerPath::Avx2}) {
        if (canRun(path)) {
            const std::string name =
                std::string("shrink_1080p_to_1728_") + scalerPathName(path) + "_ms";
            Add(name.c_str(), Shrink, inputs, 1920, 1080, 1728, 972, path);
        }
    }
    Add("compose_1080p_ms", Compose, inputs, 1920, 1080);
    Add("compose_4k_ms", Compose, inputs, 3840, 2160);
    Add("decode_mjpg_1080p_ms", Decode, inputs, PixelFormat::MJPG, 1920, 1080);
    Add("decode_mjpg_4k_ms", Decode, inputs, PixelFormat::MJPG, 3840, 2160);
    Add("decode_yuyv_1080p_ms", Decode, inputs, PixelFormat::YUYV, 1920, 1080);
    Add("snapshot_1080p_ms", Snapshot, inputs);
    Add("encode_mpeg1_1080p_ms", EncodeMpeg1, inputs);
    Add("overlay_perpixel_blend_1080p_ms", OverlayPerPixelBlend);
    Add("overlay_rebuild_1080p_ms", OverlayRebuild);
    Add("virtual_render_1080p_ms", VirtualRender, 1920, 1080);
    Add("virtual_encode_mjpg_1080p_ms", VirtualEncodeMjpg, inputs, 1920, 1080);
    Add("virtual_render_4k_ms", VirtualRender, 3840, 2160);
    Add("virtual_encode_mjpg_4k_ms", VirtualEncodeMjpg, inputs, 3840, 2160);
}

}  // namespace

int main(int argc, char** argv) {
    av_log_set_level(AV_LOG_ERROR);  // the muxer's notes on the VBV buffer are not results
    KeptInputs inputs;
    Register(&inputs);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rmdir(ScratchDir().c_str());
    return 0;
}
