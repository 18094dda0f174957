// The preview's picture on screen, grabbed in device pixels: sharp at the video's size when
// the desktop's scale is a whole number, smooth otherwise, and never stretched out of its
// aspect ratio. ctest runs this at QT_SCALE_FACTOR 1, 1.5 and 2.
#include <QImage>
#include <QTest>
#include <cmath>

#include "display/PreviewWidget.h"

namespace {

const QRgb kBackdrop = qRgb(0x20, 0x22, 0x26);

// One-pixel checkerboard: any blur or misplaced pixel shows.
QImage Checkerboard(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            image.setPixel(x, y, (x + y) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
        }
    }
    return image;
}

QImage Grab(PreviewWidget& widget) {
    return widget.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace

class PreviewWidgetTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pictureAtTheVideoSizeIsSharpOrSmooth() {
        PreviewWidget widget;
        const QImage picture = Checkerboard(64, 48);
        widget.setImage(picture);
        widget.setMinimumSize(64, 48);
        widget.setFixedSize(64, 48);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        const qreal ratio = widget.devicePixelRatioF();
        // The scale ctest asked for is the one in force (else three runs test scale 1).
        const QByteArray asked = qgetenv("QT_SCALE_FACTOR");
        QCOMPARE(ratio, asked.isEmpty() ? 1.0 : asked.toDouble());
        const QImage shown = Grab(widget);
        QCOMPARE(shown.size(), QSize(qRound(64 * ratio), qRound(48 * ratio)));

        if (ratio == std::floor(ratio)) {
            // Each picture pixel becomes a whole block of screen pixels, unchanged.
            const int k = int(ratio);
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x) {
                    QCOMPARE(shown.pixel(x, y), picture.pixel(x / k, y / k));
                }
            }
        } else {
            // Scaled smoothly over the whole area: no bar, and blended pixels in between.
            int blended = 0;
            for (int y = 0; y < shown.height(); ++y) {
                for (int x = 0; x < shown.width(); ++x) {
                    QVERIFY(shown.pixel(x, y) != kBackdrop);
                    const int grey = qGreen(shown.pixel(x, y));
                    blended += grey > 30 && grey < 225;
                }
            }
            QVERIFY2(blended > shown.width() * shown.height() / 4,
                     qPrintable(QString::number(blended)));
        }
    }

    void resizedAreaKeepsTheAspectRatio() {
        PreviewWidget widget;
        QImage picture(160, 120, QImage::Format_RGB32);
        picture.fill(qRgb(200, 40, 40));
        widget.setImage(picture);
        widget.show();
        QVERIFY(QTest::qWaitForWindowExposed(&widget));
        const qreal r = widget.devicePixelRatioF();
        const auto at = [&](const QImage& shown, qreal x, qreal y) {
            return shown.pixel(int(x * r), int(y * r));
        };

        // Wider than 4:3: a 200 × 150 picture in the middle, bars left and right.
        widget.resize(400, 150);
        QImage shown = Grab(widget);
        QCOMPARE(at(shown, 200, 75), picture.pixel(0, 0));
        QCOMPARE(at(shown, 102, 2), picture.pixel(0, 0));
        QCOMPARE(at(shown, 297, 147), picture.pixel(0, 0));
        QCOMPARE(at(shown, 97, 75), kBackdrop);
        QCOMPARE(at(shown, 303, 75), kBackdrop);
        QCOMPARE(at(shown, 1, 1), kBackdrop);

        // Taller (a maximised window on a portrait screen): bars above and below.
        widget.resize(160, 400);
        shown = Grab(widget);
        QCOMPARE(at(shown, 80, 200), picture.pixel(0, 0));
        QCOMPARE(at(shown, 80, 143), picture.pixel(0, 0));
        QCOMPARE(at(shown, 80, 137), kBackdrop);
        QCOMPARE(at(shown, 80, 263), kBackdrop);
    }
};

QTEST_MAIN(PreviewWidgetTest)
#include "PreviewWidgetTest.moc"
