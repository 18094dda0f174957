#include "contracts/Image.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// Pixel (x, y) of a 24-bit image, y counted from the bottom row, as {B, G, R}.
struct Bgr {
    int b, g, r;
};
Bgr pixel(const Image& img, int x, int y) {
    const uint8_t* p = img.GetBits(y) + x * 3;
    return {p[0], p[1], p[2]};
}
void setPixel(Image& img, int x, int y, Bgr c) {
    uint8_t* p = img.GetBits(y) + x * 3;
    p[0] = uint8_t(c.b);
    p[1] = uint8_t(c.g);
    p[2] = uint8_t(c.r);
}

// A smooth colour gradient, different in every direction.
Image gradient(int w, int h) {
    Image img;
    EXPECT_TRUE(img.Create(w, h, 24));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            setPixel(img, x, y,
                     {x * 255 / (w - 1), y * 255 / (h - 1), (x + y) * 255 / (w + h - 2)});
        }
    }
    return img;
}

double psnr(const Image& a, const Image& b) {
    double sum = 0;
    const int rowBytes = a.GetWidth() * a.GetBpp() / 8;
    for (int y = 0; y < a.GetHeight(); ++y) {
        for (int i = 0; i < rowBytes; ++i) {
            const double d = double(a.GetBits(y)[i]) - double(b.GetBits(y)[i]);
            sum += d * d;
        }
    }
    const double mse = sum / (double(rowBytes) * a.GetHeight());
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

QStringList filesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

}  // namespace

TEST(ImageGeometry, EmptyByDefaultAndCreateZeroes) {
    Image img;
    EXPECT_FALSE(img.IsValid());
    EXPECT_FALSE(img.HasPixels());
    EXPECT_EQ(img.GetBits(), nullptr);
    EXPECT_EQ(img.ToQImage().isNull(), true);

    ASSERT_TRUE(img.Create(7, 3, 24));
    EXPECT_TRUE(img.IsValid());
    EXPECT_TRUE(img.HasPixels());
    EXPECT_EQ(img.GetWidth(), 7);
    EXPECT_EQ(img.GetHeight(), 3);
    EXPECT_EQ(img.GetBpp(), 24);
    for (int y = 0; y < 3; ++y) {
        for (int i = 0; i < img.GetEffWidth(); ++i) {
            EXPECT_EQ(img.GetBits(y)[i], 0);
        }
    }
    EXPECT_EQ(img.GetBits(3), nullptr);
    img.Clear(255);
    for (int y = 0; y < 3; ++y) {
        for (int i = 0; i < img.GetEffWidth(); ++i) {
            ASSERT_EQ(img.GetBits(y)[i], 255);
        }
    }

    EXPECT_FALSE(img.Create(4, 4, 16));
    EXPECT_FALSE(img.IsValid());
    EXPECT_FALSE(img.Create(0, 4, 24));
    EXPECT_FALSE(img.Create(100000, 100000, 24));
    EXPECT_FALSE(img.IsValid());
}

TEST(ImageGeometry, RowsArePaddedToFourBytes) {
    const int expected24[] = {4, 8, 12, 12, 16};  // 3, 6, 9, 12, 15 bytes of pixels
    const int expected8[] = {4, 4, 4, 4, 8};
    for (int w = 1; w <= 5; ++w) {
        Image colour, grey;
        ASSERT_TRUE(colour.Create(w, 3, 24));
        ASSERT_TRUE(grey.Create(w, 3, 8));
        EXPECT_EQ(colour.GetEffWidth(), expected24[w - 1]) << "width " << w;
        EXPECT_EQ(grey.GetEffWidth(), expected8[w - 1]) << "width " << w;
        EXPECT_EQ(colour.GetBits(1) - colour.GetBits(0), colour.GetEffWidth());
        EXPECT_EQ(grey.GetBits(2) - grey.GetBits(1), grey.GetEffWidth());
        EXPECT_EQ(colour.GetSize(), size_t(colour.GetEffWidth()) * 3);
    }
}

TEST(ImageCreateFromArray, KeepsRowOrderAndCopiesTheBytes) {
    // 3 x 2 pixels, rows of 9 bytes (unpadded, as frame intake passes them).
    std::vector<uint8_t> src(18);
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = uint8_t(i + 1);
    }
    Image img;
    ASSERT_TRUE(img.CreateFromArray(src.data(), 3, 2, 24, 9, false));
    ASSERT_EQ(img.GetEffWidth(), 12);
    EXPECT_EQ(std::memcmp(img.GetBits(0), src.data(), 9), 0);
    EXPECT_EQ(std::memcmp(img.GetBits(1), src.data() + 9, 9), 0);
    for (int i = 9; i < 12; ++i) {
        EXPECT_EQ(img.GetBits(0)[i], 0) << "padding byte " << i;
    }

    // The image holds its own copy.
    std::fill(src.begin(), src.end(), uint8_t(0xAA));
    EXPECT_EQ(img.GetBits(0)[0], 1);
    EXPECT_EQ(img.GetBits(1)[8], 18);

    // Same size again reuses the storage but takes the new content; flip reverses the rows.
    for (size_t i = 0; i < src.size(); ++i) {
        src[i] = uint8_t(100 + i);
    }
    ASSERT_TRUE(img.CreateFromArray(src.data(), 3, 2, 24, 9, true));
    EXPECT_EQ(std::memcmp(img.GetBits(0), src.data() + 9, 9), 0);
    EXPECT_EQ(std::memcmp(img.GetBits(1), src.data(), 9), 0);
}

TEST(ImageCreateFromArray, RejectsBadArguments) {
    std::vector<uint8_t> src(64, 1);
    Image img;
    EXPECT_FALSE(img.CreateFromArray(nullptr, 2, 2, 24, 6, false));
    EXPECT_FALSE(img.CreateFromArray(src.data(), 2, 2, 24, 5, false));  // stride too short
    EXPECT_FALSE(img.CreateFromArray(src.data(), 2, 2, 32, 8, false));
    EXPECT_FALSE(img.IsValid());
}

TEST(ImageSwapPixels, TakesTheRowsAndGivesBackTheOldStorage) {
    Image img;
    img.Create(4, 2, 24);  // 12-byte rows, no padding
    img.Clear(7);
    std::vector<uint8_t> rows(24);
    for (size_t i = 0; i < rows.size(); ++i) {
        rows[i] = uint8_t(i);
    }
    ASSERT_TRUE(img.SwapPixels(rows, 4, 2, 24));
    EXPECT_EQ(img.GetBits(1)[0], 12);  // row 1 starts after the 12 bytes of row 0
    EXPECT_EQ(img.GetBits(0)[11], 11);
    ASSERT_EQ(rows.size(), 24u);
    EXPECT_EQ(rows[5], 7);  // the image's former pixels

    // A buffer of the wrong size (here without the padding of 5-pixel rows) changes nothing.
    std::vector<uint8_t> unpadded(size_t(5 * 3 * 2), 1);
    EXPECT_FALSE(img.SwapPixels(unpadded, 5, 2, 24));
    EXPECT_EQ(img.GetWidth(), 4);
    EXPECT_EQ(unpadded.size(), 30u);
    EXPECT_FALSE(img.SwapPixels(rows, 0, 2, 24));
}

TEST(ImageCopy, CopiesAreDeepAndIndependent) {
    Image original = gradient(9, 5);
    const Bgr before = pixel(original, 4, 2);

    Image constructed(original);
    Image assigned;
    assigned = original;
    Image copied;
    copied.Copy(original);
    for (Image* copy : {&constructed, &assigned, &copied}) {
        ASSERT_TRUE(copy->IsValid());
        EXPECT_EQ(copy->GetWidth(), 9);
        EXPECT_EQ(copy->GetHeight(), 5);
        EXPECT_NE(copy->GetBits(), original.GetBits());
        EXPECT_EQ(std::memcmp(copy->GetBits(), original.GetBits(), original.GetSize()), 0);
        copy->Clear(7);
    }
    EXPECT_EQ(pixel(original, 4, 2).r, before.r);
    EXPECT_EQ(pixel(original, 4, 2).g, before.g);

    original.Clear(1);
    EXPECT_EQ(constructed.GetBits()[0], 7);

    // Copying an empty image empties the target.
    copied.Copy(Image());
    EXPECT_FALSE(copied.IsValid());

    Image moved(std::move(constructed));
    EXPECT_TRUE(moved.IsValid());
    EXPECT_FALSE(constructed.IsValid());  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(constructed.GetWidth(), 0);
}

TEST(ImageGrayScale, KnownColoursGiveTheirLuma) {
    Image img;
    ASSERT_TRUE(img.Create(5, 2, 24));
    setPixel(img, 0, 0, {255, 255, 255});  // white
    setPixel(img, 1, 0, {0, 0, 0});        // black
    setPixel(img, 2, 0, {0, 0, 255});      // red
    setPixel(img, 3, 0, {0, 255, 0});      // green
    setPixel(img, 4, 0, {255, 0, 0});      // blue
    setPixel(img, 0, 1, {128, 128, 128});  // mid grey stays itself
    ASSERT_TRUE(img.GrayScale());
    EXPECT_EQ(img.GetBpp(), 8);
    EXPECT_EQ(img.GetWidth(), 5);
    EXPECT_EQ(img.GetEffWidth(), 8);
    const uint8_t* row0 = img.GetBits(0);
    EXPECT_EQ(row0[0], 255);
    EXPECT_EQ(row0[1], 0);
    EXPECT_EQ(row0[2], 76);   // 77 * 255 >> 8
    EXPECT_EQ(row0[3], 149);  // 150 * 255 >> 8
    EXPECT_EQ(row0[4], 28);   // 29 * 255 >> 8
    EXPECT_EQ(img.GetBits(1)[0], 128);
    // Green weighs most, blue least.
    EXPECT_GT(row0[3], row0[2]);
    EXPECT_GT(row0[2], row0[4]);

    EXPECT_TRUE(img.GrayScale());  // already grey: unchanged
    EXPECT_EQ(img.GetBits(0)[2], 76);
    Image empty;
    EXPECT_FALSE(empty.GrayScale());
}

TEST(ImageQImage, BottomRowIsTheLastLine) {
    Image img;
    ASSERT_TRUE(img.Create(3, 4, 24));
    setPixel(img, 0, 0, {0, 0, 255});  // bottom-left red
    setPixel(img, 2, 3, {255, 0, 0});  // top-right blue
    const QImage q = img.ToQImage();
    ASSERT_EQ(q.size(), QSize(3, 4));
    EXPECT_EQ(q.pixel(0, 3), qRgb(255, 0, 0));
    EXPECT_EQ(q.pixel(2, 0), qRgb(0, 0, 255));
    EXPECT_EQ(q.pixel(0, 0), qRgb(0, 0, 0));

    // A deep copy: later changes to the image do not show in the QImage.
    img.Clear(255);
    EXPECT_EQ(q.pixel(0, 0), qRgb(0, 0, 0));

    // Back again: the QImage's first line becomes the top (last) row.
    Image back;
    ASSERT_TRUE(back.FromQImage(q));
    EXPECT_EQ(back.GetBpp(), 24);
    EXPECT_EQ(pixel(back, 2, 3).b, 255);
    EXPECT_EQ(pixel(back, 0, 0).r, 255);
    EXPECT_FALSE(back.FromQImage(QImage()));
    EXPECT_FALSE(back.IsValid());

    Image grey;
    ASSERT_TRUE(grey.Create(2, 2, 8));
    grey.GetBits(0)[1] = 200;  // bottom-right
    const QImage qg = grey.ToQImage();
    EXPECT_EQ(qg.format(), QImage::Format_Grayscale8);
    EXPECT_EQ(qGray(qg.pixel(1, 1)), 200);
    EXPECT_EQ(qGray(qg.pixel(1, 0)), 0);
}

TEST(ImageJpeg, RoundTripKeepsSizeQualityAndOrientation) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("gradient.jpg"));
    const Image original = gradient(161, 121);
    ASSERT_TRUE(original.SaveJpeg(path, 90));

    Image decoded;
    ASSERT_TRUE(decoded.LoadJpeg(path));
    EXPECT_EQ(decoded.GetWidth(), 161);
    EXPECT_EQ(decoded.GetHeight(), 121);
    EXPECT_EQ(decoded.GetBpp(), 24);
    EXPECT_GT(psnr(original, decoded), 35.0);

    // Other programs see the same picture: Qt's own decoder agrees on the top-left corner,
    // which is the top row of our bottom-up image.
    const QImage viaQt(path);
    ASSERT_FALSE(viaQt.isNull());
    const QRgb topLeft = viaQt.pixel(0, 0);
    const Bgr expected = pixel(original, 0, 120);
    EXPECT_NEAR(qRed(topLeft), expected.r, 6);
    EXPECT_NEAR(qGreen(topLeft), expected.g, 6);
    EXPECT_NEAR(qBlue(topLeft), expected.b, 6);
}

TEST(ImageJpeg, RedTopStaysAtTheTop) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Image img;
    ASSERT_TRUE(img.Create(64, 48, 24));
    for (int y = 0; y < 48; ++y) {
        for (int x = 0; x < 64; ++x) {
            // Bottom-up rows: the upper half (rows 24..47) red, the lower half blue.
            setPixel(img, x, y, y >= 24 ? Bgr{0, 0, 255} : Bgr{255, 0, 0});
        }
    }
    const QString path = dir.filePath(QStringLiteral("halves.jpg"));
    ASSERT_TRUE(img.SaveJpeg(path, 90));
    Image decoded;
    ASSERT_TRUE(decoded.LoadJpeg(path));
    const Bgr top = pixel(decoded, 10, 47);
    const Bgr bottom = pixel(decoded, 10, 0);
    EXPECT_GT(top.r, 200);
    EXPECT_LT(top.b, 60);
    EXPECT_GT(bottom.b, 200);
    EXPECT_LT(bottom.r, 60);
    const QImage shown = decoded.ToQImage();
    EXPECT_GT(qRed(shown.pixel(10, 0)), 200);
}

TEST(ImageJpeg, GreyImagesGiveGreyFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    Image img = gradient(40, 30);
    ASSERT_TRUE(img.GrayScale());
    const QString path = dir.filePath(QStringLiteral("grey.jpg"));
    ASSERT_TRUE(img.SaveJpeg(path, 90));
    EXPECT_TRUE(QImage(path).isGrayscale());
    Image decoded;
    ASSERT_TRUE(decoded.LoadJpeg(path));
    ASSERT_EQ(decoded.GetBpp(), 24);
    const Bgr p = pixel(decoded, 30, 20);
    EXPECT_EQ(p.r, p.g);
    EXPECT_EQ(p.g, p.b);
    EXPECT_NEAR(p.g, img.GetBits(20)[30], 4);
}

TEST(ImageJpeg, OverwritesAnExistingFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("shot.jpg"));
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old contents");
    old.close();
    ASSERT_TRUE(gradient(16, 16).SaveJpeg(path, 90));
    Image decoded;
    EXPECT_TRUE(decoded.LoadJpeg(path));
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("shot.jpg")});
}

TEST(ImageJpeg, FailuresLeaveNoFileBehind) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString missing = dir.filePath(QStringLiteral("missing/shot.jpg"));
    EXPECT_FALSE(gradient(16, 16).SaveJpeg(missing, 90));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));

    const QString path = dir.filePath(QStringLiteral("empty.jpg"));
    EXPECT_FALSE(Image().SaveJpeg(path, 90));
    EXPECT_TRUE(filesIn(dir.path()).isEmpty());
}

class ImageJpegShortWrite : public ::testing::TestWithParam<std::pair<int, rlim_t>> {};

// A file larger than the limit is cut short by the disk; a small file is cut short only when
// the buffered rest is flushed, which the write calls themselves do not report.
INSTANTIATE_TEST_SUITE_P(Sizes, ImageJpegShortWrite,
                         ::testing::Values(std::pair<int, rlim_t>{300, 20000},
                                           std::pair<int, rlim_t>{40, 1024}));

TEST_P(ImageJpegShortWrite, KeepsTheOlderFile) {
    const int height = GetParam().first;
    const int width = height * 4 / 3;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("shot.jpg"));
    ASSERT_TRUE(gradient(16, 16).SaveJpeg(path, 90));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    // Noise compresses badly: far larger than the file-size limit set below, so the write
    // runs out of room like on a full disk.
    Image noise;
    ASSERT_TRUE(noise.Create(width, height, 24));
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < width * 3; ++i) {
            seed = seed * 1664525u + 1013904223u;
            noise.GetBits(y)[i] = uint8_t(seed >> 24);
        }
    }
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = GetParam().second;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool ok = noise.SaveJpeg(path, 90);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(ok);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), before);
    EXPECT_EQ(filesIn(dir.path()), QStringList{QStringLiteral("shot.jpg")});
}

TEST(ImageJpeg, LoadRejectsOtherFiles) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("not.jpg"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is not a picture");
    file.close();
    Image img = gradient(8, 8);
    EXPECT_FALSE(img.LoadJpeg(path));
    EXPECT_FALSE(img.LoadJpeg(dir.filePath(QStringLiteral("absent.jpg"))));
    EXPECT_EQ(img.GetWidth(), 8);  // unchanged
}
