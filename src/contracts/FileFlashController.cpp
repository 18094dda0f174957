#include "contracts/FileFlashController.h"

#include <QDir>
#include <cerrno>
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
        // A relative XDG_DATA_HOME is ignored, as the XDG rules say.
        const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
        dataRoot =
            QDir::isAbsolutePath(xdg) ? xdg : QDir::homePath() + QStringLiteral("/.local/share");
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
    QString serial = fileNameSafe(camera.serial);
    if (camera.serial.isEmpty()) {
        serial = camera.port.isEmpty() ? QStringLiteral("noserial")
                                       : QStringLiteral("port-") + fileNameSafe(camera.port);
    }
    return QStringLiteral("%1/%2-%3-%4.bin")
        .arg(m_flashFolder, HexId(camera.vid), HexId(camera.pid), serial);
}

FlashNotice FileFlashController::takeFlashNotice() {
    return std::exchange(m_notice, FlashNotice());
}

void FileFlashController::takeOverSharedFile(const CameraIdentity& camera) {
    if (!camera.onUsb || !camera.serial.isEmpty() || camera.port.isEmpty()) {
        return;
    }
    const QString own = flashFilePath(camera);
    CameraIdentity unplaced = camera;
    unplaced.port.clear();
    const QString shared = flashFilePath(unplaced);
    if (own.isEmpty() || InspectPath(own).kind != FileKind::Missing ||
        InspectPath(shared).kind != FileKind::Regular) {
        return;
    }
    const FileResult moved = MoveRegularFileAside(shared, own);
    if (moved.ok()) {
        qCInfo(lcContracts) << "flash image" << shared << "taken over by the camera on port"
                            << camera.port << "as" << own;
    } else {
        qCWarning(lcContracts).noquote()
            << "cannot take over flash image" << shared << "as" << own << ":" << moved.describe();
    }
}

void FileFlashController::load() {
    const QString path = flashFilePath(*m_camera);
    takeOverSharedFile(*m_camera);
    const FlashImage::Loading loading = m_flash.load(path, m_blank);
    m_fileState = loading.state;
    const QString finding = path + QLatin1Char('|') + QString::number(int(loading.state));
    if (finding == m_loggedLoad) {
        return;  // every outermost pair reads the file again; say it once
    }
    m_loggedLoad = finding;
    if (loading.state == FlashImage::FileState::Unreadable) {
        const QString why =
            loading.result.step == FileStep::Refuse
                ? QStringLiteral("is not a regular file")
                : QStringLiteral("cannot be read (%1)").arg(loading.result.describe());
        qCWarning(lcContracts).noquote()
            << "flash image" << path
            << why + QStringLiteral(
                         "; it is left as it is and this camera's settings are kept "
                         "in memory only");
        if (!m_toldUnreadable.contains(path)) {
            m_toldUnreadable.insert(path);
            m_notice = FlashNotice{"FLASHUNREADABLE", path};
        }
    } else if (loading.state == FlashImage::FileState::WrongSize) {
        qCWarning(lcContracts).noquote()
            << "flash image" << path << "has" << loading.size << "bytes instead of"
            << QStringLiteral(
                   "%1; what it holds counts, and it is kept aside before the first "
                   "write")
                   .arg(kFlashSize);
        if (!m_toldUnreadable.contains(path)) {
            m_toldUnreadable.insert(path);
            m_notice = FlashNotice{"FLASHWRONGSIZE", path};
        }
    }
}

// A free name beside path for a damaged file: <name>.bak, else .bak-2 … .bak-9.
QString FileFlashController::setAside(const QString& path) {
    for (int n = 1; n <= 9; ++n) {
        const QString aside =
            path + (n == 1 ? QStringLiteral(".bak") : QStringLiteral(".bak-%1").arg(n));
        const FileResult moved = MoveRegularFileAside(path, aside);
        if (moved.ok()) {
            return aside;
        }
        if (moved.error != EEXIST) {
            qCWarning(lcContracts).noquote()
                << "cannot keep flash image" << path << "aside:" << moved.describe();
            return {};
        }
    }
    qCWarning(lcContracts) << "cannot keep flash image" << path << "aside: no free name";
    return {};
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
        load();
    } else {
        m_flash.erase();
        m_fileState = FlashImage::FileState::Missing;
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
    const QString path = flashFilePath(*m_camera);
    if (path.isEmpty()) {
        return;  // no data folder: the flash lives in memory
    }
    if (m_fileState == FlashImage::FileState::Unreadable) {
        return;  // logged at the load: the file is never written
    }
    if (m_fileState == FlashImage::FileState::WrongSize) {
        const QString aside = setAside(path);
        if (aside.isEmpty()) {
            return;  // the damaged file stays, and so do the writes
        }
        qCWarning(lcContracts) << "flash image" << path << "had the wrong size; kept as" << aside;
        m_notice = FlashNotice{"FLASHSETASIDE", aside};
        m_fileState = FlashImage::FileState::Missing;
    }
    const FileResult saved = m_flash.save(path);
    if (saved.ok()) {
        m_dirty = false;
        m_fileState = FlashImage::FileState::Loaded;
        m_loggedSave.clear();
        return;
    }
    const QString failure = path + QLatin1Char('|') + saved.describe();
    if (failure != m_loggedSave) {
        m_loggedSave = failure;
        qCWarning(lcContracts).noquote()
            << "cannot save flash image" << path
            << (saved.step == FileStep::Refuse ? "(not a regular file):" : ":") << saved.describe();
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
