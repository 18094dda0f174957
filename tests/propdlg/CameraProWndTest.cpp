// The camera property dialog in factory mode, opened by the Property command on the built-in
// virtual camera: sliders, automatic boxes, Default, Apply, OK and Cancel, a camera lacking a
// control, and where the dialog goes; on a fake camera, exactly what the boxes and Default write.
#include <QCheckBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "capture/CameraParameters.h"
#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "capture/virtual/VirtualHardware.h"
#include "contracts/Image.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "propdlg/CameraProWnd.h"
#include "settings/Texts.h"

#include "support/FakeCamera.h"
#include "support/TestApp.h"

class CameraProWndTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTavrelApp> m_app;
    std::unique_ptr<CTavrelDlg> m_dlg;

    // The main window in factory mode with the virtual camera, a frame arrived.
    CTavrelDlg& start() {
        m_dir = std::make_unique<QTemporaryDir>();
        m_app = StartTestApp(
            *m_dir, {QStringLiteral("--virtual-camera"), QStringLiteral("-FACTORYMODE=1")});
        m_dlg = std::make_unique<CTavrelDlg>(*m_app, *m_app);
        const bool framed =
            QTest::qWaitFor([&] { return m_dlg->menuAction(Cmd::Property)->isEnabled(); }, 5000);
        if (!framed) {
            qWarning("no frame from the virtual camera");
        }
        return *m_dlg;
    }

    VirtualHardware& hardware() { return *m_dlg->cameraSystem().virtualDevice()->hardware(); }
    CameraParameters& parameters() { return m_dlg->camera().parameters(); }

    // Runs the Property command; `body` drives the dialog while it is up. A dialog the body
    // leaves open is cancelled.
    bool runDialog(const std::function<void(CCameraProWnd&)>& body) {
        bool ran = false;
        QTimer::singleShot(0, m_dlg.get(), [&] {
            auto* wnd = m_dlg->findChild<CCameraProWnd*>();
            if (wnd == nullptr) {
                return;
            }
            ran = true;
            body(*wnd);
            if (wnd->isVisible()) {
                wnd->reject();
            }
        });
        m_dlg->OnCommand(Cmd::Property);
        return ran;
    }

    static QSlider* slider(CCameraProWnd& wnd, const char* row) {
        return wnd.findChild<QSlider*>(QLatin1String(row) + QLatin1String("Slider"));
    }
    static QCheckBox* autoBox(CCameraProWnd& wnd, const char* row) {
        return wnd.findChild<QCheckBox*>(QLatin1String(row) + QLatin1String("Auto"));
    }
    static QString valueText(CCameraProWnd& wnd, const char* row) {
        return wnd.findChild<QLineEdit*>(QLatin1String(row) + QLatin1String("Value"))->text();
    }
    static QPushButton* button(CCameraProWnd& wnd, const char* name) {
        return wnd.findChild<QPushButton*>(QLatin1String(name));
    }

    // The mean of the live picture's bytes.
    double pictureMean() {
        Image frame;
        if (!m_dlg->frameStore().copyCurrentImage(frame)) {
            return -1;
        }
        const uint8_t* bits = frame.GetBits();
        double sum = 0;
        for (size_t i = 0; i < frame.GetSize(); ++i) {
            sum += bits[i];
        }
        return sum / double(frame.GetSize());
    }

private Q_SLOTS:
    void cleanup() {
        m_dlg.reset();
        m_app.reset();
        m_dir.reset();
    }

    void opensWithTheCamerasValuesAndModes() {
        start();
        hardware().set(CameraProperty::Gamma, 180, kPropertyFlagsManual);
        QVERIFY(runDialog([&](CCameraProWnd& wnd) {
            // The camera is in automatic exposure: both boxes checked, both sliders greyed.
            QVERIFY(autoBox(wnd, "exposure")->isChecked());
            QVERIFY(autoBox(wnd, "gain")->isChecked());
            QVERIFY(!slider(wnd, "exposure")->isEnabled());
            QVERIFY(!slider(wnd, "gain")->isEnabled());
            QVERIFY(autoBox(wnd, "whiteBalance")->isChecked());
            QVERIFY(!slider(wnd, "whiteBalance")->isEnabled());
            QCOMPARE(slider(wnd, "gamma")->value(), 180);
            QCOMPARE(valueText(wnd, "gamma"), QStringLiteral("180"));
            QCOMPARE(slider(wnd, "exposure")->minimum(), -11);
            QCOMPARE(slider(wnd, "whiteBalance")->maximum(), 6500);
            // Only three automatic boxes work.
            QVERIFY(!autoBox(wnd, "brightness")->isEnabled());
            QVERIFY(!autoBox(wnd, "gamma")->isEnabled());
            QVERIFY(autoBox(wnd, "gain")->isEnabled());
            // Showing the dialog sent the values it holds: Apply is there to press.
            QVERIFY(button(wnd, "applyButton")->isEnabled());
        }));
        QCOMPARE(parameters().m_lGamma, 180);
        QVERIFY(parameters().m_bExposureAuto && parameters().m_bGainAuto);
    }

    void aSliderChangesThePictureAsItMovesAndApplyTakesIt() {
        start();
        QVERIFY(runDialog([&](CCameraProWnd& wnd) {
            QPushButton* apply = button(wnd, "applyButton");
            apply->click();
            QVERIFY(!apply->isEnabled());
            QSlider* brightness = slider(wnd, "brightness");
            const double before = pictureMean();
            QVERIFY(before >= 0);
            brightness->setSliderDown(true);  // the user holds the thumb
            brightness->setSliderPosition(brightness->maximum());
            QCOMPARE(hardware().settings().brightness, 64);
            QCOMPARE(valueText(wnd, "brightness"), QStringLiteral("64"));
            QVERIFY(apply->isEnabled());
            QVERIFY(QTest::qWaitFor([&] { return pictureMean() > before + 10; }, 5000));
            brightness->setSliderDown(false);

            apply->click();
            QCOMPARE(parameters().m_lBrightness, 64);
            QVERIFY(!apply->isEnabled());
            // A key moves the slider too; OK keeps it on the camera but not in the set.
            brightness->setFocus();
            QTest::keyClick(brightness, Qt::Key_Left);
            QCOMPARE(hardware().settings().brightness, 63);
            QVERIFY(apply->isEnabled());
            button(wnd, "okButton")->click();
        }));
        QCOMPARE(hardware().settings().brightness, 63);
        QCOMPARE(parameters().m_lBrightness, 64);
    }

    void cancelPutsEveryValueAndModeBack() {
        start();
        // Sharpness is not read when the dialog opens: Cancel restores the set's value.
        parameters().m_lSharpness = 5;
        CameraParameters opened;
        QVERIFY(runDialog([&](CCameraProWnd& wnd) {
            opened = parameters();
            autoBox(wnd, "whiteBalance")->click();
            autoBox(wnd, "exposure")->click();
            QVERIFY(!hardware().settings().whiteBalanceAuto);
            QVERIFY(!hardware().settings().exposureAuto);
            for (const char* row : {"brightness", "contrast", "hue", "saturation", "sharpness",
                                    "gamma", "whiteBalance", "exposure", "gain"}) {
                QSlider* s = slider(wnd, row);
                s->setValue(s->value() == s->minimum() ? s->maximum() : s->minimum());
            }
            QCOMPARE(hardware().settings().sharpness, 0);
            QCOMPARE(hardware().settings().exposure, -11);
            button(wnd, "cancelButton")->click();
        }));
        VirtualPictureSettings expected = hardware().settings();
        expected.brightness = opened.m_lBrightness;
        expected.contrast = opened.m_lContrast;
        expected.hue = opened.m_lHue;
        expected.saturation = opened.m_lSaturation;
        expected.sharpness = 5;
        expected.gamma = opened.m_lGamma;
        // Back in their automatic modes, white balance, exposure and gain take the camera's own
        // values: a value written with the automatic flag is not applied.
        expected.whiteBalanceAuto = true;
        expected.exposureAuto = true;
        expected.gainAuto = true;
        QCOMPARE(hardware().settings(), expected);
        QCOMPARE(parameters().m_lSharpness, 5);
    }

    void defaultLeavesWhiteBalanceManualAndExposureAndGainAutomatic() {
        start();
        QVERIFY(runDialog([&](CCameraProWnd& wnd) {
            autoBox(wnd, "gain")->click();  // manual exposure and gain
            slider(wnd, "gain")->setValue(70);
            slider(wnd, "exposure")->setValue(-9);
            slider(wnd, "contrast")->setValue(5);
            button(wnd, "applyButton")->click();

            button(wnd, "defaultButton")->click();
            const VirtualPictureSettings now = hardware().settings();
            QCOMPARE(now.contrast, 32);
            QCOMPARE(now.whiteBalance, 4600);
            QVERIFY(!now.whiteBalanceAuto);
            QVERIFY(now.exposureAuto);
            QVERIFY(now.gainAuto);
            QVERIFY(!autoBox(wnd, "whiteBalance")->isChecked());
            QVERIFY(slider(wnd, "whiteBalance")->isEnabled());
            QVERIFY(autoBox(wnd, "exposure")->isChecked());
            QVERIFY(autoBox(wnd, "gain")->isChecked());
            QVERIFY(!slider(wnd, "gain")->isEnabled());
            QCOMPARE(slider(wnd, "gain")->value(), 0);
            QCOMPARE(valueText(wnd, "exposure"), QStringLiteral("-6"));
            QVERIFY(button(wnd, "applyButton")->isEnabled());
            button(wnd, "okButton")->click();
        }));
        QVERIFY(!hardware().settings().whiteBalanceAuto);
    }

    void exposureAndGainBoxesMoveTogether() {
        start();
        QVERIFY(runDialog([&](CCameraProWnd& wnd) {
            QCheckBox* exposure = autoBox(wnd, "exposure");
            QCheckBox* gain = autoBox(wnd, "gain");
            exposure->click();  // off
            QVERIFY(!gain->isChecked());
            QVERIFY(slider(wnd, "exposure")->isEnabled());
            QVERIFY(slider(wnd, "gain")->isEnabled());
            QVERIFY(!hardware().settings().exposureAuto);
            gain->click();  // on
            QVERIFY(exposure->isChecked());
            QVERIFY(!slider(wnd, "exposure")->isEnabled());
            QVERIFY(!slider(wnd, "gain")->isEnabled());
            // The click writes gain alone: the camera's own exposure switch stays as it was.
            QVERIFY(hardware().settings().gainAuto);
            QVERIFY(!hardware().settings().exposureAuto);
            gain->click();  // off
            QVERIFY(!exposure->isChecked());
            QVERIFY(slider(wnd, "exposure")->isEnabled());
            QVERIFY(slider(wnd, "gain")->isEnabled());

            autoBox(wnd, "whiteBalance")->click();  // off
            QVERIFY(slider(wnd, "whiteBalance")->isEnabled());
            QVERIFY(!hardware().settings().whiteBalanceAuto);
            QVERIFY(slider(wnd, "exposure")->isEnabled());
            button(wnd, "okButton")->click();
        }));
    }

    void aRowWithoutRangeIsDisabledAndOldValuesAreClamped() {
        start();
        hardware().setOffered(CameraProperty::Exposure, false);
        parameters().m_lSharpness = 50;  // from a camera with a wider range
        QVERIFY(runDialog([&](CCameraProWnd& wnd) {
            QVERIFY(!wnd.rowLive(CCameraProWnd::Exposure));
            QSlider* exposure = slider(wnd, "exposure");
            QVERIFY(!exposure->isEnabled());
            QVERIFY(!autoBox(wnd, "exposure")->isEnabled());
            QCOMPARE(exposure->minimum(), exposure->maximum());  // no range of another row
            QVERIFY(valueText(wnd, "exposure").isEmpty());
            QVERIFY(autoBox(wnd, "gain")->isEnabled());
            QVERIFY(slider(wnd, "gamma")->isEnabled());
            QCOMPARE(slider(wnd, "sharpness")->value(), 6);
            QCOMPARE(valueText(wnd, "sharpness"), QStringLiteral("6"));
            QCOMPARE(hardware().settings().sharpness, 6);
            autoBox(wnd, "gain")->click();  // gain alone can still switch
            QVERIFY(!hardware().settings().gainAuto);
            button(wnd, "cancelButton")->click();
        }));
        QCOMPARE(hardware().settings().sharpness, 6);
        QCOMPARE(hardware().settings().exposure, -6);
        QVERIFY(hardware().settings().exposureAuto);
        QVERIFY(hardware().settings().gainAuto);
    }

    // On a camera with automatic modes for hue, gain and exposure: a box writes its own
    // property only, and Default writes the plain properties with the flags their ranges give.
    void theBoxesAndDefaultWriteExactlyTheirProperties() {
        using P = CameraProperty;
        using W = FakeCamera::Write;
        constexpr long A = kPropertyFlagsAuto, M = kPropertyFlagsManual;
        FakeCamera camera;
        camera.add(P::Brightness, 10, M, -64, 64);
        camera.add(P::Contrast, 32, M, 0, 64);
        camera.add(P::Hue, 5, M, -40, 40, true);
        camera.add(P::Saturation, 64, M, 0, 128);
        camera.add(P::Sharpness, 6, M, 0, 7);
        camera.add(P::Gamma, 100, M, 72, 500);
        camera.add(P::WhiteBalance, 4600, A, 2800, 6500, true);
        camera.add(P::Gain, 20, A, 0, 100, true);
        camera.add(P::Exposure, -6, A, -11, -2, true);
        CameraParameters set;
        set.FillFromCamera(camera);
        const Texts texts;
        CCameraProWnd wnd(
            texts, [&] { return &camera; }, set);
        wnd.OnExposureAuto(false);
        wnd.OnGainAuto(true);
        QVERIFY(camera.writes == std::vector<W>({{P::Exposure, -6, M}, {P::Gain, 20, A}}));

        camera.writes.clear();
        wnd.OnDefault();
        const std::vector<W> defaults = {
            {P::Brightness, 0, M},      {P::Contrast, 32, M}, {P::Saturation, 64, M},
            {P::Hue, 0, A | M},         {P::Gamma, 286, M},   {P::Sharpness, 3, M},
            {P::WhiteBalance, 4650, M}, {P::Gain, 50, A},     {P::Exposure, -6, A},
        };
        QVERIFY(camera.writes == defaults);

        // Without exposure, Default leaves gain alone.
        camera.properties.erase(P::Exposure);
        CCameraProWnd noExposure(
            texts, [&] { return &camera; }, set);
        camera.writes.clear();
        noExposure.OnDefault();
        QCOMPARE(camera.writes.size(), size_t(7));
        QCOMPARE(camera.writes.back().property, P::WhiteBalance);
    }

    // With the pan-and-zoom window open where the dialog would go, the dialog goes elsewhere.
    void theDialogKeepsClearOfAnOpenPanWindow() {
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QWidget owner;
        owner.setGeometry(screen.left() + 10, screen.top() + 10, 200, 150);
        owner.show();
        QWidget standIn;  // beside the owner at its top, as the pan-and-zoom window opens
        standIn.setGeometry(owner.frameGeometry().right() + 1, owner.frameGeometry().top(), 240,
                            160);
        standIn.show();
        QVERIFY(QTest::qWaitForWindowExposed(&standIn));

        FakeCamera camera;
        camera.add(CameraProperty::Brightness, 10, kPropertyFlagsManual, -64, 64);
        CameraParameters set;
        const Texts texts;
        QRect placed;
        QTimer::singleShot(0, &owner, [&] {
            if (auto* wnd = owner.findChild<CCameraProWnd*>()) {
                placed = wnd->frameGeometry();
                wnd->reject();
            }
        });
        CCameraProWnd::EditCameraProperties(
            texts, [&] { return &camera; }, set, &owner, &standIn);
        QVERIFY(placed.isValid());
        QVERIFY2(!placed.intersects(standIn.frameGeometry()),
                 qPrintable(QStringLiteral("dialog at %1,%2 %3x%4")
                                .arg(placed.x())
                                .arg(placed.y())
                                .arg(placed.width())
                                .arg(placed.height())));
        QVERIFY(screen.contains(placed));
    }

    void theDialogSitsBesideTheWindowOnTheScreen() {
        const QRect screen(0, 0, 1280, 900);
        const QSize size(400, 360);
        QCOMPARE(CCameraProWnd::PlaceBeside(QRect(100, 50, 600, 500), size, screen),
                 QPoint(700, 50));
        // A window near the right or bottom edge: the dialog moves in, never off the screen.
        QCOMPARE(CCameraProWnd::PlaceBeside(QRect(700, 700, 600, 500), size, screen),
                 QPoint(880, 540));
        QCOMPARE(CCameraProWnd::PlaceBeside(QRect(-50, -20, 1400, 100), size, screen),
                 QPoint(880, 0));
    }
};

QTEST_MAIN(CameraProWndTest)
#include "CameraProWndTest.moc"
