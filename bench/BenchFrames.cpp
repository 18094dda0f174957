#include "BenchFrames.h"

#include <libyuv/convert_from_argb.h>

#include "capture/virtual/VirtualFrameEncoder.h"
#include "capture/virtual/VirtualScene.h"
#include "display/Overlay.h"

namespace bench {

namespace {

// Frame numbers well into the animation, so cells and particles are spread over the field.
constexpr uint64_t kFirstFrame = 300;

void ArgbToBottomUpBgr(const uint8_t* argb, int width, int height, uint8_t* out) {
    // A negative destination stride writes the top-down rows bottom-up.
    libyuv::ARGBToRGB24(argb, width * 4, out + size_t(height - 1) * size_t(width) * 3, -width * 3,
                        width, height);
}

}  // namespace

std::vector<BgrFrame> RenderBgrFrames(int width, int height, int count) {
    VirtualScene scene;
    scene.setSize(width, height);
    std::vector<BgrFrame> frames(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        BgrFrame& f = frames[size_t(i)];
        f.width = width;
        f.height = height;
        f.pixels.resize(size_t(width) * 3 * size_t(height));
        ArgbToBottomUpBgr(scene.render(kFirstFrame + uint64_t(i)), width, height, f.pixels.data());
    }
    return frames;
}

std::vector<std::vector<uint8_t>> EncodeSceneFrames(uint32_t pixelFormat, int width, int height,
                                                    int count) {
    VirtualScene scene;
    scene.setSize(width, height);
    VirtualFrameEncoder encoder;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < count; ++i) {
        if (!encoder.encode(pixelFormat, scene.render(kFirstFrame + uint64_t(i)), width, height)) {
            return {};
        }
        frames.emplace_back(encoder.data(), encoder.data() + encoder.size());
    }
    return frames;
}

std::vector<Image> SceneImages(int width, int height, int count) {
    VirtualScene scene;
    scene.setSize(width, height);
    std::vector<uint8_t> bgr(size_t(width) * 3 * size_t(height));
    std::vector<Image> images(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        ArgbToBottomUpBgr(scene.render(kFirstFrame + uint64_t(i)), width, height, bgr.data());
        images[size_t(i)].CreateFromArray(bgr.data(), width, height, 24, width * 3, false);
    }
    return images;
}

std::vector<Image> ComposedSceneImages(int width, int height, int count) {
    std::vector<Image> images = SceneImages(width, height, count);
    const auto overlay = PreparedOverlay::Build(OverlaySettings{}, width, height);
    for (Image& image : images) {
        overlay->BlendInto(image);
    }
    return images;
}

}  // namespace bench
