#pragma once

#include <QString>
#include <vector>

#include "capture/Camera.h"

// Which camera the program opens when it finds several: the one the user chose last (kept in
// Setting.ini, section [Camera], by its identity key), else the first on a removable USB port,
// else the first found. A desk often has a laptop's built-in webcam (a USB device on a fixed
// port, usually /dev/video0) beside the microscope the user plugged in; the microscope wins.
//
// The choice is read from the file at every pick, so another window's choice counts at once.
// GUI thread only.
class CameraPreference {
public:
    // settingFile: Setting.ini; empty remembers nothing.
    explicit CameraPreference(QString settingFile);

    // The place in cameras of the camera to open; -1 for an empty list.
    int pick(const std::vector<CameraId>& cameras) const;
    // Keeps camera as the user's choice. A settings file that cannot be written is not an error.
    void remember(const CameraId& camera);
    // The identity key of the camera chosen last; empty when none was chosen.
    QString rememberedKey() const;

private:
    QString m_settingFile;
};
