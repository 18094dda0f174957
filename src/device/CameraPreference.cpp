#include "device/CameraPreference.h"

#include <utility>

#include "settings/ProfileFile.h"

namespace {

const QString kSection = QStringLiteral("Camera");
const QString kKey = QStringLiteral("Choice");

}  // namespace

CameraPreference::CameraPreference(QString settingFile) : m_settingFile(std::move(settingFile)) {}

QString CameraPreference::rememberedKey() const {
    if (m_settingFile.isEmpty()) {
        return QString();
    }
    return ProfileFile(m_settingFile).readString(kSection, kKey, QString());
}

void CameraPreference::remember(const CameraId& camera) {
    if (!m_settingFile.isEmpty() && camera.isValid()) {
        ProfileFile(m_settingFile).writeString(kSection, kKey, camera.identityKey());
    }
}

int CameraPreference::pick(const std::vector<CameraId>& cameras) const {
    if (cameras.empty()) {
        return -1;
    }
    const QString chosen = rememberedKey();
    if (!chosen.isEmpty()) {
        for (size_t i = 0; i < cameras.size(); ++i) {
            if (cameras[i].identityKey() == chosen) {
                return int(i);
            }
        }
    }
    for (size_t i = 0; i < cameras.size(); ++i) {
        if (cameras[i].usbPort == UsbPort::Removable) {
            return int(i);
        }
    }
    return 0;
}
