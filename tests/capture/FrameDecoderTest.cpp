#include "capture/FrameDecoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "capture/Camera.h"

namespace {

struct Bgr {
    int b, g, r;
};

Bgr pixelAt(const FrameDecoder& decoder, int x, int outputRow) {
    const uint8_t* p = decoder.pixels() + (size_t(outputRow) * decoder.width() + x) * 3;
    return {p[0], p[1], p[2]};
}

void expectNear(const Bgr& actual, const Bgr& expected, int tolerance, const char* what) {
    EXPECT_NEAR(actual.b, expected.b, tolerance) << what << " (blue)";
    EXPECT_NEAR(actual.g, expected.g, tolerance) << what << " (green)";
    EXPECT_NEAR(actual.r, expected.r, tolerance) << what << " (red)";
}

// A YUYV frame whose every pixel pair of row y is (Y, U, Y, V) = yuv(y, pair index).
template <typename Fn>
std::vector<uint8_t> makeYuyv(int width, int height, size_t stride, Fn yuv) {
    std::vector<uint8_t> frame(stride * height, 0xAA);
    for (int y = 0; y < height; ++y) {
        for (int pair = 0; pair < width / 2; ++pair) {
            const std::array<uint8_t, 3> c = yuv(y, pair);
            uint8_t* p = frame.data() + y * stride + pair * 4;
            p[0] = c[0];
            p[1] = c[1];
            p[2] = c[0];
            p[3] = c[2];
        }
    }
    return frame;
}

// A top-down BGR test picture with content in both directions: a bright disc on a dark
// gradient, with a bright band along the top rows.
std::vector<uint8_t> makeTestPicture(int width, int height) {
    std::vector<uint8_t> bgr(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = bgr.data() + (size_t(y) * width + x) * 3;
            const double dx = x - width * 0.5;
            const double dy = y - height * 0.5;
            const bool inDisc = dx * dx + dy * dy < (height * 0.35) * (height * 0.35);
            if (y < height / 8) {
                p[0] = 230, p[1] = 230, p[2] = 230;
            } else if (inDisc) {
                p[0] = uint8_t(120 + 60 * std::sin(x * 0.05));
                p[1] = uint8_t(180 + 40 * std::cos(y * 0.07));
                p[2] = 200;
            } else {
                p[0] = uint8_t(20 + x * 40 / width);
                p[1] = uint8_t(10 + y * 30 / height);
                p[2] = 30;
            }
        }
    }
    return bgr;
}

std::vector<uint8_t> encodeJpeg(const std::vector<uint8_t>& topDownBgr, int width, int height,
                                int subsampling = TJSAMP_422) {
    tjhandle tj = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long jpegSize = 0;
    const int rc = tjCompress2(tj, topDownBgr.data(), width, width * 3, height, TJPF_BGR, &jpeg,
                               &jpegSize, subsampling, 95, 0);
    std::vector<uint8_t> out;
    if (rc == 0) {
        out.assign(jpeg, jpeg + jpegSize);
    }
    tjFree(jpeg);
    tjDestroy(tj);
    return out;
}

// PSNR of the decoder's bottom-up output against a top-down reference picture.
double psnrAgainstTopDown(const FrameDecoder& decoder, const std::vector<uint8_t>& topDown,
                          bool flipReference) {
    const int w = decoder.width();
    const int h = decoder.height();
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        const int refRow = flipReference ? h - 1 - y : y;
        for (int i = 0; i < w * 3; ++i) {
            const double d = double(decoder.pixels()[size_t(y) * w * 3 + i]) -
                             double(topDown[size_t(refRow) * w * 3 + i]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(w) * h * 3);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Removes every DHT segment, as many UVC cameras send their MJPG frames.
std::vector<uint8_t> stripHuffmanTables(const std::vector<uint8_t>& jpeg) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // SOI
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF) {
        const uint8_t marker = jpeg[pos + 1];
        const size_t length = size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3];
        if (marker == 0xDA) {  // start of scan: copy the rest unchanged
            out.insert(out.end(), jpeg.begin() + pos, jpeg.end());
            return out;
        }
        if (marker != 0xC4) {
            out.insert(out.end(), jpeg.begin() + pos, jpeg.begin() + pos + 2 + length);
        }
        pos += 2 + length;
    }
    return {};
}

}  // namespace

TEST(FrameDecoderYuyv, GreyLevelsDecodeToGreyAndRowsTurnBottomUp) {
    // Limited-range luma: 16 is black, 235 white, 126 mid grey. Each source row has its own
    // level, so the rows also show the bottom-up order.
    const std::array<uint8_t, 4> luma = {16, 235, 126, 70};
    const std::array<int, 4> expected = {0, 255, 128, 63};
    const int width = 8;
    const int height = 4;
    auto frame = makeYuyv(width, height, width * 2, [&](int y, int) -> std::array<uint8_t, 3> {
        return {luma[y], 128, 128};
    });
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.decode(PixelFormat::YUYV, width, height, frame.data(), frame.size()));
    EXPECT_EQ(decoder.width(), width);
    EXPECT_EQ(decoder.height(), height);
    for (int sourceRow = 0; sourceRow < height; ++sourceRow) {
        const int outputRow = height - 1 - sourceRow;
        for (int x = 0; x < width; ++x) {
            const int e = expected[sourceRow];
            expectNear(pixelAt(decoder, x, outputRow), {e, e, e}, 2, "grey level");
        }
    }
}

TEST(FrameDecoderYuyv, SeventyFivePercentColourBars) {
    // Standard 75% colour bars in BT.601 limited range and the BGR they stand for.
    struct Bar {
        std::array<uint8_t, 3> ycbcr;
        Bgr bgr;
        const char* name;
    };
    const std::array<Bar, 8> bars = {{
        {{180, 128, 128}, {191, 191, 191}, "white"},
        {{162, 44, 142}, {0, 191, 191}, "yellow"},
        {{131, 156, 44}, {191, 191, 0}, "cyan"},
        {{112, 72, 58}, {0, 191, 0}, "green"},
        {{84, 184, 198}, {191, 0, 191}, "magenta"},
        {{65, 100, 212}, {0, 0, 191}, "red"},
        {{35, 212, 114}, {191, 0, 0}, "blue"},
        {{16, 128, 128}, {0, 0, 0}, "black"},
    }};
    const int width = 64;  // 8 pixels (4 pairs) per bar
    const int height = 6;
    auto frame = makeYuyv(width, height, width * 2,
                          [&](int, int pair) { return bars[size_t(pair / 4)].ycbcr; });
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.decode(PixelFormat::YUYV, width, height, frame.data(), frame.size()));
    for (size_t i = 0; i < bars.size(); ++i) {
        // Sample the middle of each bar, away from chroma transitions.
        expectNear(pixelAt(decoder, int(i) * 8 + 4, 0), bars[i].bgr, 2, bars[i].name);
        expectNear(pixelAt(decoder, int(i) * 8 + 3, height - 1), bars[i].bgr, 2, bars[i].name);
    }
}

TEST(FrameDecoderYuyv, HonoursPaddedRowStride) {
    const int width = 6;
    const int height = 3;
    const size_t stride = 32;  // 12 bytes of pixels, 20 of padding per row
    auto frame = makeYuyv(width, height, stride, [](int y, int) -> std::array<uint8_t, 3> {
        return {uint8_t(y == 0 ? 235 : 16), 128, 128};
    });
    FrameDecoder decoder;
    ASSERT_TRUE(
        decoder.decode(PixelFormat::YUYV, width, height, frame.data(), frame.size(), stride));
    expectNear(pixelAt(decoder, 5, height - 1), {255, 255, 255}, 2, "first source row");
    expectNear(pixelAt(decoder, 0, 0), {0, 0, 0}, 2, "last source row");
}

TEST(FrameDecoderYuyv, TooShortBufferIsRejectedAndKeepsThePreviousPicture) {
    const int width = 16;
    const int height = 8;
    auto white = makeYuyv(width, height, width * 2, [](int, int) -> std::array<uint8_t, 3> {
        return {235, 128, 128};
    });
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.decode(PixelFormat::YUYV, width, height, white.data(), white.size()));

    std::vector<uint8_t> black(white.size() - 1, 16);
    EXPECT_FALSE(decoder.decode(PixelFormat::YUYV, width, height, black.data(), black.size()));
    EXPECT_FALSE(decoder.decode(PixelFormat::YUYV, width, height, black.data(), 0));
    // A stride narrower than a row is as wrong as a short buffer.
    EXPECT_FALSE(decoder.decode(PixelFormat::YUYV, width, height, white.data(), white.size(),
                                size_t(width)));
    EXPECT_FALSE(decoder.decode(PixelFormat::YUYV, 0, height, white.data(), white.size()));
    EXPECT_FALSE(decoder.decode(PixelFormat::YUYV, width, -height, white.data(), white.size()));
    expectNear(pixelAt(decoder, 3, 3), {255, 255, 255}, 2, "previous picture");
}

TEST(FrameDecoderOtherFormats, PlanarAndRgbFormatsDecodeBottomUp) {
    const int width = 4;
    const int height = 4;
    FrameDecoder decoder;

    // NV12 and I420: first luma row white, the rest black, neutral chroma.
    std::vector<uint8_t> yuv420(width * height * 3 / 2, 128);
    for (int i = 0; i < width * height; ++i) {
        yuv420[i] = i < width ? 235 : 16;
    }
    for (uint32_t format : {PixelFormat::NV12, PixelFormat::YU12}) {
        ASSERT_TRUE(decoder.decode(format, width, height, yuv420.data(), yuv420.size()));
        expectNear(pixelAt(decoder, 1, height - 1), {255, 255, 255}, 2, "first source row");
        expectNear(pixelAt(decoder, 1, 0), {0, 0, 0}, 2, "last source row");
        EXPECT_FALSE(decoder.decode(format, width, height, yuv420.data(), yuv420.size() - 1));
    }

    // RGB3 is R,G,B in memory, BGR3 is B,G,R: both come out as B,G,R.
    std::vector<uint8_t> rgb(width * height * 3, 0);
    rgb[0] = 10, rgb[1] = 20, rgb[2] = 30;  // first pixel of the first row
    ASSERT_TRUE(decoder.decode(PixelFormat::RGB3, width, height, rgb.data(), rgb.size()));
    expectNear(pixelAt(decoder, 0, height - 1), {30, 20, 10}, 0, "RGB3");
    ASSERT_TRUE(decoder.decode(PixelFormat::BGR3, width, height, rgb.data(), rgb.size()));
    expectNear(pixelAt(decoder, 0, height - 1), {10, 20, 30}, 0, "BGR3");
    expectNear(pixelAt(decoder, 0, 0), {0, 0, 0}, 0, "BGR3 last source row");
    EXPECT_FALSE(decoder.decode(PixelFormat::BGR3, width, height, rgb.data(), rgb.size() - 1));

    EXPECT_FALSE(FrameDecoder::supports(PixelFormat::fourcc('U', 'Y', 'V', 'Y')));
    EXPECT_FALSE(decoder.decode(PixelFormat::fourcc('U', 'Y', 'V', 'Y'), width, height, rgb.data(),
                                rgb.size()));
}

TEST(FrameDecoderMjpg, RoundTripKeepsThePictureAndTurnsItBottomUp) {
    const int width = 320;
    const int height = 240;
    const auto picture = makeTestPicture(width, height);
    const auto jpeg = encodeJpeg(picture, width, height);
    ASSERT_FALSE(jpeg.empty());

    FrameDecoder decoder;
    ASSERT_TRUE(decoder.decode(PixelFormat::MJPG, width, height, jpeg.data(), jpeg.size()));
    ASSERT_EQ(decoder.width(), width);
    ASSERT_EQ(decoder.height(), height);
    EXPECT_GT(psnrAgainstTopDown(decoder, picture, true), 30.0);
    // The bright band of the picture's top rows sits at the end of the output.
    EXPECT_LT(psnrAgainstTopDown(decoder, picture, false), 20.0);
    EXPECT_GT(pixelAt(decoder, width / 2, height - 2).g, 200);
    EXPECT_LT(pixelAt(decoder, 2, 1).g, 60);
}

TEST(FrameDecoderMjpg, FramesWithoutHuffmanTablesDecode) {
    const int width = 160;
    const int height = 120;
    const auto picture = makeTestPicture(width, height);
    const auto jpeg = stripHuffmanTables(encodeJpeg(picture, width, height));
    ASSERT_FALSE(jpeg.empty());

    FrameDecoder decoder;
    ASSERT_TRUE(decoder.decode(PixelFormat::MJPG, width, height, jpeg.data(), jpeg.size()));
    EXPECT_GT(psnrAgainstTopDown(decoder, picture, true), 30.0);
}

TEST(FrameDecoderMjpg, CorruptFramesAreRejectedAndKeepThePreviousPicture) {
    const int width = 160;
    const int height = 120;
    const auto picture = makeTestPicture(width, height);
    const auto jpeg = encodeJpeg(picture, width, height);
    ASSERT_FALSE(jpeg.empty());
    FrameDecoder decoder;
    ASSERT_TRUE(decoder.decode(PixelFormat::MJPG, width, height, jpeg.data(), jpeg.size()));
    const std::vector<uint8_t> good(decoder.pixels(), decoder.pixels() + width * height * 3);

    std::mt19937 random(1234);
    std::vector<uint8_t> noise(20000);
    for (auto& b : noise) {
        b = uint8_t(random());
    }
    EXPECT_FALSE(decoder.decode(PixelFormat::MJPG, width, height, noise.data(), noise.size()));

    // Truncated in the middle of the entropy-coded data.
    EXPECT_FALSE(decoder.decode(PixelFormat::MJPG, width, height, jpeg.data(), jpeg.size() / 2));
    EXPECT_FALSE(decoder.decode(PixelFormat::MJPG, width, height, jpeg.data(), 0));

    // A valid JPEG of another size than the stream's format.
    const auto other = encodeJpeg(makeTestPicture(64, 48), 64, 48);
    EXPECT_FALSE(decoder.decode(PixelFormat::MJPG, width, height, other.data(), other.size()));

    EXPECT_EQ(decoder.width(), width);
    EXPECT_EQ(decoder.height(), height);
    EXPECT_TRUE(std::equal(good.begin(), good.end(), decoder.pixels()));

    // Damaged bytes anywhere must never crash or read outside the buffer (run under ASan).
    for (int i = 0; i < 200; ++i) {
        auto damaged = jpeg;
        for (int k = 0; k < 4; ++k) {
            damaged[random() % damaged.size()] = uint8_t(random());
        }
        const size_t size = random() % 2 ? damaged.size() : random() % damaged.size();
        if (decoder.decode(PixelFormat::MJPG, width, height, damaged.data(), size)) {
            EXPECT_EQ(decoder.width(), width);
        }
    }
}
