#include "support/TestApp.h"

#include <QAction>
#include <QTest>

#include "app/CommandLine.h"
#include "capture/FrameStore.h"
#include "mainwnd/CommandIds.h"
#include "mainwnd/TavrelDlg.h"

AppLocations TestLocations(const QTemporaryDir& dir) {
    AppLocations locations;
    locations.configRoot = dir.filePath(QStringLiteral("config"));
    locations.picturesFolder = dir.filePath(QStringLiteral("Pictures"));
    locations.moduleFolder = dir.filePath(QStringLiteral("bin"));
    locations.dataRoot = dir.filePath(QStringLiteral("data"));
    return locations;
}

std::unique_ptr<CTavrelApp> StartTestApp(const QTemporaryDir& dir, const QStringList& args) {
    auto app = std::make_unique<CTavrelApp>();
    app->InitSettings(TestLocations(dir), ParseCommandLine(args));
    return app;
}

bool WaitForPicture(CTavrelDlg& dlg) {
    return QTest::qWaitFor(
        [&] {
            return dlg.frameStore().hasCurrentImage() && dlg.menuAction(Cmd::Snap)->isEnabled();
        },
        5000);
}
