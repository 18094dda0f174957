#pragma once

#include <cstdint>
#include <vector>

#include "contracts/Image.h"

// Frames with real content for the benchmarks: pictures of the virtual camera's scene (field
// of view, grid, moving cells, counter), in the layouts the frame path sees them.
namespace bench {

// One rendered frame as the frame store receives it: 24-bit BGR, rows bottom-up, width * 3
// bytes apart.
struct BgrFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;
};

// `count` consecutive frames of the scene at width x height (the cells move between them).
std::vector<BgrFrame> RenderBgrFrames(int width, int height, int count);

// The bytes the virtual sensor sends for a scene frame in pixelFormat (YUYV or MJPG), made by
// the virtual camera's own encoder.
std::vector<uint8_t> EncodeSceneFrame(uint32_t pixelFormat, int width, int height,
                                      uint64_t frameNumber);

// A scene frame as an Image (what the frame store publishes as the current image).
Image SceneImage(int width, int height, uint64_t frameNumber);

// A composed frame: the scene with the overlay of the default settings (edge mask and
// crosshair) laid over it, as the display worker leaves it in the frame store.
Image ComposedSceneImage(int width, int height, uint64_t frameNumber);

}  // namespace bench
