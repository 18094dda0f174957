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

// The bytes the virtual sensor sends for `count` consecutive scene frames in pixelFormat (YUYV
// or MJPG), made by the virtual camera's own encoder. Empty when the encoder fails.
std::vector<std::vector<uint8_t>> EncodeSceneFrames(uint32_t pixelFormat, int width, int height,
                                                    int count);

// `count` consecutive scene frames as Images (what the frame store publishes as the current
// image).
std::vector<Image> SceneImages(int width, int height, int count);

// The same frames composed: the overlay of the default settings (edge mask and crosshair) laid
// over them, as the display worker leaves them in the frame store.
std::vector<Image> ComposedSceneImages(int width, int height, int count);

}  // namespace bench
