#pragma once

#include <turbojpeg.h>

#include <cstdint>
#include <memory>
#include <vector>

// The emulated camera's picture, one frame at a time. From the top: a band of 16 blocks that
// spell the frame number in binary (most significant bit on the left, white for 1, black for
// 0), then four vertical bars, red, green, blue and grey, each channel at 191 (75%) or 0 plus
// the brightness control's value (clamped to 0..255). Tests read the frame number to see
// frames change, and the bars to see colours and the brightness control reach the picture.
class TestPicture {
public:
    static constexpr int kCodeBits = 16;
    static constexpr int kBars = 4;
    static constexpr int kLevel = 191;

    TestPicture();

    // The frame in RGB, 3 bytes a pixel, rows top-down.
    static std::vector<uint8_t> rgb(int width, int height, uint32_t number, int brightness);
    // The frame as YUYV (BT.601, limited range), the way a webcam sends it.
    static std::vector<uint8_t> yuyv(int width, int height, uint32_t number, int brightness);
    // The frame as a baseline JPEG (4:2:2); empty when compression fails.
    std::vector<uint8_t> jpeg(int width, int height, uint32_t number, int brightness);

private:
    struct TjDeleter {
        void operator()(void* handle) const { tjDestroy(handle); }
    };
    std::unique_ptr<void, TjDeleter> m_compressor;
};
