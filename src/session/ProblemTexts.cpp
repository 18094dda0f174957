#include "session/ProblemTexts.h"

#include "settings/Texts.h"

namespace {

// The two failures of the USB device list are fixed in the program, not taken from the
// language files.
const char16_t kDeviceListFailed[] = u"获取系统设备列表失败";
const char16_t kDeviceIdUnreadable[] = u"获取设备识别字符串失败";

// The camera's "NOSUPPORT" (no stream format to choose from) has a default of its own; the text
// table holds the support check's.
const char16_t kNoStreamConfig[] = u"没有找到VCapture:IAMStreamConfig接口";

}  // namespace

std::span<const ProblemTextRow> ProblemTextRows() {
    using P = PictureProblem;
    static const ProblemTextRow rows[] = {
        {P::NoCamera, "NOCAMERAHINT", "CANNOTOPEN"},
        {P::Busy, "CAMERABUSYHINT", "CAMERABUSY"},
        {P::NoPermission, "NOPERMISSIONHINT", "NOPERMISSION"},
        {P::NoFormat, "NOFORMATHINT", "NOFORMAT"},
        {P::NoFrames, "NOFRAMESHINT", "NOFRAMES"},
        {P::Removed, "REMOVEDHINT", "REMOVED"},
    };
    return rows;
}

QString CameraText(const CameraId& camera) {
    return QStringLiteral("%1 (%2)").arg(camera.cardName.trimmed(), camera.devNode);
}

QString PictureProblemText(const Texts& texts, TextPlace place, PictureProblem problem,
                           bool cameraOpen, const CameraId& camera) {
    if (problem == PictureProblem::None) {
        // A camera that is open but sends nothing yet has no hint in the window; on the command
        // line the wait for its picture has ended.
        if (cameraOpen) {
            if (place == TextPlace::Window) {
                return {};
            }
            problem = PictureProblem::NoFrames;
        } else {
            problem = PictureProblem::NoCamera;
        }
    }
    for (const ProblemTextRow& row : ProblemTextRows()) {
        if (row.problem != problem) {
            continue;
        }
        if (place == TextPlace::Window) {
            const QString text = texts.text("MainWnd", row.windowKey);
            // The no-camera hint names no camera.
            return problem == PictureProblem::NoCamera ? text : text.arg(CameraText(camera));
        }
        return texts.text("CommandLine", row.commandLineKey).arg(CameraText(camera));
    }
    return {};
}

QString FailureText(const Texts& texts, const QString& key, FailureFrom from) {
    if (key == QLatin1String("DEVICELIST")) {
        return QString::fromUtf16(kDeviceListFailed);
    }
    if (key == QLatin1String("DEVICEID")) {
        return QString::fromUtf16(kDeviceIdUnreadable);
    }
    if (from == FailureFrom::Camera && key == QLatin1String("NOSUPPORT")) {
        return texts.text(QStringLiteral("WndMessage"), key, QString::fromUtf16(kNoStreamConfig));
    }
    return texts.text(QStringLiteral("WndMessage"), key);
}

bool FailureIsShown(const QString& key) {
    return key == QLatin1String("DEVICELIST") || key == QLatin1String("DEVICEID");
}
