// The camera's parameter memory seen from the main window, with the virtual camera and its flash
// file in a temporary data folder: settings saved in factory mode come back in a new window,
// the closing window keeps the basic block, Restore returns to the camera's default block at
// once, and the Save note, its timer and its failure.
#include <unistd.h>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "app/TavrelApp.h"
#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "display/Overlay.h"
#include "flashparams/FlashParamsController.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "settings/ProfileFile.h"

#include "support/TestApp.h"

namespace {

const QString kFactory = QStringLiteral("-FACTORYMODE=1");

struct PictureValue {
    CameraProperty property;
    long value;
};
// Picture values away from the virtual camera's defaults (hue negative: a two-byte signed value).
const PictureValue kPicture[] = {
    {CameraProperty::Brightness, -20},    {CameraProperty::Contrast, 50},
    {CameraProperty::Saturation, 100},    {CameraProperty::Hue, -13},
    {CameraProperty::Sharpness, 5},       {CameraProperty::Gamma, 300},
    {CameraProperty::WhiteBalance, 5200},
};

long CameraValue(CTavrelDlg& dlg, CameraProperty property) {
    long value = 0;
    long flags = 0;
    dlg.camera().captureGraph().source()->getProperty(property, &value, &flags);
    return value;
}

}  // namespace

class FlashParamsWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTavrelApp> m_app;

    // A new application object on the same folders (a new run of the program).
    void run(const QStringList& args) {
        m_app.reset();
        m_app = StartTestApp(*m_dir, QStringList(args) << QStringLiteral("--virtual-camera"));
    }

    QString flashFile() const {
        return m_dir->filePath(QStringLiteral("data/Orvane/flash/1209-0001-TVM-0001.bin"));
    }

    QByteArray flashBytes() const {
        QFile file(flashFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup() {
        m_app.reset();
        m_dir.reset();
    }

    // Restore needs an open camera, not a picture; Save keeps its picture guard (a flag over a
    // block never written would push erased values into the camera).
    void restoreStaysAtHandForACameraThatShowsNothing() {
        run({kFactory});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        dlg.cameraSystem().virtualDevice()->stall(true);
        dlg.OnCommand(40019);  // the picture goes with the old format; the new one sends nothing
        QVERIFY(!dlg.frameStore().hasCurrentImage());
        QVERIFY(dlg.menuAction(Cmd::RestoreParameters)->isEnabled());
        QVERIFY(!dlg.menuAction(Cmd::SaveParameters)->isEnabled());
        dlg.OnCommand(Cmd::RestoreParameters);
        QVERIFY(dlg.statusText(2).startsWith(dlg.texts().m_strRestoreInfo));
    }

    void savedSettingsComeBackAndRestoreReturnsToTheDefaultBlock() {
        run({kFactory});
        {
            CTavrelDlg dlg(*m_app, *m_app);
            QVERIFY(WaitForPicture(dlg));
            // A new camera shows its prepared default block.
            QCOMPARE(dlg.overlay().settings().m_fMaskRadius, 0.44f);
            QCOMPARE(dlg.overlay().settings().m_clrCross, MakeColorRef(0, 0xFF, 0));
            QCOMPARE(dlg.overlay().settings().m_bCrossEnable, uint8_t(1));
            QVERIFY(!QFile::exists(flashFile()));  // nothing written yet

            dlg.OnCommand(Cmd::MjpgFirst + 1);
            QVERIFY(WaitForPicture(dlg));
            dlg.OnCommand(Cmd::Freq60Hz);
            dlg.view().SetPan(-0.25f, 0.1f);
            dlg.view().SetViewZoom(1.5f);
            OverlaySettings overlay = dlg.overlay().settings();
            overlay.m_fMaskRadius = 0.3f;
            overlay.m_clrMask = MakeColorRef(0, 0, 0xFF);
            overlay.m_fCrossSize = 0.2f;
            overlay.m_clrCross = MakeColorRef(0xFF, 0xFF, 0);
            overlay.m_bMaskEnable = 0;
            dlg.overlay().setSettings(overlay);
            Camera* source = dlg.camera().captureGraph().source();
            for (const PictureValue& p : kPicture) {
                QVERIFY(source->setProperty(p.property, p.value, kPropertyFlagsManual));
            }
            dlg.OnCommand(Cmd::SaveParameters);
            QCOMPARE(dlg.statusText(2), dlg.texts().m_strStoreInfo);
            QVERIFY(dlg.noteTimer()->isActive());
            QCOMPARE(flashBytes().size(), 8192);
        }

        // A new run: the saved block is read and its picture values pushed into the camera.
        run({kFactory});
        {
            CTavrelDlg dlg(*m_app, *m_app);
            QVERIFY(WaitForPicture(dlg));
            QCOMPARE(dlg.camera().currentFormat().width, 800);
            QVERIFY(dlg.camera().currentFormat().isMjpg());
            QVERIFY(dlg.camera().streamFormats().m_bMjpgSelected);
            QCOMPARE(dlg.camera().streamFormats().m_nResolutionIndex, 1);
            QVERIFY(dlg.menuAction(Cmd::Freq60Hz)->isChecked());
            QCOMPARE(dlg.view().panX(), -0.25f);
            QCOMPARE(dlg.view().panY(), 0.1f);
            QCOMPARE(dlg.view().viewZoom(), 1.5f);
            const OverlaySettings& overlay = dlg.overlay().settings();
            QCOMPARE(overlay.m_fMaskRadius, 0.3f);
            QCOMPARE(overlay.m_clrMask, MakeColorRef(0, 0, 0xFF));
            QCOMPARE(overlay.m_fCrossSize, 0.2f);
            QCOMPARE(overlay.m_clrCross, MakeColorRef(0xFF, 0xFF, 0));
            QCOMPARE(overlay.m_bMaskEnable, uint8_t(0));
            for (const PictureValue& p : kPicture) {
                QCOMPARE(CameraValue(dlg, p.property), p.value);
                QCOMPARE(dlg.camera().parameters().value(p.property), p.value);
            }
        }

        // Normal mode: the closing window keeps the zoom; the crosshair is never shown.
        run({});
        {
            CTavrelDlg dlg(*m_app, *m_app);
            QVERIFY(WaitForPicture(dlg));
            QCOMPARE(dlg.overlay().settings().m_bMaskEnable, uint8_t(1));
            QCOMPARE(dlg.overlay().settings().m_bCrossEnable, uint8_t(0));
            for (int i = 0; i < 3; ++i) {
                dlg.OnCommand(Cmd::ZoomIn);
            }
            QCOMPARE(dlg.statusText(1), QStringLiteral("130%"));
        }
        run({});
        {
            CTavrelDlg dlg(*m_app, *m_app);
            QVERIFY(WaitForPicture(dlg));
            QCOMPARE(dlg.statusText(1), QStringLiteral("130%"));
            QCOMPARE(CameraValue(dlg, CameraProperty::Brightness), -20L);
        }

        // Restore: the default block applies at once, the camera keeps its picture values.
        run({kFactory});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        QCOMPARE(dlg.statusText(1), QStringLiteral("130%"));
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                         m_dir->filePath(QStringLiteral("elsewhere/")));
        dlg.LoadSaveFolder();
        QVERIFY(dlg.camera().captureGraph().source()->setProperty(CameraProperty::Brightness, 7,
                                                                  kPropertyFlagsManual));
        QVERIFY(dlg.menuAction(Cmd::Freq60Hz)->isChecked());
        dlg.OnCommand(Cmd::RestoreParameters);
        // The note says where files go now: Restore puts the save folder back at Pictures.
        QVERIFY(dlg.statusText(2).startsWith(dlg.texts().m_strRestoreInfo));
        QVERIFY(dlg.statusText(2).contains(dlg.saveFolder()));
        QVERIFY(dlg.noteTimer()->isActive());
        QVERIFY(WaitForPicture(dlg));
        QCOMPARE(dlg.statusText(1), QStringLiteral("100%"));
        QCOMPARE(dlg.view().panX(), 0.0f);
        QCOMPARE(dlg.view().viewZoom(), 1.0f);
        QCOMPARE(dlg.overlay().settings().m_fMaskRadius, 0.44f);
        QCOMPARE(dlg.overlay().settings().m_clrCross, MakeColorRef(0, 0xFF, 0));
        QVERIFY(!dlg.camera().currentFormat().isMjpg());
        QCOMPARE(CameraValue(dlg, CameraProperty::Brightness), 7L);
        const QString pictures = m_app->m_strPicturesFolder + QLatin1Char('/');
        QCOMPARE(dlg.saveFolder(), pictures);
        QCOMPARE(ProfileFile(m_app->m_strSettingFile)
                     .readString(QStringLiteral("Path"), QStringLiteral("FileFolder"), QString()),
                 pictures);
        QVERIFY(dlg.menuAction(Cmd::Freq50Hz)->isChecked());
        QVERIFY(!dlg.menuAction(Cmd::Freq60Hz)->isChecked());
        long frequency = 0;
        QVERIFY(dlg.camera().captureGraph().source()->getPowerLineFrequency(&frequency));
        QCOMPARE(frequency, 1L);
        QCOMPARE(uint8_t(flashBytes()[0x1C17]), uint8_t(0));
    }

    void saveBeforeTheFirstFrameAndTwiceInARow() {
        run({kFactory});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        // Without a picture only the flag is written.
        dlg.cameraSystem().virtualDevice()->stall(true);
        QTest::qWait(100);
        dlg.frameStore().DeleteCurrentImage();
        QCOMPARE(dlg.flashParameters().OnSaveParameters(), FlashWrite::Written);
        QByteArray bytes = flashBytes();
        QCOMPARE(bytes.size(), 8192);
        QCOMPARE(uint8_t(bytes[0x1C17]), uint8_t(1));
        QCOMPARE(bytes.mid(0x1D00, 0x37), QByteArray(0x37, '\xFF'));

        dlg.cameraSystem().virtualDevice()->stall(false);
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(Cmd::SaveParameters);
        QTest::qWait(600);
        dlg.OnCommand(Cmd::SaveParameters);
        QVERIFY(dlg.noteTimer()->remainingTime() > 1500);  // started again
        QVERIFY(QTest::qWaitFor([&] { return !dlg.noteTimer()->isActive(); }, 3000));
        QCOMPARE(dlg.statusText(2), dlg.texts().m_strStoreInfo);  // the note stays
        QVERIFY(flashBytes().mid(0x1D00, 0x37) != QByteArray(0x37, '\xFF'));
    }

    void aFlashThatCannotBeWrittenShowsTheFailure() {
        if (geteuid() == 0) {
            QSKIP("root writes into read-only folders");
        }
        run({kFactory});
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(WaitForPicture(dlg));
        dlg.OnCommand(Cmd::SaveParameters);
        const QByteArray before = flashBytes();
        QCOMPARE(before.size(), 8192);
        const QString folder = QFileInfo(flashFile()).absolutePath();
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        OverlaySettings overlay = dlg.overlay().settings();
        overlay.m_fMaskRadius = 0.35f;
        dlg.overlay().setSettings(overlay);
        dlg.OnCommand(Cmd::SaveParameters);
        const QString shown = dlg.statusText(2);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(shown, dlg.texts().m_strFlashFailed);
        QCOMPARE(flashBytes(), before);
    }
};

QTEST_MAIN(FlashParamsWindowTest)
#include "FlashParamsWindowTest.moc"
