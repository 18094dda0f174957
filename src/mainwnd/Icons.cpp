#include "mainwnd/Icons.h"

#include "mainwnd/CommandIds.h"

QString IconResourcePath(int iconId) {
    const char* name = nullptr;
    switch (iconId) {
        case Icon::App:
            name = "app";
            break;
        case Icon::FlagChinese:
            name = "flag-chinese";
            break;
        case Icon::FlagEnglish:
            name = "flag-english";
            break;
        case Icon::FlagJapanese:
            name = "flag-japanese";
            break;
        case Icon::Playing:
            name = "play";
            break;
        case Icon::Paused:
            name = "paused";
            break;
        case Icon::Snap:
            name = "snap";
            break;
        case Icon::Record:
            name = "record";
            break;
        case Icon::Recording:
            name = "recording";
            break;
        case Icon::ZoomIn:
            name = "zoom-in";
            break;
        case Icon::ZoomInActive:
            name = "zoom-in-active";
            break;
        case Icon::ZoomOutDisabled:
            name = "zoom-out-disabled";
            break;
        case Icon::ZoomOut:
            name = "zoom-out";
            break;
        case Icon::ZoomResetDisabled:
            name = "zoom-reset-disabled";
            break;
        case Icon::ZoomReset:
            name = "zoom-reset";
            break;
        case Icon::HMirrorOff:
            name = "mirror-h";
            break;
        case Icon::HMirrorOn:
            name = "mirror-h-on";
            break;
        case Icon::VMirrorOff:
            name = "mirror-v";
            break;
        case Icon::VMirrorOn:
            name = "mirror-v-on";
            break;
        case Icon::MirrorResetDisabled:
            name = "mirror-reset-disabled";
            break;
        case Icon::MirrorReset:
            name = "mirror-reset";
            break;
        case Icon::ExposureManual:
            name = "exposure-manual";
            break;
        case Icon::ExposureAuto:
            name = "exposure-auto";
            break;
        default:
            return {};
    }
    return QStringLiteral(":/icons/%1.svg").arg(QLatin1String(name));
}

QIcon IconById(int iconId) {
    const QString path = IconResourcePath(iconId);
    if (path.isEmpty()) {
        return {};
    }
    // The SVG engine renders at every requested size, so the icons stay crisp at 2x scale.
    return QIcon(path);
}

std::array<int, 3> ZoomButtonIcons(float zoom) {
    if (zoom == 1.0f) {
        return {Icon::ZoomIn, Icon::ZoomOutDisabled, Icon::ZoomResetDisabled};
    }
    if (zoom == 4.0f) {
        return {Icon::ZoomIn, Icon::ZoomOut, Icon::ZoomReset};
    }
    return {Icon::ZoomInActive, Icon::ZoomOut, Icon::ZoomReset};
}

std::array<int, 3> MirrorButtonIcons(bool hMirror, bool vMirror) {
    return {hMirror ? Icon::HMirrorOn : Icon::HMirrorOff,
            vMirror ? Icon::VMirrorOn : Icon::VMirrorOff,
            hMirror || vMirror ? Icon::MirrorReset : Icon::MirrorResetDisabled};
}
