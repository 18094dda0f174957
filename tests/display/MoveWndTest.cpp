// The pan-and-zoom window, driven offscreen over a real frame store, view transform and
// overlay: the opening state, the scroll bars, the held size buttons and the double-click.
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cmath>
#include <vector>

#include "capture/FrameStore.h"
#include "display/MoveWnd.h"
#include "display/Overlay.h"
#include "display/PanPreview.h"
#include "display/ViewTransform.h"
#include "settings/TextTable.h"
#include "settings/Texts.h"

namespace {

// A 640 x 480 frame as the camera delivers it (rows bottom-up): dark, with a bright disc at
// (cx, cy) counted from the top.
std::vector<uint8_t> DiscFrame(double cx, double cy, double r) {
    std::vector<uint8_t> px(640 * 480 * 3, 20);
    for (int row = 0; row < 480; ++row) {
        const int top = 479 - row;
        for (int x = 0; x < 640; ++x) {
            if ((x - cx) * (x - cx) + (top - cy) * (top - cy) <= r * r) {
                std::fill_n(&px[(size_t(row) * 640 + x) * 3], 3, uint8_t(210));
            }
        }
    }
    return px;
}

QString Text(CMoveWnd& wnd, const char* name) {
    return wnd.findChild<QLabel*>(QLatin1String(name))->text();
}

}  // namespace

class MoveWndTest : public QObject {
    Q_OBJECT

    const Texts m_texts;
    FrameStore m_frames;
    ViewTransform m_view{m_frames};
    Overlay m_overlay;

private Q_SLOTS:
    void init() {
        m_view.SetVideoSize(640, 480);
        m_view.SetPan(0.0f, 0.0f);
        m_view.SetViewZoom(1.0f);
        m_view.SetFactoryMode(true);
        OverlaySettings s;
        s.m_bMaskEnable = 1;
        s.m_fMaskRadius = 0.5f;
        s.m_fCrossSize = 0.25f;
        m_overlay.setSettings(s);
        m_overlay.BuildOverlay(640, 480);
    }

    void opensModelessWithTheMaskBoxUnchecked() {
        CMoveWnd wnd(m_texts, m_view, m_overlay, m_frames, nullptr);
        wnd.Open();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        QVERIFY(!wnd.isModal());
        QVERIFY(wnd.windowFlags().testFlag(Qt::Tool));
        QCOMPARE(wnd.windowTitle(), BuiltInDefault(u"MoveWnd", u"MainCaption"));
        QCOMPARE(wnd.panFrameColour(), ColorRef(0x0000FF));
        QCOMPARE(Text(wnd, "factor"), QStringLiteral(" 100.0%"));
        QCOMPARE(Text(wnd, "maskSize"), QStringLiteral(" 100.0%"));
        QCOMPARE(Text(wnd, "crossSize"), QStringLiteral("  50.0%"));
        QVERIFY(wnd.previewTimer()->isActive());
        QCOMPARE(wnd.previewTimer()->interval(), 50);

        // The mask is on but its box opens unchecked; the first click keeps it on.
        auto* mask = wnd.findChild<QCheckBox*>(QStringLiteral("maskEnable"));
        QVERIFY(!mask->isChecked());
        mask->click();
        QVERIFY(mask->isChecked());
        QCOMPARE(m_overlay.settings().m_bMaskEnable, uint8_t(1));
        mask->click();
        QVERIFY(!m_overlay.current().prepared->settings().m_bMaskEnable);

        // Closing only hides it and stops the preview.
        QVERIFY(wnd.close());
        QVERIFY(!wnd.isVisible());
        QVERIFY(!wnd.previewTimer()->isActive());
    }

    void scrollBarsFollowTheAcceptanceRules() {
        CMoveWnd wnd(m_texts, m_view, m_overlay, m_frames, nullptr);
        auto* column = wnd.findChild<QScrollBar*>(QStringLiteral("panColumn"));
        QCOMPARE(column->maximum(), 640);
        QCOMPARE(column->value(), 320);
        column->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(column->value(), 319);
        QCOMPARE(m_frames.transform().m_nCenterX, 319);
        QCOMPARE(Text(wnd, "leftRight"), QStringLiteral("   0.0%"));
        column->triggerAction(QAbstractSlider::SliderSingleStepSub);
        QCOMPARE(Text(wnd, "leftRight"), QStringLiteral("  -0.6%"));
        // Page steps move nothing; a thumb let go past the edge goes back.
        column->triggerAction(QAbstractSlider::SliderPageStepSub);
        QCOMPARE(column->value(), 318);
        column->setSliderDown(true);
        column->setSliderPosition(450);
        column->setSliderDown(false);
        QCOMPARE(column->value(), 318);
        QCOMPARE(m_frames.transform().m_nCenterX, 318);
        column->setSliderDown(true);
        column->setSliderPosition(350);
        column->setSliderDown(false);
        QCOMPARE(m_frames.transform().m_nCenterX, 350);
        QCOMPARE(Text(wnd, "leftRight"), QStringLiteral("   9.4%"));
        // The full-height square cannot move vertically.
        auto* row = wnd.findChild<QScrollBar*>(QStringLiteral("panRow"));
        row->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        QCOMPARE(row->value(), 240);
        QCOMPARE(m_frames.transform().m_nCenterY, 240);
    }

    void aHeldSizeButtonRepeatsEveryStepUntilReleased() {
        CMoveWnd wnd(m_texts, m_view, m_overlay, m_frames, nullptr);
        wnd.Open();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        auto* smaller = wnd.findChild<QPushButton*>(QStringLiteral("maskSmaller"));
        QTest::mousePress(smaller, Qt::LeftButton);
        QVERIFY(wnd.repeatTimer()->isActive());
        QCOMPARE(wnd.repeatTimer()->interval(), 200);
        double last = 100.0;
        for (int i = 0; i < 36; ++i) {
            QMetaObject::invokeMethod(wnd.repeatTimer(), "timeout");
            const double shown = Text(wnd, "maskSize").chopped(1).toDouble();
            QCOMPARE(shown, i < 35 ? last - 2.0 : 30.0);
            last = shown;
        }
        QCOMPARE(Text(wnd, "maskSize"), QStringLiteral("  30.0%"));
        QCOMPARE(m_overlay.current().prepared->settings().m_fMaskRadius, 0.15f);

        // Released away from the button: the repeat ends and no click step follows.
        QTest::mouseRelease(smaller, Qt::LeftButton, {}, QPoint(-40, -40));
        QVERIFY(!wnd.repeatTimer()->isActive());

        // A plain click is one step.
        auto* larger = wnd.findChild<QPushButton*>(QStringLiteral("crossLarger"));
        QTest::mouseClick(larger, Qt::LeftButton);
        QVERIFY(!wnd.repeatTimer()->isActive());
        QCOMPARE(m_overlay.settings().m_fCrossSize, float(0.25 + 0.02));
    }

    void doubleClickCentresAndCropsOnTheBrightField() {
        const std::vector<uint8_t> disc = DiscFrame(300, 260, 120);
        m_frames.OnFrame(disc.data(), 640, 480, 24);
        CMoveWnd wnd(m_texts, m_view, m_overlay, m_frames, nullptr);
        wnd.Open();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        auto* preview = wnd.findChild<PanPreview*>(QStringLiteral("preview"));
        QTRY_VERIFY(preview->frame().IsValid());

        QTest::mouseDClick(preview, Qt::LeftButton);
        const TransformState t = m_frames.transform();
        QVERIFY(std::abs(t.m_fViewZoom - 2.0f) < 0.03f);
        QVERIFY(std::abs(t.m_nCenterX - 300) <= 2);
        QVERIFY(std::abs(t.m_nCenterY - 220) <= 2);
        QCOMPARE(wnd.findChild<QScrollBar*>(QStringLiteral("panRow"))->value(), wnd.model().barY());
        QVERIFY(Text(wnd, "factor").startsWith(QStringLiteral(" 19")) ||
                Text(wnd, "factor").startsWith(QStringLiteral(" 20")));

        // The next frame is cut to the disc's square and shows it in the middle.
        m_frames.OnFrame(disc.data(), 640, 480, 24);
        Image shown;
        QVERIFY(m_frames.copyCurrentImage(shown));
        const auto grey = [&](int x, int top) { return shown.GetBits(479 - top)[3 * x]; };
        QCOMPARE(grey(320, 240), uint8_t(210));
        QCOMPARE(grey(320, 240 - 115), uint8_t(210));
        QCOMPARE(grey(320 - 115, 240), uint8_t(210));
        QCOMPARE(grey(60, 240), uint8_t(0));  // outside the square: no picture

        // A frame with no field: the view goes back to the centre at full height.
        const std::vector<uint8_t> flat(640 * 480 * 3, 90);
        m_frames.OnFrame(flat.data(), 640, 480, 24);
        QTRY_VERIFY(preview->frame().GetBits(0)[0] == 90);
        QTest::mouseDClick(preview, Qt::LeftButton);
        QCOMPARE(m_frames.transform().m_fViewZoom, 1.0f);
        QCOMPARE(m_frames.transform().m_nCenterX, 320);
        QCOMPARE(Text(wnd, "factor"), QStringLiteral(" 100.0%"));
        m_frames.Free();
    }
};

QTEST_MAIN(MoveWndTest)
#include "MoveWndTest.moc"
