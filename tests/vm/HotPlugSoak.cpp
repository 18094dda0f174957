// hotplug_soak: the main window through many unplug/plug cycles of one camera, watching that
// the camera comes back every time and that the process does not grow: file descriptors,
// threads and resident memory are printed at the first, the middle and the last cycle, and the
// process's CPU time is measured for a second after each removal (a capture thread that spins
// on a dead device would show there).
//
//   hotplug_soak virtual [CYCLES]   the built-in virtual camera (runs anywhere)
//   hotplug_soak vivid [CYCLES]     the kernel's vivid driver, unbound and bound through sysfs
//                                   (inside the VM of tests/vm/run-in-vm, with udev running)
//   hotplug_soak usb [CYCLES]       the emulated USB camera, detached and attached through its
//                                   control socket (the VM with TAVREL_VM_USBCAM=1)
//
// Exit code 0 when every cycle brought the camera back and nothing grew, 1 otherwise.
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>

#include "app/TavrelApp.h"
#include "capture/CameraSystem.h"
#include "capture/CaptureController.h"
#include "capture/virtual/VirtualCameraDevice.h"
#include "display/DisplayWorker.h"
#include "mainwnd/TavrelDlg.h"

#include "UsbCamClient.h"
#include "VmTestSupport.h"
#include "settings/ProfileFile.h"
#include "support/TestApp.h"

namespace {

struct ProcessFigures {
    int fds = 0;
    int threads = 0;
    long rssKiB = 0;
};

ProcessFigures ReadFigures() {
    ProcessFigures figures;
    figures.fds =
        int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (line.startsWith("Threads:")) {
                figures.threads = line.mid(8).trimmed().toInt();
            } else if (line.startsWith("VmRSS:")) {
                figures.rssKiB = line.mid(6).trimmed().split(' ').value(0).toLong();
            }
        }
    }
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication qapp(argc, argv);
    const QStringList args = qapp.arguments();
    const QString mode = args.value(1);
    const int cycles = args.size() > 2 ? args[2].toInt() : 100;
    if ((mode != QLatin1String("virtual") && mode != QLatin1String("vivid") &&
         mode != QLatin1String("usb")) ||
        cycles < 1) {
        std::fprintf(stderr, "usage: hotplug_soak virtual|vivid|usb [CYCLES]\n");
        return 2;
    }
    QLoggingCategory::setFilterRules(QStringLiteral("tavrel.*.info=false\ntavrel.*.warning=false"));

    QTemporaryDir dir;
    QStringList appArgs;
    if (mode == QLatin1String("virtual")) {
        appArgs << QStringLiteral("--virtual-camera");
    }
    const std::unique_ptr<CTavrelApp> app = StartTestApp(dir, appArgs);
    std::unique_ptr<UsbCamClient> usbCamera;
    if (mode == QLatin1String("usb")) {
        const char* socket = std::getenv("TAVREL_USBCAM_SOCKET");
        if (socket == nullptr) {
            std::fprintf(stderr, "hotplug_soak: no emulated USB camera (TAVREL_VM_USBCAM=1)\n");
            return 1;
        }
        usbCamera = std::make_unique<UsbCamClient>(socket);
        // The guest has vivid too: the user's choice makes the emulated camera the open one.
        ProfileFile(app->m_strSettingFile)
            .writeString(QStringLiteral("Camera"), QStringLiteral("Choice"),
                         QStringLiteral("usb:1209:0002:serial:TUC-0001"));
    }
    CTavrelDlg dlg(*app, *app);

    std::function<bool()> unplug;
    std::function<bool()> plug;
    if (mode == QLatin1String("virtual")) {
        VirtualCameraDevice* device = dlg.cameraSystem().virtualDevice();
        unplug = [device] {
            device->unplug();
            return true;
        };
        plug = [device] {
            device->plug();
            return true;
        };
    } else if (usbCamera) {
        unplug = [&usbCamera] { return UsbCamClient::isOk(usbCamera->command("unplug")); };
        plug = [&usbCamera] { return UsbCamClient::isOk(usbCamera->command("plug")); };
    } else {
        unplug = [] {
            return vmtest::writeSysfs("/sys/bus/platform/drivers/vivid/unbind", "vivid.0");
        };
        plug = [] { return vmtest::writeSysfs("/sys/bus/platform/drivers/vivid/bind", "vivid.0"); };
    }

    auto streaming = [&] {
        const auto before = dlg.displayWorker().composedCount();
        return QTest::qWaitFor(
            [&] {
                return dlg.camera().captureGraph().state() == CaptureGraph::State::Running &&
                       dlg.displayWorker().composedCount() > before + 2;
            },
            15000);
    };
    if (!streaming()) {
        std::fprintf(stderr, "hotplug_soak: the camera does not stream at the start\n");
        return 1;
    }
    const QString identity = dlg.camera().camera().identityKey();

    ProcessFigures first;
    double worstIdleCpu = 0;
    double slowestReturn = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        if (!unplug() || !QTest::qWaitFor([&] { return !dlg.camera().hasSource(); }, 15000)) {
            std::fprintf(stderr, "hotplug_soak: cycle %d: the removal was not noticed\n", cycle);
            return 1;
        }
        // Nothing should run while the camera is away.
        const double cpuBefore = vmtest::processCpuSeconds();
        QTest::qWait(1000);
        worstIdleCpu = std::max(worstIdleCpu, vmtest::processCpuSeconds() - cpuBefore);

        QElapsedTimer back;
        back.start();
        if (!plug() || !streaming()) {
            std::fprintf(stderr, "hotplug_soak: cycle %d: the camera did not come back\n", cycle);
            return 1;
        }
        slowestReturn = std::max(slowestReturn, back.elapsed() / 1000.0);
        if (dlg.camera().camera().identityKey() != identity) {
            std::fprintf(stderr, "hotplug_soak: cycle %d: another camera was opened\n", cycle);
            return 1;
        }
        if (cycle == 1 || cycle == (cycles + 1) / 2 || cycle == cycles) {
            const ProcessFigures now = ReadFigures();
            if (cycle == 1) {
                first = now;
            }
            std::printf("cycle %3d: fds %d, threads %d, rss %ld KiB\n", cycle, now.fds, now.threads,
                        now.rssKiB);
            std::fflush(stdout);
        }
    }
    const ProcessFigures last = ReadFigures();
    std::printf("slowest return %.2f s; most CPU in the second after a removal %.3f s\n",
                slowestReturn, worstIdleCpu);
    bool ok = true;
    if (last.fds > first.fds + 2) {
        std::fprintf(stderr, "hotplug_soak: file descriptors grew from %d to %d\n", first.fds,
                     last.fds);
        ok = false;
    }
    if (last.threads > first.threads + 1) {
        std::fprintf(stderr, "hotplug_soak: threads grew from %d to %d\n", first.threads,
                     last.threads);
        ok = false;
    }
    if (last.rssKiB > first.rssKiB + 32 * 1024) {
        std::fprintf(stderr, "hotplug_soak: memory grew from %ld to %ld KiB\n", first.rssKiB,
                     last.rssKiB);
        ok = false;
    }
    if (worstIdleCpu > 0.3) {
        std::fprintf(stderr, "hotplug_soak: %.2f s of CPU in one second without a camera\n",
                     worstIdleCpu);
        ok = false;
    }
    std::printf("hotplug_soak %s: %s, %d cycles\n", ok ? "passed" : "FAILED", qPrintable(mode),
                cycles);
    return ok ? 0 : 1;
}
