#include "capture/FrameDecoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <QString>
#include <QtGlobal>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "capture/Camera.h"
#include "capture/DroppedFrames.h"

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

// Standard 75% colour bars in BT.601 limited range and the BGR they stand for.
struct Bar {
    std::array<uint8_t, 3> ycbcr;
    Bgr bgr;
    const char* name;
};
const std::array<Bar, 8> kColourBars = {{
    {{180, 128, 128}, {191, 191, 191}, "white"},
    {{162, 44, 142}, {0, 191, 191}, "yellow"},
    {{131, 156, 44}, {191, 191, 0}, "cyan"},
    {{112, 72, 58}, {0, 191, 0}, "green"},
    {{84, 184, 198}, {191, 0, 191}, "magenta"},
    {{65, 100, 212}, {0, 0, 191}, "red"},
    {{35, 212, 114}, {191, 0, 0}, "blue"},
    {{16, 128, 128}, {0, 0, 0}, "black"},
}};

// The picture the format table encodes: 64 x 4 pixels, the eight bars 8 pixels wide, left to
// right in the top two rows and right to left in the bottom two, so that swapped planes, swapped
// chroma and the row order all show.
constexpr int kBarsWidth = 64;
constexpr int kBarsHeight = 4;
const Bar& barAt(int x, int row) {
    return kColourBars[size_t(row < 2 ? x / 8 : 7 - x / 8)];
}

// Frames of that picture, written byte by byte as V4L2 lays each format out. stride 0 packs the
// rows.
std::vector<uint8_t> barsUyvy(size_t stride) {
    stride = stride ? stride : kBarsWidth * 2;
    std::vector<uint8_t> frame(stride * kBarsHeight, 0x5A);
    for (int y = 0; y < kBarsHeight; ++y) {
        for (int x = 0; x < kBarsWidth; x += 2) {
            const auto& c = barAt(x, y).ycbcr;
            uint8_t* p = frame.data() + y * stride + x * 2;
            p[0] = c[1], p[1] = c[0], p[2] = c[2], p[3] = c[0];
        }
    }
    return frame;
}

// 4:2:0: a luma plane, then chroma for each 2 x 2 block, either interleaved V,U (NV21) or as a
// V plane followed by a U plane (YV12).
std::vector<uint8_t> barsYuv420(bool interleaved) {
    const int cw = kBarsWidth / 2;
    const int ch = kBarsHeight / 2;
    std::vector<uint8_t> frame(size_t(kBarsWidth) * kBarsHeight * 3 / 2);
    for (int y = 0; y < kBarsHeight; ++y) {
        for (int x = 0; x < kBarsWidth; ++x) {
            frame[size_t(y) * kBarsWidth + x] = barAt(x, y).ycbcr[0];
        }
    }
    uint8_t* chroma = frame.data() + size_t(kBarsWidth) * kBarsHeight;
    for (int y = 0; y < ch; ++y) {
        for (int x = 0; x < cw; ++x) {
            const auto& c = barAt(x * 2, y * 2).ycbcr;
            if (interleaved) {
                chroma[(y * cw + x) * 2] = c[2];
                chroma[(y * cw + x) * 2 + 1] = c[1];
            } else {
                chroma[y * cw + x] = c[2];
                chroma[cw * ch + y * cw + x] = c[1];
            }
        }
    }
    return frame;
}

// RGB565 as a little-endian word: red in the top five bits, blue in the bottom five.
std::vector<uint8_t> barsRgb565(size_t stride) {
    stride = stride ? stride : kBarsWidth * 2;
    std::vector<uint8_t> frame(stride * kBarsHeight, 0x5A);
    for (int y = 0; y < kBarsHeight; ++y) {
        for (int x = 0; x < kBarsWidth; ++x) {
            const Bgr& c = barAt(x, y).bgr;
            const uint16_t word = uint16_t((c.r >> 3) << 11 | (c.g >> 2) << 5 | (c.b >> 3));
            frame[y * stride + x * 2] = uint8_t(word & 0xFF);
            frame[y * stride + x * 2 + 1] = uint8_t(word >> 8);
        }
    }
    return frame;
}

// 8-bit monochrome: the bars' luma bytes.
std::vector<uint8_t> barsGrey(size_t stride) {
    stride = stride ? stride : kBarsWidth;
    std::vector<uint8_t> frame(stride * kBarsHeight, 0x5A);
    for (int y = 0; y < kBarsHeight; ++y) {
        for (int x = 0; x < kBarsWidth; ++x) {
            frame[y * stride + x] = barAt(x, y).ycbcr[0];
        }
    }
    return frame;
}

// Byte offset of the first segment with `marker` before the scan, 0 when there is none.
size_t segmentOffset(const std::vector<uint8_t>& jpeg, uint8_t marker) {
    size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        if (jpeg[pos + 1] == marker) {
            return pos;
        }
        pos += 2 + (size_t(jpeg[pos + 2]) << 8 | jpeg[pos + 3]);
    }
    return 0;
}

// Collects what the program logs while it lives.
class LogCapture {
public:
    struct Message {
        QtMsgType type;
        std::string category;
        std::string text;
    };
    LogCapture() {
        s_messages = &m_messages;
        m_previous = qInstallMessageHandler(&LogCapture::handle);
    }
    ~LogCapture() {
        qInstallMessageHandler(m_previous);
        s_messages = nullptr;
    }
    const std::vector<Message>& messages() const { return m_messages; }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        s_messages->push_back({type, context.category ? context.category : "", text.toStdString()});
    }
    static inline std::vector<Message>* s_messages = nullptr;
    std::vector<Message> m_messages;
    QtMessageHandler m_previous = nullptr;
};

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
    const auto& bars = kColourBars;
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

    EXPECT_FALSE(FrameDecoder::supports(PixelFormat::fourcc('Y', 'V', 'Y', 'U')));
    EXPECT_FALSE(decoder.decode(PixelFormat::fourcc('Y', 'V', 'Y', 'U'), width, height, rgb.data(),
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

TEST(FrameDecoderOtherFormats, EachFormatDecodesTheBarsInPlace) {
    struct Case {
        const char* name;
        uint32_t format;
        std::vector<uint8_t> frame;
        size_t stride;  // 0: packed rows
        int tolerance;
        bool grey;  // shows the bars' luma as grey
    };
    const std::vector<Case> cases = {
        {"UYVY", PixelFormat::UYVY, barsUyvy(0), 0, 2, false},
        {"UYVY, padded rows", PixelFormat::UYVY, barsUyvy(160), 160, 2, false},
        {"NV21", PixelFormat::NV21, barsYuv420(true), 0, 2, false},
        {"YV12", PixelFormat::YV12, barsYuv420(false), 0, 2, false},
        // Five and six bits a channel: 191 comes back as 189 or 190.
        {"RGBP", PixelFormat::RGBP, barsRgb565(0), 0, 3, false},
        {"RGBP, padded rows", PixelFormat::RGBP, barsRgb565(136), 136, 3, false},
        // Monochrome shows each byte as it is, as grey.
        {"GREY", PixelFormat::GREY, barsGrey(0), 0, 0, true},
        {"GREY, padded rows", PixelFormat::GREY, barsGrey(80), 80, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameDecoder decoder;
        ASSERT_TRUE(FrameDecoder::supports(c.format));
        ASSERT_TRUE(decoder.decode(c.format, kBarsWidth, kBarsHeight, c.frame.data(),
                                   c.frame.size(), c.stride))
            << decoder.failure();
        ASSERT_EQ(decoder.width(), kBarsWidth);
        ASSERT_EQ(decoder.height(), kBarsHeight);
        for (int sourceRow : {0, 1, 2, 3}) {
            const int outputRow = kBarsHeight - 1 - sourceRow;
            for (int bar = 0; bar < 8; ++bar) {
                const int x = bar * 8 + 3 + sourceRow % 2;  // the middle, away from edges
                const Bar& want = barAt(x, sourceRow);
                const int luma = want.ycbcr[0];
                const Bgr expected = c.grey ? Bgr{luma, luma, luma} : want.bgr;
                expectNear(pixelAt(decoder, x, outputRow), expected, c.tolerance, want.name);
            }
        }
        // One row short of the frame: rejected, the picture kept.
        const size_t rowStep = c.stride ? c.stride : 1;
        EXPECT_FALSE(decoder.decode(c.format, kBarsWidth, kBarsHeight, c.frame.data(),
                                    c.frame.size() - rowStep, c.stride));
        EXPECT_FALSE(decoder.failure().empty());
        const Bar& topLeft = barAt(3, 0);
        expectNear(pixelAt(decoder, 3, kBarsHeight - 1),
                   c.grey ? Bgr{topLeft.ycbcr[0], topLeft.ycbcr[0], topLeft.ycbcr[0]} : topLeft.bgr,
                   c.tolerance, "kept picture");
    }
}

TEST(FrameDecoderMjpg, FramesWithStrayBytesOrPaddingDecode) {
    const int width = 160;
    const int height = 120;
    const auto picture = makeTestPicture(width, height);
    const auto jpeg = encodeJpeg(picture, width, height);
    ASSERT_FALSE(jpeg.empty());

    // Stray bytes between the scan and the end-of-image marker, as many webcams send them in
    // every frame, and before a table in the headers.
    auto strayBeforeEnd = jpeg;
    strayBeforeEnd.insert(strayBeforeEnd.end() - 2, {0x00, 0x12, 0x34, 0x56});
    auto strayBeforeTable = jpeg;
    const size_t table = segmentOffset(jpeg, 0xC4);
    ASSERT_GT(table, 0u);
    strayBeforeTable.insert(strayBeforeTable.begin() + std::ptrdiff_t(table), {0x55, 0xAA, 0x01});
    // Zero bytes and 0xFF fill after the end-of-image marker.
    auto padded = jpeg;
    padded.insert(padded.end(), 300, 0x00);
    padded.insert(padded.end(), 7, 0xFF);
    padded.insert(padded.end(), 5, 0x00);

    const std::pair<const std::vector<uint8_t>*, const char*> frames[] = {
        {&strayBeforeEnd, "stray bytes before the end"},
        {&strayBeforeTable, "stray bytes before a table"},
        {&padded, "padding after the end"},
    };
    for (const auto& [frame, what] : frames) {
        FrameDecoder decoder;
        ASSERT_TRUE(decoder.decode(PixelFormat::MJPG, width, height, frame->data(), frame->size()))
            << what << ": " << decoder.failure();
        EXPECT_GT(psnrAgainstTopDown(decoder, picture, true), 30.0) << what;
    }
}

TEST(FrameDecoderMjpg, TheFirstDropOfAStreamIsLoggedWithItsReasonAndCount) {
    const int width = 160;
    const int height = 120;
    const auto jpeg = encodeJpeg(makeTestPicture(width, height), width, height);
    ASSERT_FALSE(jpeg.empty());
    // Cut in half, the rest of the buffer left as zeros, as a camera that lost the end of a
    // frame hands it over.
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    cut.resize(jpeg.size(), 0x00);

    FrameDecoder decoder;
    DroppedFrames dropped(QStringLiteral("/dev/video7"));
    LogCapture log;
    dropped.streamStarting();
    for (int i = 0; i < 3; ++i) {
        ASSERT_FALSE(decoder.decode(PixelFormat::MJPG, width, height, cut.data(), cut.size()));
        dropped.add(decoder.failure());
    }
    EXPECT_EQ(dropped.count(), 3u);
    ASSERT_EQ(log.messages().size(), 1u);
    const auto& first = log.messages()[0];
    EXPECT_EQ(first.type, QtWarningMsg);
    EXPECT_EQ(first.category, "tavrel.capture.frames");
    EXPECT_NE(first.text.find("/dev/video7"), std::string::npos) << first.text;
    EXPECT_NE(first.text.find(decoder.failure()), std::string::npos) << first.text;
    EXPECT_NE(first.text.find("1 dropped"), std::string::npos) << first.text;

    // The next stream logs its first drop again, with the count of the camera so far.
    dropped.streamStarting();
    ASSERT_FALSE(decoder.decode(PixelFormat::MJPG, width, height, cut.data(), cut.size() / 3));
    dropped.add(decoder.failure());
    dropped.add(decoder.failure());
    ASSERT_EQ(log.messages().size(), 2u);
    EXPECT_NE(log.messages()[1].text.find("4 dropped"), std::string::npos)
        << log.messages()[1].text;
    EXPECT_EQ(dropped.count(), 5u);
}
