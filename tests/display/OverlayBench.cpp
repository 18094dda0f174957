// Cost of laying the overlay over a 1080p frame: the prepared run blend against a test of
// every overlay pixel, and the overlay rebuild. Run by hand in a release build:
//   cmake -DTAVREL_BUILD_BENCH=ON ... && display_overlay_bench
#include <chrono>
#include <cstdio>
#include <cstring>

#include "contracts/Image.h"
#include "display/Overlay.h"

namespace {

template <typename F>
double MillisecondsPerRun(int runs, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        f();
    }
    const std::chrono::duration<double, std::milli> spent =
        std::chrono::steady_clock::now() - start;
    return spent.count() / runs;
}

}  // namespace

int main() {
    const int w = 1920;
    const int h = 1080;
    OverlaySettings settings;  // mask 0.5 and crosshair 0.25, both on
    const auto prepared = PreparedOverlay::Build(settings, w, h);
    const Image& canvas = prepared->canvas();
    Image frame;
    frame.Create(w, h, 24);
    frame.Clear(0x80);

    const double runs = MillisecondsPerRun(500, [&] { prepared->BlendInto(frame); });
    const double perPixel = MillisecondsPerRun(50, [&] {
        for (int y = 0; y < h; ++y) {
            const uint8_t* src = canvas.GetBits(y);
            uint8_t* dst = frame.GetBits(y);
            for (int x = 0; x < w * 3; x += 3) {
                if (src[x] != 255 || src[x + 1] != 255 || src[x + 2] != 255) {
                    std::memcpy(dst + x, src + x, 3);
                }
            }
        }
    });
    const double rebuild = MillisecondsPerRun(10, [&] { PreparedOverlay::Build(settings, w, h); });
    std::printf("1920x1080, mask and crosshair on, %zu runs\n", prepared->runCount());
    std::printf("prepared run blend:   %.3f ms per frame\n", runs);
    std::printf("per-pixel test blend: %.3f ms per frame\n", perPixel);
    std::printf("overlay rebuild:      %.3f ms\n", rebuild);
    return 0;
}
