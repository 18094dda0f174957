// The display worker: what reaches the composed image (the source of snapshots and recordings)
// and the preview widget, under bursts of frames, suspension, placeholders and teardown.
// Frames enter through the real frame store, as the capture thread delivers them.
#include <QTest>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "capture/FrameStore.h"
#include "contracts/Image.h"
#include "display/DisplayWorker.h"
#include "display/Overlay.h"
#include "display/PreviewWidget.h"

using namespace std::chrono_literals;

namespace {

// A w x h frame (rows bottom-up, w * 3 bytes each) whose bytes depend on the position and on
// `tag`, so that two frames and two pixels differ.
std::vector<uint8_t> MakeFrame(int w, int h, int tag) {
    std::vector<uint8_t> bytes(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &bytes[(size_t(y) * w + x) * 3];
            p[0] = uint8_t(x + tag);
            p[1] = uint8_t(y * 3 + tag);
            p[2] = uint8_t(tag * 7 + 1);
        }
    }
    return bytes;
}

// One frame through the frame store, its pan square centred on the frame.
void Publish(FrameStore& store, int w, int h, int tag) {
    store.updateTransform([w, h](TransformState& t) {
        t.m_nCenterX = w / 2;
        t.m_nCenterY = h / 2;
        t.m_nVideoWidth = w;
        t.m_nVideoHeight = h;
    });
    const std::vector<uint8_t> frame = MakeFrame(w, h, tag);
    store.OnFrame(frame.data(), w, h, 24);
}

Image CurrentCopy(FrameStore& store) {
    Image copy;
    store.copyCurrentImage(copy);
    return copy;
}

bool IsWhite(const uint8_t* p) {
    return p[0] == 255 && p[1] == 255 && p[2] == 255;
}

Image ReferenceBlend(const Image& frame, const Image& canvas) {
    Image out(frame);
    for (int y = 0; y < frame.GetHeight(); ++y) {
        for (int x = 0; x < frame.GetWidth(); ++x) {
            if (!IsWhite(canvas.GetBits(y) + x * 3)) {
                std::memcpy(out.GetBits(y) + x * 3, canvas.GetBits(y) + x * 3, 3);
            }
        }
    }
    return out;
}

bool SamePixels(const Image& a, const Image& b) {
    if (!a.IsValid() || !b.IsValid() || a.GetWidth() != b.GetWidth() ||
        a.GetHeight() != b.GetHeight()) {
        return false;
    }
    for (int y = 0; y < a.GetHeight(); ++y) {
        if (std::memcmp(a.GetBits(y), b.GetBits(y), size_t(a.GetWidth()) * 3) != 0) {
            return false;
        }
    }
    return true;
}

// The widget's picture turned back into a bottom-up image.
Image Shown(const PreviewWidget& widget) {
    Image img;
    img.FromQImage(widget.image());
    return img;
}

OverlaySettings Marks(bool mask, bool cross) {
    OverlaySettings s;
    s.m_bMaskEnable = mask ? 1 : 0;
    s.m_bCrossEnable = cross ? 1 : 0;
    s.m_clrMask = 0x00FF00;
    return s;
}

}  // namespace

class DisplayWorkerTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<FrameStore> m_store;
    std::unique_ptr<Overlay> m_overlay;
    std::unique_ptr<PreviewWidget> m_widget;
    std::unique_ptr<DisplayWorker> m_worker;

    void settle() {
        QVERIFY(m_worker->waitIdle(10s));
        QCoreApplication::processEvents();
    }

private Q_SLOTS:
    void init() {
        m_store = std::make_unique<FrameStore>();
        m_overlay = std::make_unique<Overlay>();
        m_widget = std::make_unique<PreviewWidget>();
        m_worker = std::make_unique<DisplayWorker>(*m_store, *m_overlay, m_widget.get());
        m_store->onFramePublished = [this] { m_worker->notifyFrame(); };
    }

    void cleanup() {
        m_worker->stop();
        m_store->Free();
        m_worker.reset();
        QCoreApplication::processEvents();
        m_widget.reset();
        m_overlay.reset();
        m_store.reset();
    }

    void marksOffComposeTheCurrentImageUnchanged() {
        // Built with marks, then both switched off without a rebuild: nothing is blended.
        m_overlay->setSettings(Marks(true, true));
        m_overlay->BuildOverlay(320, 240);
        m_overlay->setSettings(Marks(false, false));
        Publish(*m_store, 320, 240, 5);
        settle();
        Image composed;
        QVERIFY(m_store->copyComposedImage(composed));
        QVERIFY(SamePixels(composed, CurrentCopy(*m_store)));
        QVERIFY(SamePixels(Shown(*m_widget), composed));
    }

    void maskIsComposedAtFrameResolution() {
        m_overlay->setSettings(Marks(true, false));
        m_overlay->BuildOverlay(640, 480);
        Publish(*m_store, 640, 480, 9);
        settle();
        const Image current = CurrentCopy(*m_store);
        QCOMPARE(current.GetWidth(), 640);
        Image composed;
        QVERIFY(m_store->copyComposedImage(composed));
        QCOMPARE(composed.GetWidth(), 640);
        QCOMPARE(composed.GetHeight(), 480);
        QVERIFY(SamePixels(
            composed, ReferenceBlend(current, BuildOverlayImage(Marks(true, false), 640, 480))));
        // Corner masked green, centre untouched.
        QCOMPARE(composed.GetBits(0)[1], uint8_t(0xFF));
        QCOMPARE(composed.GetBits(0)[0], uint8_t(0));
        QVERIFY(std::memcmp(composed.GetBits(240) + 320 * 3, current.GetBits(240) + 320 * 3, 3) ==
                0);
        // The widget shows the same picture, top-down.
        QVERIFY(SamePixels(Shown(*m_widget), composed));
        QCOMPARE(m_widget->image().width(), 640);
    }

    void everyFrameCarriesTheMarksInForceWhenItWasComposed() {
        // The worker keeps the marks in its two alternating images and rewrites only the
        // picture between them; a rebuild or switching the marks off must still show.
        OverlaySettings marks = Marks(true, true);
        m_overlay->setSettings(marks);
        m_overlay->BuildOverlay(320, 240);
        for (int tag = 1; tag <= 6; ++tag) {
            if (tag == 4) {
                marks.m_clrMask = 0x00FFFF;
                marks.m_fMaskRadius = 0.3f;
                m_overlay->setSettings(marks);
                m_overlay->Rebuild();
            }
            if (tag == 6) {
                m_overlay->setSettings(Marks(false, false));
            }
            Publish(*m_store, 320, 240, tag);
            settle();
            Image composed;
            QVERIFY(m_store->copyComposedImage(composed));
            const Image current = CurrentCopy(*m_store);
            const Image expected =
                tag == 6 ? current : ReferenceBlend(current, BuildOverlayImage(marks, 320, 240));
            QVERIFY2(SamePixels(composed, expected), qPrintable(QString("frame %1").arg(tag)));
        }
    }

    void framesOfAnotherSizeGetTheMarksAtTheirSize() {
        m_overlay->setSettings(Marks(true, true));
        m_overlay->BuildOverlay(640, 480);
        Publish(*m_store, 320, 240, 2);
        settle();
        Image composed;
        QVERIFY(m_store->copyComposedImage(composed));
        QVERIFY(SamePixels(
            composed,
            ReferenceBlend(CurrentCopy(*m_store), BuildOverlayImage(Marks(true, true), 320, 240))));
    }

    void burstLeavesTheNewestFrameAndNothingQueued() {
        m_overlay->setSettings(Marks(true, true));
        m_overlay->BuildOverlay(640, 480);
        const int frames = 50;
        // The GUI thread is busy (joining) while the capture thread delivers the burst, so no
        // delivery can run in between: one queued call must carry them all.
        std::thread capture([this] {
            for (int i = 1; i <= frames; ++i) {
                Publish(*m_store, 640, 480, i);
            }
        });
        capture.join();
        QVERIFY(m_worker->waitIdle(10s));
        QVERIFY(m_worker->composedCount() >= 1);
        QVERIFY(m_worker->composedCount() <= frames);
        QCOMPARE(m_worker->postedCount(), 1);
        QCOMPARE(m_worker->deliveredCount(), 0);

        const Image expected =
            ReferenceBlend(CurrentCopy(*m_store), BuildOverlayImage(Marks(true, true), 640, 480));
        Image composed;
        QVERIFY(m_store->copyComposedImage(composed));
        QVERIFY(SamePixels(composed, expected));
        QCOMPARE(int(composed.GetBits(200)[300 * 3]), (300 + frames) & 0xFF);  // frame 50

        QCoreApplication::processEvents();
        QCOMPARE(m_worker->deliveredCount(), 1);
        QVERIFY(SamePixels(Shown(*m_widget), expected));
        QCoreApplication::processEvents();
        QCOMPARE(m_worker->postedCount(), 1);  // nothing was left in the queue
        QCOMPARE(m_worker->deliveredCount(), 1);
    }

    void notificationsWhileBusyCollapseIntoOne() {
        Publish(*m_store, 160, 120, 1);
        settle();
        const int before = m_worker->composedCount();
        // While the worker cannot fetch a frame (a reader holds the frame lock), fifty more
        // notifications arrive.
        const bool held = m_store->readComposedImage([this](const Image&) {
            for (int i = 0; i < 50; ++i) {
                m_worker->notifyFrame();
                if (i == 0) {
                    std::this_thread::sleep_for(20ms);  // let the worker block on the lock
                }
            }
        });
        QVERIFY(held);
        settle();
        QVERIFY(m_worker->composedCount() - before >= 1);
        QVERIFY(m_worker->composedCount() - before <= 2);
    }

    void placeholderBeforeFirstFrameThenFrames() {
        m_overlay->setSettings(Marks(true, true));
        m_overlay->BuildOverlay(320, 240);
        m_worker->showPlaceholder();
        settle();
        const Image canvas = BuildOverlayImage(Marks(true, true), 320, 240);
        QVERIFY(SamePixels(Shown(*m_widget), canvas));
        Image composed;
        QVERIFY(!m_store->copyComposedImage(composed));  // a placeholder is no frame

        Publish(*m_store, 320, 240, 4);
        settle();
        QVERIFY(SamePixels(Shown(*m_widget), ReferenceBlend(CurrentCopy(*m_store), canvas)));

        // A format change: the current image goes, the placeholder comes back.
        m_store->DeleteCurrentImage();
        m_worker->showPlaceholder();
        settle();
        QVERIFY(SamePixels(Shown(*m_widget), canvas));
    }

    void aShownPreviewGetsPicturesScaledToItsAreaAlsoAfterAResize() {
        // A frame larger than the preview arrives scaled to the fitted size, top-down, so
        // the paint only copies it; a resize redraws the last frame without a new one.
        m_overlay->setSettings(Marks(false, false));
        m_overlay->BuildOverlay(640, 480);
        m_widget->resize(400, 400);
        m_widget->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_widget.get()));
        const QSize area = m_widget->pictureArea();
        std::vector<uint8_t> frame(size_t(640) * 480 * 3);
        for (int y = 0; y < 480; ++y) {  // bottom half blue, top half red (rows bottom-up)
            for (int x = 0; x < 640; ++x) {
                frame[(size_t(y) * 640 + x) * 3 + (y < 240 ? 0 : 2)] = 200;
            }
        }
        m_store->OnFrame(frame.data(), 640, 480, 24);
        settle();
        const QSize fitted = PreviewWidget::PictureRect(QSize(640, 480), area).size();
        QCOMPARE(m_widget->image().size(), fitted);
        QCOMPARE(m_widget->image().pixelColor(fitted.width() / 2, 2), QColor(200, 0, 0));
        QCOMPARE(m_widget->image().pixelColor(fitted.width() / 2, fitted.height() - 3),
                 QColor(0, 0, 200));

        m_widget->resize(200, 300);
        QTRY_VERIFY(m_widget->pictureArea() != area);
        const QSize smaller =
            PreviewWidget::PictureRect(QSize(640, 480), m_widget->pictureArea()).size();
        QTRY_COMPARE(m_widget->image().size(), smaller);
        QCOMPARE(m_widget->image().pixelColor(smaller.width() / 2, 1), QColor(200, 0, 0));
        m_widget->resize(1000, 800);  // larger than the frame: the frame's own pixels
        QTRY_COMPARE(m_widget->image().size(), QSize(640, 480));
        QVERIFY(SamePixels(Shown(*m_widget), CurrentCopy(*m_store)));
    }

    void placeholderWithoutOverlayDrawsNothing() {
        m_worker->showPlaceholder();
        settle();
        QVERIFY(m_widget->image().isNull());
        QCOMPARE(m_worker->postedCount(), 0);
    }

    void suspendedWindowDrawsNothingButComposes() {
        m_overlay->setSettings(Marks(false, false));
        Publish(*m_store, 160, 120, 1);
        settle();
        const int delivered = m_worker->deliveredCount();
        m_worker->setSuspended(true);
        Publish(*m_store, 160, 120, 2);
        Publish(*m_store, 160, 120, 3);
        settle();
        QCOMPARE(m_worker->deliveredCount(), delivered);
        Image composed;
        QVERIFY(m_store->copyComposedImage(composed));
        QVERIFY(SamePixels(composed, CurrentCopy(*m_store)));  // snapshots stay current
        QVERIFY(!SamePixels(Shown(*m_widget), composed));

        m_worker->setSuspended(false);
        settle();
        QCOMPARE(m_worker->deliveredCount(), delivered + 1);
        QVERIFY(SamePixels(Shown(*m_widget), composed));
    }

    void stopJoinsWhileFramesKeepComing() {
        std::atomic<bool> running{true};
        std::thread capture([this, &running] {
            int i = 0;
            while (running) {
                Publish(*m_store, 320, 240, ++i);
            }
        });
        std::this_thread::sleep_for(50ms);
        m_worker->stop();
        const int composed = m_worker->composedCount();
        std::this_thread::sleep_for(30ms);
        running = false;
        capture.join();
        QCOMPARE(m_worker->composedCount(), composed);  // nothing after stop
        m_worker->stop();                               // twice is harmless
    }

    void deliveryToADestroyedWidgetIsDropped() {
        Publish(*m_store, 160, 120, 1);
        QVERIFY(m_worker->waitIdle(10s));
        QCOMPARE(m_worker->postedCount(), 1);
        m_worker->stop();
        m_widget.reset();  // before the queued delivery ran
        QCoreApplication::processEvents();
        QCOMPARE(m_worker->deliveredCount(), 0);
    }
};

QTEST_MAIN(DisplayWorkerTest)
#include "DisplayWorkerTest.moc"
