#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "output/MpegWriter.h"

#include "support/OutputTestSupport.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

namespace {

// A smooth picture that moves with the frame number, as red-green-blue at picture coordinates
// (row 0 is the top).
void patternPixel(int frame, int x, int y, uint8_t rgb[3]) {
    rgb[0] = uint8_t(128 + 100 * std::sin((x + 6 * frame) / 40.0));
    rgb[1] = uint8_t(128 + 100 * std::cos((y + 4 * frame) / 30.0));
    rgb[2] = uint8_t(((x + y) / 6 + 3 * frame) % 200 + 28);
}

int bitmapStride(int bpp, int width) {
    return (bpp * width + 31) / 32 * 4;
}

// The frame as the recorder hands it over: bottom-up, blue-green-red, rows padded to 4 bytes.
std::vector<uint8_t> bitmapFrame(int frame, int width, int height, int bpp = 24) {
    const int stride = bitmapStride(bpp, width);
    std::vector<uint8_t> bits(size_t(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = bits.data() + size_t(height - 1 - y) * stride;
        for (int x = 0; x < width; ++x) {
            uint8_t rgb[3];
            patternPixel(frame, x, y, rgb);
            uint8_t* p = row + x * (bpp / 8);
            p[0] = rgb[2];
            p[1] = rgb[1];
            p[2] = rgb[0];
            if (bpp == 32) {
                p[3] = 0x5A;
            }
        }
    }
    return bits;
}

// Peak signal-to-noise ratio of a decoded picture against the pattern of frame (top-left
// width x height of the source).
double psnrAgainstPattern(const std::vector<uint8_t>& rgb, int frame, int width, int height) {
    double sum = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t want[3];
            patternPixel(frame, x, y, want);
            const uint8_t* got = rgb.data() + (size_t(y) * width + x) * 3;
            for (int c = 0; c < 3; ++c) {
                const double d = double(got[c]) - want[c];
                sum += d * d;
            }
        }
    }
    const double mse = sum / (double(width) * height * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The recorder's settings.
void recorderSettings(MpegWriter& w, int width, int height) {
    w.nKind = 7;
    w.nWidth = width;
    w.nHeight = height;
    w.fFrameRate = 24.0f;
    w.fBitRate = 6000000.0f;
}

bool writeFrame(MpegWriter& w, int frame, int width, int height) {
    const std::vector<uint8_t> bits = bitmapFrame(frame, width, height);
    CopyFrameToRgb(24, w.pRgbPicture, width, height, bits.data());
    return WriteVideoFrame(w.pFormatContext, w.pVideoStream, w);
}

void expectClosed(const MpegWriter& w) {
    EXPECT_FALSE(w.bOpen);
    EXPECT_EQ(w.pRgbPicture, nullptr);
    EXPECT_EQ(w.pYuvPicture, nullptr);
    EXPECT_EQ(w.pOutputFormat, nullptr);
    EXPECT_EQ(w.pFormatContext, nullptr);
    EXPECT_EQ(w.pVideoStream, nullptr);
    EXPECT_EQ(w.pCodecContext, nullptr);
    EXPECT_EQ(w.pConvert, nullptr);
    EXPECT_EQ(w.pPacket, nullptr);
}

}  // namespace

// ---- Recordings read back ----

TEST(MpegWriterFile, FortyEightFramesGiveTwoSecondsOfMpeg1At24FpsWithGroupsOf18) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A colon in the name must not be taken for a protocol.
    const QString path = dir.filePath("20261207-12:30:05-  7.mpeg");
    {
        MpegWriter w;
        recorderSettings(w, 640, 480);
        ASSERT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
        EXPECT_STREQ(w.pOutputFormat->name, "mpeg");
        for (int i = 0; i < 48; ++i) {
            ASSERT_TRUE(writeFrame(w, i, 640, 480)) << "frame " << i;
        }
        CloseMpegWriter(w);
        expectClosed(w);
        CloseMpegWriter(w);  // a second close is harmless
        EXPECT_EQ(w.nWidth, 640);
    }
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.formatName, "mpeg");
    EXPECT_EQ(f.codec, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(f.width, 640);
    EXPECT_EQ(f.height, 480);
    EXPECT_EQ(f.frameRate.num, 24);
    EXPECT_EQ(f.frameRate.den, 1);
    ASSERT_EQ(f.rgb.size(), 48u);
    EXPECT_EQ(f.keyFrames, (std::vector<int>{0, 18, 36}));
    EXPECT_NEAR(f.durationSeconds, 2.0, 1.0 / 24 + 1e-6);
    for (int i = 0; i < 48; ++i) {
        EXPECT_GT(psnrAgainstPattern(f.rgb[i], i, 640, 480), 30.0) << "frame " << i;
    }
}

TEST(MpegWriterFile, OddSizeIsRecordedAtTheEvenSizeBelow) {
    QTemporaryDir dir;
    const QString path = dir.filePath("odd.mpeg");
    {
        MpegWriter w;
        recorderSettings(w, 641, 481);
        ASSERT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
        for (int i = 0; i < 12; ++i) {
            EXPECT_TRUE(writeFrame(w, i, 641, 481));
        }
        CloseMpegWriter(w);
    }
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.width, 640);
    EXPECT_EQ(f.height, 480);
    ASSERT_EQ(f.rgb.size(), 12u);
    // The top-left 640 x 480 of the picture: the right column and the bottom row are left out.
    for (int i = 0; i < 12; ++i) {
        EXPECT_GT(psnrAgainstPattern(f.rgb[i], i, 640, 480), 30.0) << "frame " << i;
    }
}

TEST(MpegWriterFile, TinySizesStillGiveAPlayableFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tiny.mpeg");
    {
        MpegWriter w;
        recorderSettings(w, 1, 3);
        ASSERT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
        for (int i = 0; i < 5; ++i) {
            EXPECT_TRUE(writeFrame(w, i, 1, 3));
        }
    }
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.width, 2);
    EXPECT_EQ(f.height, 2);
    EXPECT_EQ(f.rgb.size(), 5u);
}

TEST(MpegWriterFile, UnknownExtensionFallsBackToMpegFormat) {
    QTemporaryDir dir;
    const QString path = dir.filePath("clip.xyz");
    MpegWriter w;
    recorderSettings(w, 320, 240);
    ASSERT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
    EXPECT_STREQ(w.pOutputFormat->name, "mpeg");
    for (int i = 0; i < 6; ++i) {
        EXPECT_TRUE(writeFrame(w, i, 320, 240));
    }
    CloseMpegWriter(w);
    const DecodedFile f = decodeFile(path);
    EXPECT_EQ(f.formatName, "mpeg");
    EXPECT_EQ(f.codec, AV_CODEC_ID_MPEG1VIDEO);
    EXPECT_EQ(f.rgb.size(), 6u);
}

TEST(MpegWriterFile, KindSelectsTheDiscFormats) {
    QTemporaryDir dir;
    MpegWriter w;
    recorderSettings(w, 352, 288);
    w.nKind = 0;
    ASSERT_TRUE(OpenMpegWriter(w, dir.filePath("a.mp4").toUtf8().constData()));
    EXPECT_STREQ(w.pOutputFormat->name, "vcd");
    EXPECT_EQ(w.pCodecContext->codec_id, AV_CODEC_ID_MPEG1VIDEO);
    CloseMpegWriter(w);
    w.nKind = 3;
    ASSERT_TRUE(OpenMpegWriter(w, dir.filePath("b.mpeg").toUtf8().constData()));
    EXPECT_STREQ(w.pOutputFormat->name, "svcd");
    EXPECT_EQ(w.pCodecContext->codec_id, AV_CODEC_ID_MPEG2VIDEO);
    EXPECT_EQ(w.pCodecContext->max_b_frames, 2);
    CloseMpegWriter(w);
}

TEST(MpegWriterFile, FramesHeldByTheEncoderAreWrittenAtClose) {
    // MPEG-2 with B-frames keeps pictures back for reordering; closing must not lose them.
    QTemporaryDir dir;
    const QString path = dir.filePath("svcd.mpg");
    {
        MpegWriter w;
        recorderSettings(w, 480, 480);
        w.nKind = 2;
        ASSERT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
        for (int i = 0; i < 20; ++i) {
            EXPECT_TRUE(writeFrame(w, i, 480, 480));
        }
        CloseMpegWriter(w);
    }
    const DecodedFile f = decodeFile(path);
    EXPECT_EQ(f.codec, AV_CODEC_ID_MPEG2VIDEO);
    ASSERT_EQ(f.rgb.size(), 20u);
    EXPECT_GT(psnrAgainstPattern(f.rgb[19], 19, 480, 480), 30.0);
}

TEST(MpegWriterFile, AWriterLeftOpenIsFinishedByItsOwner) {
    QTemporaryDir dir;
    const QString path = dir.filePath("left-open.mpeg");
    {
        MpegWriter first;
        recorderSettings(first, 320, 240);
        ASSERT_TRUE(OpenMpegWriter(first, path.toUtf8().constData()));
        for (int i = 0; i < 10; ++i) {
            EXPECT_TRUE(writeFrame(first, i, 320, 240));
        }
        MpegWriter second(std::move(first));
        expectClosed(first);
        EXPECT_FALSE(WriteVideoFrame(second.pFormatContext, second.pVideoStream, first));
        EXPECT_TRUE(writeFrame(second, 10, 320, 240));
    }  // never closed by hand
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.rgb.size(), 11u);
    // The container's duration runs to the last packet with a time stamp; in a file this short
    // the last small frames can share one, so allow two frames.
    EXPECT_NEAR(f.durationSeconds, 11 / 24.0, 2.0 / 24 + 1e-6);
}

TEST(MpegWriterFile, NextPtsPacesFramesByTime) {
    // A caller that samples at 12 frames per second numbers its frames 0, 2, 4, ...: the file
    // still lasts as long as the recording. A number that goes backwards is raised.
    QTemporaryDir dir;
    const QString path = dir.filePath("paced.mpeg");
    {
        MpegWriter w;
        recorderSettings(w, 320, 240);
        ASSERT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
        for (int i = 0; i < 24; ++i) {
            w.nextPts = 2 * i;
            EXPECT_TRUE(writeFrame(w, i, 320, 240));
        }
        w.nextPts = 0;
        EXPECT_TRUE(writeFrame(w, 24, 320, 240));
        EXPECT_EQ(w.lastPts, 47);
        CloseMpegWriter(w);
    }
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.rgb.size(), 25u);
    EXPECT_NEAR(f.durationSeconds, 2.0, 1.0 / 24 + 1e-6);
}

// ---- Failures ----

TEST(MpegWriterFailure, MissingFolderFailsTheOpenAndLeavesTheRecordClosed) {
    QTemporaryDir dir;
    const QString path = dir.filePath("no-such-folder/rec.mpeg");
    MpegWriter w;
    recorderSettings(w, 640, 480);
    EXPECT_FALSE(OpenMpegWriter(w, path.toUtf8().constData()));
    expectClosed(w);
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(WriteVideoFrame(w.pFormatContext, w.pVideoStream, w));
    CloseMpegWriter(w);
    // The record can be opened again once the folder exists.
    ASSERT_TRUE(QDir(dir.path()).mkdir("no-such-folder"));
    EXPECT_TRUE(OpenMpegWriter(w, path.toUtf8().constData()));
    CloseMpegWriter(w);
    EXPECT_TRUE(QFileInfo::exists(path));
}

TEST(MpegWriterFailure, AHeaderThatCannotBeWrittenFailsTheOpenAndLeavesNoFile) {
    // FFmpeg's Matroska muxer refuses the header of the H.264 stream set up for a ".mkv" name
    // (the encoder is not asked for a global header there).
    QTemporaryDir dir;
    const QString path = dir.filePath("clip.mkv");
    MpegWriter w;
    recorderSettings(w, 320, 240);
    EXPECT_FALSE(OpenMpegWriter(w, path.toUtf8().constData()));
    expectClosed(w);
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(MpegWriterFailure, InvalidSettingsFailTheOpen) {
    QTemporaryDir dir;
    const QString path = dir.filePath("bad.mpeg");
    MpegWriter w;
    recorderSettings(w, 0, 480);
    EXPECT_FALSE(OpenMpegWriter(w, path.toUtf8().constData()));
    expectClosed(w);
    recorderSettings(w, 640, 480);
    w.fFrameRate = std::nanf("");
    EXPECT_FALSE(OpenMpegWriter(w, path.toUtf8().constData()));
    // MPEG-1 knows no 7 frames per second: the encoder refuses, the record stays closed.
    w.fFrameRate = 7.0f;
    EXPECT_FALSE(OpenMpegWriter(w, path.toUtf8().constData()));
    expectClosed(w);
}

TEST(MpegWriterFailure, FullDiskFailsTheWriteAndLeavesAPlayableFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("full.mpeg");
    const QByteArray name = path.toUtf8();
    constexpr rlim_t kLimit = 200 * 1024;

    const int status = RunWithFileSizeLimit(kLimit, [&] {
        int result = 0;
        MpegWriter w;
        recorderSettings(w, 640, 480);
        if (!OpenMpegWriter(w, name.constData())) {
            return 11;
        }
        int frame = 0;
        while (frame < 240 && writeFrame(w, frame, 640, 480)) {
            ++frame;
        }
        if (frame == 240) {
            result = 12;  // the limit was never hit
        } else if (frame == 0) {
            result = 13;  // nothing written before the failure
        }
        CloseMpegWriter(w);
        if (w.bOpen || w.pFormatContext || w.pCodecContext || w.pRgbPicture) {
            result = 14;
        }
        return result;
    });
    ASSERT_EQ(status, 0);

    EXPECT_LE(QFileInfo(path).size(), qint64(kLimit));
    const DecodedFile f = decodeFile(path);
    ASSERT_TRUE(f.opened);
    EXPECT_EQ(f.codec, AV_CODEC_ID_MPEG1VIDEO);
    ASSERT_GE(f.rgb.size(), 1u);
    EXPECT_GT(psnrAgainstPattern(f.rgb[0], 0, 640, 480), 30.0);
}

// ---- Copying the bitmap ----

namespace {

struct RgbPicture {
    AVFrame* frame;
    RgbPicture(int w, int h) : frame(AllocPicture(AV_PIX_FMT_RGB24, w, h)) {}
    ~RgbPicture() { av_frame_free(&frame); }
    const uint8_t* at(int x, int y) const {
        return frame->data[0] + y * frame->linesize[0] + 3 * x;
    }
};

}  // namespace

TEST(CopyFrameToRgb, TurnsABottomUpBgrBitmapIntoATopDownRgbPicture) {
    for (int bpp : {24, 32}) {
        SCOPED_TRACE(bpp);
        RgbPicture pic(3, 2);
        ASSERT_NE(pic.frame, nullptr);
        const std::vector<uint8_t> bits = bitmapFrame(5, 3, 2, bpp);
        CopyFrameToRgb(bpp, pic.frame, 3, 2, bits.data());
        for (int y = 0; y < 2; ++y) {
            for (int x = 0; x < 3; ++x) {
                uint8_t want[3];
                patternPixel(5, x, y, want);
                EXPECT_EQ(pic.at(x, y)[0], want[0]) << x << "," << y;
                EXPECT_EQ(pic.at(x, y)[1], want[1]) << x << "," << y;
                EXPECT_EQ(pic.at(x, y)[2], want[2]) << x << "," << y;
            }
        }
    }
}

TEST(CopyFrameToRgb, HandPlacedPixelsLandWhereTheyBelong) {
    // 2 x 2 bitmap, 24 bits: row 0 stored first is the bottom of the picture.
    const uint8_t bits24[] = {
        1, 2, 3, 4,  5,  6,  0, 0,  // bottom row: BGR (1,2,3), (4,5,6), padding
        7, 8, 9, 10, 11, 12, 0, 0,  // top row
    };
    RgbPicture pic(2, 2);
    CopyFrameToRgb(24, pic.frame, 2, 2, bits24);
    EXPECT_EQ(std::vector<uint8_t>(pic.at(0, 0), pic.at(0, 0) + 6),
              (std::vector<uint8_t>{9, 8, 7, 12, 11, 10}));
    EXPECT_EQ(std::vector<uint8_t>(pic.at(0, 1), pic.at(0, 1) + 6),
              (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));

    const uint8_t bits32[] = {
        1, 2, 3, 99, 4,  5,  6,  99,  // bottom row, fourth byte ignored
        7, 8, 9, 99, 10, 11, 12, 99,
    };
    RgbPicture pic32(2, 2);
    CopyFrameToRgb(32, pic32.frame, 2, 2, bits32);
    EXPECT_EQ(std::vector<uint8_t>(pic32.at(0, 0), pic32.at(0, 0) + 6),
              (std::vector<uint8_t>{9, 8, 7, 12, 11, 10}));
    EXPECT_EQ(std::vector<uint8_t>(pic32.at(0, 1), pic32.at(0, 1) + 6),
              (std::vector<uint8_t>{3, 2, 1, 6, 5, 4}));
}

TEST(CopyFrameToRgb, ALargerBitmapIsClippedToThePicture) {
    RgbPicture pic(4, 3);
    const std::vector<uint8_t> bits = bitmapFrame(2, 9, 7);
    CopyFrameToRgb(24, pic.frame, 9, 7, bits.data());
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 4; ++x) {
            uint8_t want[3];
            patternPixel(2, x, y, want);
            EXPECT_EQ(pic.at(x, y)[0], want[0]);
            EXPECT_EQ(pic.at(x, y)[2], want[2]);
        }
    }
}

TEST(CopyFrameToRgb, NothingIsCopiedFromNullBitsOrUnknownDepths) {
    RgbPicture pic(2, 2);
    const std::vector<uint8_t> bits = bitmapFrame(1, 2, 2);
    CopyFrameToRgb(24, pic.frame, 2, 2, nullptr);
    CopyFrameToRgb(16, pic.frame, 2, 2, bits.data());
    CopyFrameToRgb(24, nullptr, 2, 2, bits.data());
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(pic.at(x, y)[0] | pic.at(x, y)[1] | pic.at(x, y)[2], 0);
        }
    }

    // The encoder's picture has one byte per pixel in its first plane: nothing goes there.
    AVFrame* yuv = AllocPicture(AV_PIX_FMT_YUV420P, 2, 2);
    ASSERT_NE(yuv, nullptr);
    CopyFrameToRgb(24, yuv, 2, 2, bits.data());
    EXPECT_EQ(yuv->data[0][0], 16);  // black
    EXPECT_EQ(yuv->data[0][1], 16);
    av_frame_free(&yuv);
}
