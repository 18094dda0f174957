// The mask window, driven offscreen: size limits, colours, check boxes, texts, keys and the
// live view, and that every change reaches the overlay at once.
#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <vector>

#include "capture/FrameStore.h"
#include "display/MaskWnd.h"
#include "display/Overlay.h"
#include "display/PreviewWidget.h"
#include "settings/TextTable.h"
#include "settings/Texts.h"

namespace {

OverlaySettings Sizes(float radius, float cross) {
    OverlaySettings s;
    s.m_fMaskRadius = radius;
    s.m_fCrossSize = cross;
    return s;
}

// Clicks `name` n times and returns the value of `field` after each click.
std::vector<float> Clicks(CMaskWnd& wnd, const char* name, int n, float OverlaySettings::*field) {
    auto* button = wnd.findChild<QPushButton*>(QLatin1String(name));
    std::vector<float> values;
    for (int i = 0; i < n; ++i) {
        button->click();
        values.push_back(wnd.settings().*field);
    }
    return values;
}

float Step(float value, double step) {
    return float(double(value) + step);
}

}  // namespace

class MaskWndTest : public QObject {
    Q_OBJECT

    // No language file: every text is its built-in default.
    const Texts m_texts;

private Q_SLOTS:
    void maskShrinksNoFurtherThanTheCrossOrAQuarter() {
        CMaskWnd byCross(m_texts, Sizes(0.3f, 0.28f), nullptr, {});
        const auto a = Clicks(byCross, "maskSmaller", 3, &OverlaySettings::m_fMaskRadius);
        QCOMPARE(a[0], Step(0.3f, -0.01));
        QCOMPARE(a[1], 0.28f);
        QCOMPARE(a[2], 0.28f);

        CMaskWnd byQuarter(m_texts, Sizes(0.27f, 0.1f), nullptr, {});
        const auto b = Clicks(byQuarter, "maskSmaller", 3, &OverlaySettings::m_fMaskRadius);
        QCOMPARE(b[0], Step(0.27f, -0.01));
        QCOMPARE(b[2], 0.25f);
    }

    void maskGrowsUpToHalf() {
        CMaskWnd wnd(m_texts, Sizes(0.48f, 0.2f), nullptr, {});
        const auto v = Clicks(wnd, "maskLarger", 3, &OverlaySettings::m_fMaskRadius);
        QCOMPARE(v[0], Step(0.48f, 0.01));
        QCOMPARE(v[2], 0.5f);
    }

    void crossGrowsUpToTheMaskAndShrinksToZero() {
        CMaskWnd wnd(m_texts, Sizes(0.4f, 0.35f), nullptr, {});
        const auto up = Clicks(wnd, "crossLarger", 4, &OverlaySettings::m_fCrossSize);
        QCOMPARE(up[0], Step(0.35f, 0.02));
        QCOMPARE(up[3], 0.4f);

        CMaskWnd low(m_texts, Sizes(0.4f, 0.03f), nullptr, {});
        const auto down = Clicks(low, "crossSmaller", 3, &OverlaySettings::m_fCrossSize);
        QCOMPARE(down[0], Step(0.03f, -0.02));
        QCOMPARE(down[1], 0.0f);
        QCOMPARE(down[2], 0.0f);
    }

    void everyChangeRebuildsTheOverlayAtOnce() {
        Overlay overlay;
        overlay.setSettings(Sizes(0.5f, 0.25f));
        overlay.BuildOverlay(320, 240);
        int changes = 0;
        CMaskWnd wnd(m_texts, overlay.settings(), nullptr, [&](const OverlaySettings& s) {
            ++changes;
            overlay.setSettings(s);
            overlay.Rebuild();
        });
        auto corner = [&] {
            const Image& c = overlay.current().prepared->canvas();
            const uint8_t* p = c.GetBits(0);
            return MakeColorRef(p[2], p[1], p[0]);
        };
        QCOMPARE(corner(), ColorRef(0x000000));

        // The colour chooser's presets: yellow for the mask.
        QMenu* menu = wnd.findChild<QPushButton*>(QStringLiteral("maskColour"))->menu();
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 8);  // six presets, a separator, "Other"
        menu->actions().at(1)->trigger();
        QCOMPARE(wnd.settings().m_clrMask, ColorRef(0x00FFFF));
        QCOMPARE(wnd.settings().m_nMaskColorIndex, 1);
        QCOMPARE(corner(), ColorRef(0x00FFFF));

        // A white crosshair reaches the overlay too (and is invisible there).
        wnd.findChild<QPushButton*>(QStringLiteral("crossColour"))
            ->menu()
            ->actions()
            .at(5)
            ->trigger();
        QCOMPARE(wnd.settings().m_nCrossColorIndex, 5);
        QCOMPARE(overlay.current().prepared->settings().m_clrCross, ColorRef(0xFFFFFF));

        // A free colour changes the colour only.
        wnd.OnMaskColor(0x123456);
        QCOMPARE(wnd.settings().m_nMaskColorIndex, 1);
        QCOMPARE(corner(), ColorRef(0x123456));

        // The check box switches the mask off: the blend stops.
        wnd.findChild<QCheckBox*>(QStringLiteral("maskEnable"))->click();
        QCOMPARE(wnd.settings().m_bMaskEnable, uint8_t(0));
        QCOMPARE(corner(), ColorRef(0xFFFFFF));
        wnd.findChild<QCheckBox*>(QStringLiteral("crossEnable"))->click();
        QVERIFY(!overlay.current().blend);

        wnd.findChild<QPushButton*>(QStringLiteral("crossSmaller"))->click();
        QCOMPARE(overlay.settings().m_fCrossSize, Step(0.25f, -0.02));
        QCOMPARE(changes, 6);
    }

    void textsComeFromTheLanguageSection() {
        CMaskWnd wnd(m_texts, OverlaySettings{}, nullptr, {});
        QCOMPARE(wnd.windowTitle(), BuiltInDefault(u"MaskWnd", u"MainCaption"));
        QCOMPARE(wnd.findChild<QCheckBox*>(QStringLiteral("maskEnable"))->text(),
                 BuiltInDefault(u"MaskWnd", u"MASKENABLE"));
        QCOMPARE(wnd.findChild<QPushButton*>(QStringLiteral("crossSmaller"))->text(),
                 BuiltInDefault(u"MaskWnd", u"CROSSZOOMOUT"));
        const auto groups = wnd.findChildren<QGroupBox*>();
        QCOMPARE(groups.size(), 2);
        QCOMPARE(groups[0]->title(), BuiltInDefault(u"MaskWnd", u"MASKFRAME"));
        // Red crosshair: the colour button names the preset.
        QCOMPARE(wnd.findChild<QPushButton*>(QStringLiteral("crossColour"))->text(),
                 BuiltInDefault(u"ColorNames", u"RED"));
        QMenu* menu = wnd.findChild<QPushButton*>(QStringLiteral("maskColour"))->menu();
        QCOMPARE(menu->actions().at(7)->text(), BuiltInDefault(u"ColorNames", u"OTHER"));
    }

    void escapeIsIgnoredEnterAndCloseBoxEnd() {
        CMaskWnd wnd(m_texts, OverlaySettings{}, nullptr, {});
        wnd.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        QVERIFY(wnd.previewTimerActive());
        wnd.findChild<QCheckBox*>(QStringLiteral("maskEnable"))->setFocus();
        QTest::keyClick(&wnd, Qt::Key_Escape);
        QVERIFY(wnd.isVisible());
        QTest::keyClick(&wnd, Qt::Key_Return);
        QVERIFY(!wnd.isVisible());
        QCOMPARE(wnd.result(), int(QDialog::Accepted));
        QVERIFY(!wnd.previewTimerActive());

        CMaskWnd closed(m_texts, OverlaySettings{}, nullptr, {});
        closed.show();
        QVERIFY(QTest::qWaitForWindowExposed(&closed));
        QVERIFY(closed.close());
        QVERIFY(!closed.isVisible());
        QVERIFY(!closed.previewTimerActive());
    }

    void enterOnAFocusedButtonClicksIt() {
        CMaskWnd wnd(m_texts, Sizes(0.4f, 0.2f), nullptr, {});
        wnd.show();
        QVERIFY(QTest::qWaitForWindowExposed(&wnd));
        auto* larger = wnd.findChild<QPushButton*>(QStringLiteral("maskLarger"));
        larger->setFocus();
        QTest::keyClick(larger, Qt::Key_Return);
        QVERIFY(wnd.isVisible());
        QCOMPARE(wnd.settings().m_fMaskRadius, Step(0.4f, 0.01));
    }

    void liveViewShowsTheCurrentFrame() {
        FrameStore store;
        store.updateTransform([](TransformState& t) {
            t.m_nCenterX = 32;
            t.m_nCenterY = 24;
        });
        CMaskWnd wnd(m_texts, OverlaySettings{}, &store, {});
        auto* preview = wnd.findChild<PreviewWidget*>(QStringLiteral("preview"));
        QVERIFY(preview);
        wnd.show();
        QTest::qWait(120);
        QVERIFY(preview->image().isNull());  // no frame yet

        std::vector<uint8_t> frame(64 * 48 * 3, 200);
        store.OnFrame(frame.data(), 64, 48, 24);
        QTRY_VERIFY_WITH_TIMEOUT(!preview->image().isNull(), 2000);
        QCOMPARE(preview->image().size(), QSize(64, 48));
        QCOMPARE(preview->image().pixelColor(32, 24), QColor(200, 200, 200));
    }
};

QTEST_MAIN(MaskWndTest)
#include "MaskWndTest.moc"
