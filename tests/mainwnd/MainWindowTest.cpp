// The main window's menus, texts, tool tips, language switching, save folder and About window,
// driven offscreen against a temporary per-user folder.
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <memory>

#include "app/CommandLine.h"
#include "app/TavrelApp.h"
#include "capture/CaptureController.h"
#include "mainwnd/AboutDlg.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"
#include "output/RecordingController.h"
#include "settings/LanguageText.h"
#include "settings/ProfileFile.h"

#include "support/TestApp.h"
#include "support/TestFiles.h"

class MainWindowTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<CTavrelApp> m_app;

    AppLocations locations() const { return TestLocations(*m_dir); }

    void start(const QStringList& args = {}) { m_app = StartTestApp(*m_dir, args); }

    QString settingsValue(const char* section, const char* key) const {
        return ProfileFile(m_app->m_strSettingFile)
            .readString(QLatin1String(section), QLatin1String(key), QStringLiteral("<none>"));
    }

    static QStringList settingMenuTexts(CTavrelDlg& dlg) {
        QStringList ids;
        for (QAction* action : dlg.topMenu(1)->actions()) {
            ids << (action->menu() ? QStringLiteral("menu") : action->data().toString());
        }
        return ids;
    }

private Q_SLOTS:
    void init() {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
    }
    void cleanup() {
        m_app.reset();
        m_dir.reset();
    }

    void normalModeKeepsOnlyResolutionFrequencyAndCamera() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(settingMenuTexts(dlg), QStringList({"menu", "menu", "menu"}));
        QVERIFY(!dlg.menuAction(Cmd::Property));
        QVERIFY(!dlg.menuAction(Cmd::SaveParameters));
        QVERIFY(!dlg.menuAction(Cmd::Resolution640x480));
        // The Property button stays on the toolbar: outside factory mode it toggles exposure.
        QVERIFY(dlg.toolAction(Cmd::Property));
        QCOMPARE(dlg.toolbarImage(ToolSlot::Property), Icon::ExposureManual);
    }

    void factoryModeKeepsEveryEntry() {
        start({QStringLiteral("-FACTORYMODE=1")});
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(
            settingMenuTexts(dlg),
            QStringList({"menu", "menu", "menu", QString::number(Cmd::Property),
                         QString::number(Cmd::PanZoomWindow), QString::number(Cmd::SaveParameters),
                         QString::number(Cmd::RestoreParameters),
                         QString::number(Cmd::Resolution640x480)}));
    }

    void firstStartWritesJapaneseTexts() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        QVERIFY(m_app->m_strLanguageFile.endsWith(QLatin1String("/Language/Japanese.lng")));
        QVERIFY(QFile::exists(m_app->m_strLanguageFile));
        const QString fileText =
            ProfileFile(m_app->m_strLanguageFile)
                .readString(QStringLiteral("MainWnd"), QStringLiteral("FILEPATH"), QString());
        QVERIFY(!fileText.isEmpty());
        QCOMPARE(dlg.menuAction(Cmd::ChooseFolder)->text(), fileText);
        // The Play item ends up with the STOP text after OPEN, PLAY and STOP were applied.
        QCOMPARE(dlg.menuAction(Cmd::Play)->text(), dlg.texts().m_strStop);
        QCOMPARE(dlg.topMenu(0)->title(), dlg.texts().m_strMenuFile);
    }

    void languageSwitchUpdatesMenuAtOnce() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        const QString japaneseFile = dlg.topMenu(0)->title();
        dlg.OnCommand(Cmd::LangEnglish);
        QCOMPARE(dlg.topMenu(0)->title(), QStringLiteral("&File"));
        QCOMPARE(dlg.cameraMenu()->title(), QStringLiteral("Camera"));
        QVERIFY(dlg.topMenu(0)->title() != japaneseFile);
        QCOMPARE(settingsValue("LANGUAGESET", "LANGUAGE"), QStringLiteral("English"));
        QCOMPARE(settingsValue("LANGUAGESET", "INDEX"), QStringLiteral("1"));
        QVERIFY(dlg.menuAction(Cmd::LangEnglish)->isChecked());
        QVERIFY(!dlg.menuAction(Cmd::LangJapanese)->isChecked());

        dlg.OnCommand(Cmd::LangChinese);
        QCOMPARE(dlg.topMenu(0)->title(), QStringLiteral("文件(&F)"));
        QCOMPARE(settingsValue("LANGUAGESET", "INDEX"), QStringLiteral("0"));

        // Qt's own texts (message-box buttons, the folder chooser) follow the language.
        const auto qtCancel = [] {
            return QCoreApplication::translate("QPlatformTheme", "Cancel");
        };
        QCOMPARE(qtCancel(), QStringLiteral("取消"));
        dlg.OnCommand(Cmd::LangEnglish);
        QCOMPARE(qtCancel(), QStringLiteral("Cancel"));

        // A language chosen in the About window moves the menu's check mark too.
        QTimer::singleShot(0, this, [] {
            auto* about = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            QVERIFY(about);
            about->languageList()->setCurrentIndex(2);
            about->accept();
        });
        dlg.OnCommand(Cmd::About);
        QVERIFY(dlg.menuAction(Cmd::LangJapanese)->isChecked());
        QVERIFY(!dlg.menuAction(Cmd::LangEnglish)->isChecked());
        QCOMPARE(dlg.topMenu(0)->title(), QStringLiteral("ファイル(&F)"));
        QCOMPARE(qtCancel(), QStringLiteral("キャンセル"));
    }

    void editedStopTextShowsOnPlayItem() {
        start();
        {
            CTavrelDlg first(*m_app, *m_app);
            first.OnCommand(Cmd::LangEnglish);
        }
        ProfileFile(m_app->m_strLanguageFile)
            .writeString(QStringLiteral("MainWnd"), QStringLiteral("STOP"),
                         QStringLiteral("Freeze!"));
        m_app->SetLanguageName(QStringLiteral("English"));  // an edit shows once chosen again
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(dlg.menuAction(Cmd::Play)->text(), QStringLiteral("Freeze!"));
    }

    void menuAndMENUAreOneSection() {
        start();
        {
            CTavrelDlg first(*m_app, *m_app);
            first.OnCommand(Cmd::LangEnglish);
        }
        ProfileFile lng(m_app->m_strLanguageFile);
        lng.writeString(QStringLiteral("menu"), QStringLiteral("LAN"), QStringLiteral("Tongue"));
        lng.writeString(QStringLiteral("MENU"), QStringLiteral("file"), QStringLiteral("Dossier"));
        m_app->SetLanguageName(QStringLiteral("English"));
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(dlg.topMenu(0)->title(), QStringLiteral("Dossier"));
        QCOMPARE(dlg.texts().m_strMenuLanguage, QStringLiteral("Tongue"));
    }

    void toolTipsFollowStateAndMode() {
        start();
        {
            CTavrelDlg dlg(*m_app, *m_app);
            dlg.OnCommand(Cmd::LangEnglish);
            // No frame has arrived: the Play button offers to start the camera.
            QCOMPARE(dlg.OnToolTipText(Cmd::Play), dlg.texts().m_strOpen);
            QCOMPARE(dlg.OnToolTipText(Cmd::Snap), dlg.texts().m_strSnap);
            QCOMPARE(dlg.OnToolTipText(Cmd::VMirror), dlg.texts().m_strVMirror);
            // Manual exposure now: the button offers automatic exposure.
            QCOMPARE(dlg.OnToolTipText(Cmd::Property), dlg.texts().m_strAutoExposure);
            QVERIFY(dlg.OnToolTipText(Cmd::About).isEmpty());
        }
        start({QStringLiteral("-FACTORYMODE=1")});
        CTavrelDlg factory(*m_app, *m_app);
        QCOMPARE(factory.OnToolTipText(Cmd::Property), factory.texts().m_strProperty);
    }

    void commandsWithoutCameraChangeNothing() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        bool pickerCalled = false;
        dlg.setFolderPicker([&](QWidget*, const QString&, const QString&, const QString&) {
            pickerCalled = true;
            return QStringLiteral("/elsewhere");
        });
        const QString folder = dlg.saveFolder();
        for (int id : {Cmd::ChooseFolder, Cmd::Play, Cmd::Snap, Cmd::Record, Cmd::ZoomIn,
                       Cmd::HMirror, Cmd::VMirror, Cmd::MirrorReset, Cmd::Freq50Hz}) {
            dlg.OnCommand(id);
        }
        QVERIFY(!pickerCalled);
        QCOMPARE(dlg.saveFolder(), folder);
        QVERIFY(!dlg.menuAction(Cmd::HMirror)->isChecked());
        QVERIFY(!dlg.menuAction(Cmd::VMirror)->isChecked());
        QVERIFY(!dlg.toolAction(Cmd::HMirror)->isChecked());
        QVERIFY(!dlg.menuAction(Cmd::Freq50Hz)->isChecked());
        QCOMPARE(dlg.toolbarImage(ToolSlot::Play), Icon::Playing);
        QVERIFY(dlg.wantPreview());
        QCOMPARE(dlg.statusText(2), QString());

        // A click on a checkable menu item must not toggle its mark behind the handler's back.
        dlg.menuAction(Cmd::HMirror)->trigger();
        QVERIFY(!dlg.menuAction(Cmd::HMirror)->isChecked());
    }

    void saveFolderDefaultsToPictures() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        QCOMPARE(dlg.saveFolder(), m_dir->filePath(QStringLiteral("Pictures")) + QLatin1Char('/'));
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                         QStringLiteral("/data/shots/"));
        dlg.LoadSaveFolder();
        QCOMPARE(dlg.saveFolder(), QStringLiteral("/data/shots/"));
    }

    void longSaveFolderIsReadInFull() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        const QString deep = m_dir->filePath(QString(300, u'e'));
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), deep + u'/');
        dlg.LoadSaveFolder();
        QCOMPARE(dlg.saveFolder(), deep + u'/');
    }

    void unusableSaveFolderFallsBackToPicturesWithANote() {
        start();
        const QString pictures = m_dir->filePath(QStringLiteral("Pictures")) + u'/';
        const QString plainFile = m_dir->filePath(QStringLiteral("notes.txt"));
        QVERIFY(WriteBytes(plainFile, "x"));
        ProfileFile settings(m_app->m_strSettingFile);

        // Without the trailing '/', a folder gets one, and nothing needs saying.
        const QString pics = m_dir->filePath(QStringLiteral("pics"));
        QVERIFY(settings.writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), pics));
        {
            CTavrelDlg dlg(*m_app, *m_app);
            QCOMPARE(dlg.saveFolder(), pics + u'/');
            QCOMPARE(dlg.statusText(2), QString());
        }

        const QString note = m_app->m_texts.text("MainWnd", "FOLDERFALLBACK").arg(pictures);
        for (const QString& bad : {plainFile, QStringLiteral("pics/"), QString()}) {
            QVERIFY(
                settings.writeString(QStringLiteral("Path"), QStringLiteral("FileFolder"), bad));
            CTavrelDlg dlg(*m_app, *m_app);
            QCOMPARE(dlg.saveFolder(), pictures);
            QCOMPARE(dlg.statusText(2), note);
            // The user's value stays in the file for the user to mend.
            QCOMPARE(settings.readString(QStringLiteral("Path"), QStringLiteral("FileFolder"),
                                         QStringLiteral("missing")),
                     bad);
        }
    }

    void escapeAndEnterCloseTheWindow() {
        start();
        for (int key : {Qt::Key_Escape, Qt::Key_Return}) {
            CTavrelDlg dlg(*m_app, *m_app);
            dlg.show();
            QVERIFY(QTest::qWaitForWindowExposed(&dlg));
            QTest::keyClick(&dlg, Qt::Key(key));
            QVERIFY(!dlg.isVisible());
        }
    }

    void exitCommandClosesTheWindow() {
        start();
        CTavrelDlg dlg(*m_app, *m_app);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        dlg.OnCommand(Cmd::Exit);
        QVERIFY(!dlg.isVisible());
    }

    void aboutOkStoresTheListedLanguage() {
        start();
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("INDEX"),
                         QStringLiteral("2"));
        CAboutDlg about(*m_app);
        QCOMPARE(about.languageList()->currentIndex(), 2);
        QVERIFY(about.languageList()->isHidden());
        QVERIFY(!about.cancelButton()->isHidden());
        about.accept();
        QCOMPARE(settingsValue("LANGUAGESET", "LANGUAGE"), QStringLiteral("Japanese"));
        QCOMPARE(settingsValue("LANGUAGESET", "INDEX"), QStringLiteral("2"));
        QVERIFY(m_app->m_strLanguageFile.endsWith(QLatin1String("/Japanese.lng")));
    }

    void aboutIndexOutOfRangeSelectsChinese() {
        start();
        ProfileFile(m_app->m_strSettingFile)
            .writeString(QStringLiteral("LANGUAGESET"), QStringLiteral("INDEX"),
                         QStringLiteral("7"));
        CAboutDlg about(*m_app);
        QCOMPARE(about.languageList()->currentIndex(), 0);
        about.accept();
        QCOMPARE(settingsValue("LANGUAGESET", "LANGUAGE"), QStringLiteral("Chinese"));
        QCOMPARE(settingsValue("LANGUAGESET", "INDEX"), QStringLiteral("0"));
    }

    void aboutCancelChangesNothingAndTextsFollowLanguage() {
        start();
        {
            CTavrelDlg dlg(*m_app, *m_app);
            dlg.OnCommand(Cmd::LangEnglish);
        }
        const QString before = settingsValue("LANGUAGESET", "LANGUAGE");
        CAboutDlg about(*m_app);
        QCOMPARE(about.windowTitle(), m_app->m_texts.text("AboutWnd", "MainCaption"));
        QVERIFY(about.nameLabel()->text().contains(QLatin1String("Tavrel")));
        QTimer::singleShot(0, &about, [&] { QTest::keyClick(&about, Qt::Key_Escape); });
        QCOMPARE(about.exec(), int(QDialog::Rejected));
        QCOMPARE(settingsValue("LANGUAGESET", "LANGUAGE"), before);
    }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
