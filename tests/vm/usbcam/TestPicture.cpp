#include "TestPicture.h"

#include <algorithm>

TestPicture::TestPicture() : m_compressor(tjInitCompress()) {}

std::vector<uint8_t> TestPicture::rgb(int width, int height, uint32_t number, int brightness) {
    static constexpr uint8_t kBarRgb[kBars][3] = {
        {kLevel, 0, 0}, {0, kLevel, 0}, {0, 0, kLevel}, {kLevel, kLevel, kLevel}};
    std::vector<uint8_t> out(size_t(width) * height * 3);
    const int band = height / 8;
    uint8_t bars[kBars][3];
    for (int i = 0; i < kBars; ++i) {
        for (int ch = 0; ch < 3; ++ch) {
            bars[i][ch] = uint8_t(std::clamp(kBarRgb[i][ch] + brightness, 0, 255));
        }
    }
    for (int y = 0; y < height; ++y) {
        uint8_t* row = out.data() + size_t(y) * width * 3;
        for (int x = 0; x < width; ++x) {
            const uint8_t* colour;
            uint8_t code[3];
            if (y < band) {
                const int bit = kCodeBits - 1 - x * kCodeBits / width;
                const uint8_t v = (number >> bit) & 1 ? 255 : 0;
                code[0] = code[1] = code[2] = v;
                colour = code;
            } else {
                colour = bars[x * kBars / width];
            }
            row[x * 3] = colour[0];
            row[x * 3 + 1] = colour[1];
            row[x * 3 + 2] = colour[2];
        }
    }
    return out;
}

std::vector<uint8_t> TestPicture::yuyv(int width, int height, uint32_t number, int brightness) {
    const std::vector<uint8_t> src = rgb(width, height, number, brightness);
    std::vector<uint8_t> out(size_t(width) * height * 2);
    const auto luma = [](const uint8_t* p) {
        return uint8_t(((66 * p[0] + 129 * p[1] + 25 * p[2] + 128) >> 8) + 16);
    };
    for (size_t i = 0, o = 0; i < src.size(); i += 6, o += 4) {
        const uint8_t* a = &src[i];
        const uint8_t* b = &src[i + 3];
        const int r = (a[0] + b[0]) / 2, g = (a[1] + b[1]) / 2, bl = (a[2] + b[2]) / 2;
        out[o] = luma(a);
        out[o + 1] = uint8_t(((-38 * r - 74 * g + 112 * bl + 128) >> 8) + 128);
        out[o + 2] = luma(b);
        out[o + 3] = uint8_t(((112 * r - 94 * g - 18 * bl + 128) >> 8) + 128);
    }
    return out;
}

std::vector<uint8_t> TestPicture::jpeg(int width, int height, uint32_t number, int brightness) {
    if (!m_compressor) {
        return {};
    }
    const std::vector<uint8_t> src = rgb(width, height, number, brightness);
    unsigned char* data = nullptr;
    unsigned long size = 0;
    if (tjCompress2(m_compressor.get(), src.data(), width, 0, height, TJPF_RGB, &data, &size,
                    TJSAMP_422, 90, TJFLAG_FASTDCT) != 0) {
        tjFree(data);
        return {};
    }
    std::vector<uint8_t> out(data, data + size);
    tjFree(data);
    return out;
}
