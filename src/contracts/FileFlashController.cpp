#include "contracts/FileFlashController.h"

#include <QStandardPaths>
#include <utility>

#include "contracts/ContractsLog.h"
#include "platform/HexId.h"

// Wraps a call made outside any pair into a pair of its own.
class FileFlashController::ImplicitPair {
public:
    explicit ImplicitPair(FileFlashController& owner) : m_owner(owner), m_open(owner.m_depth == 0) {
        if (m_open) {
            m_owner.ALC_Initialize();
        }
    }
    ~ImplicitPair() {
        if (m_open) {
            m_owner.ALC_UnInitialize();
        }
    }
    ImplicitPair(const ImplicitPair&) = delete;
    ImplicitPair& operator=(const ImplicitPair&) = delete;

private:
    FileFlashController& m_owner;
    bool m_open;
};

namespace {

// Serial numbers, bus infos and card names come from the device; keep only characters that are
// safe in a file name.
QString fileNameSafe(const QString& text) {
    QString out;
    for (const QChar c : text.left(64)) {
        const bool safe = (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') ||
                          (c >= u'a' && c <= u'z') || c == u'-' || c == u'_' || c == u'.';
        out += safe ? c : QChar(u'_');
    }
    return out;
}

}  // namespace

FileFlashController::FileFlashController(QString dataRoot, CameraFinder finder, FlashImage blank)
    : m_finder(std::move(finder)), m_blank(std::move(blank)) {
    // Without a home folder the standard location would be the root of the file system: then
    // nothing is kept, and every save reports failure (the flash lives in memory only).
    if (dataRoot.isEmpty() && !qEnvironmentVariableIsEmpty("HOME")) {
        dataRoot = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    }
    if (!dataRoot.isEmpty()) {
        m_flashFolder = dataRoot + QStringLiteral("/Orvane/flash");
    }
}

FileFlashController::~FileFlashController() {
    if (m_dirty) {
        save();
    }
}

QString FileFlashController::flashFilePath(const CameraIdentity& camera) const {
    if (m_flashFolder.isEmpty()) {
        return {};
    }
    if (!camera.onUsb) {
        return QStringLiteral("%1/v4l2-%2-%3.bin")
            .arg(m_flashFolder, fileNameSafe(camera.busInfo), fileNameSafe(camera.cardName));
    }
    const QString serial =
        camera.serial.isEmpty() ? QStringLiteral("noserial") : fileNameSafe(camera.serial);
    return QStringLiteral("%1/%2-%3-%4.bin")
        .arg(m_flashFolder, HexId(camera.vid), HexId(camera.pid), serial);
}

void FileFlashController::ALC_Initialize() {
    if (m_depth++ > 0) {
        return;
    }
    std::optional<CameraIdentity> found = m_finder ? m_finder() : std::nullopt;
    // Writes whose save failed are tried again; the file needs no camera.
    if (m_dirty) {
        save();
    }
    if (m_dirty && found && found == m_camera) {
        // Still failing: keep the pending writes rather than the older file.
        return;
    }
    if (m_dirty) {
        qCWarning(lcContracts) << "flash writes for"
                               << (m_camera ? flashFilePath(*m_camera) : QString())
                               << "lost: the camera is gone";
    }
    m_camera = std::move(found);
    m_dirty = false;
    if (m_camera) {
        m_flash.load(flashFilePath(*m_camera), m_blank);
    } else {
        m_flash.erase();
    }
}

void FileFlashController::ALC_UnInitialize() {
    if (m_depth == 0) {
        return;
    }
    if (--m_depth > 0) {
        return;
    }
    if (m_dirty) {
        save();
    }
}

void FileFlashController::save() {
    if (!m_camera) {
        return;
    }
    if (m_flash.save(flashFilePath(*m_camera)).ok()) {
        m_dirty = false;
    }
}

bool FileFlashController::ALC_GetPIDVID(uint16_t* vid, uint16_t* pid) {
    ImplicitPair pair(*this);
    if (!m_camera) {
        return false;
    }
    if (vid != nullptr) {
        *vid = m_camera->vid;
    }
    if (pid != nullptr) {
        *pid = m_camera->pid;
    }
    return true;
}

void FileFlashController::ALC_SetFlashSize(uint32_t size) {
    // The image is always kFlashSize bytes; any other value would be a caller's mistake.
    if (size != kFlashSize) {
        qCWarning(lcContracts) << "flash size" << size << "ignored";
    }
}

int FileFlashController::ALC_ReadFlash(uint32_t address, uint32_t length, uint8_t* buffer) {
    ImplicitPair pair(*this);
    if (!m_camera) {
        return 0;
    }
    return m_flash.read(address, length, buffer) ? 1 : 0;
}

void FileFlashController::ALC_WriteFlash(uint32_t address, uint32_t length, const uint8_t* buffer) {
    ImplicitPair pair(*this);
    if (!m_camera) {
        return;
    }
    FlashImage before = m_flash;
    if (!m_flash.write(address, length, buffer)) {
        qCWarning(lcContracts) << "flash write of" << length << "bytes at" << address
                               << "outside the flash ignored";
        return;
    }
    if (!(m_flash == before)) {
        m_dirty = true;
    }
}
