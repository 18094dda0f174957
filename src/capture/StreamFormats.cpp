#include "capture/StreamFormats.h"

void StreamFormats::setCapabilities(std::vector<CameraFormat> capabilities) {
    m_capabilities = std::move(capabilities);
}

QString StreamFormats::entryText(int width, int height) {
    return QStringLiteral("%1 X %2").arg(width).arg(height);
}

std::vector<ResolutionEntry> StreamFormats::list(bool mjpg) const {
    std::vector<ResolutionEntry> entries;
    const int firstId = mjpg ? kMjpgFirstId : kYuvFirstId;
    for (const CameraFormat& format : m_capabilities) {
        if (format.isMjpg() != mjpg || format.width <= 0) {
            continue;  // a capability of width 0 gives no entry
        }
        if (int(entries.size()) == kMaxEntriesPerList) {
            break;
        }
        const int height = format.height < 0 ? -format.height : format.height;
        entries.push_back({firstId + int(entries.size()), entryText(format.width, height), format});
    }
    return entries;
}

std::vector<ResolutionEntry> StreamFormats::yuvList() const {
    return list(false);
}

std::vector<ResolutionEntry> StreamFormats::mjpgList() const {
    return list(true);
}

std::vector<ResolutionEntry> StreamFormats::flatList() const {
    return list(m_bMjpgSelected);
}

void StreamFormats::enumerate(bool factoryMode) {
    m_nYuvEntryCount = int(factoryMode ? yuvList().size() : flatList().size());
}

std::optional<CameraFormat> StreamFormats::selectedFormat() const {
    const auto entries = list(m_bMjpgSelected);
    if (m_nResolutionIndex < 0 || m_nResolutionIndex >= int(entries.size())) {
        return std::nullopt;  // past the end: the format is left unchanged
    }
    return entries[size_t(m_nResolutionIndex)].format;
}

std::optional<CameraFormat> StreamFormats::formatForCommand(int id) const {
    if (!isResolutionCommand(id)) {
        return std::nullopt;
    }
    const bool mjpg = isMjpgCommand(id);
    const auto entries = list(mjpg);
    const int k = id - (mjpg ? kMjpgFirstId : kYuvFirstId);
    if (k >= int(entries.size())) {
        return std::nullopt;
    }
    return entries[size_t(k)].format;
}
