#include "capture/StreamFormats.h"

void StreamFormats::setCapabilities(std::vector<CameraFormat> capabilities) {
    m_capabilities = std::move(capabilities);
}

QString StreamFormats::entryText(int width, int height) {
    return QStringLiteral("%1 X %2").arg(width).arg(height);
}

std::vector<ResolutionEntry> StreamFormats::list(bool mjpg) const {
    std::vector<ResolutionEntry> entries;
    for (const CameraFormat& format : m_capabilities) {
        if (format.isMjpg() != mjpg || format.width <= 0) {
            continue;  // a capability of width 0 gives no entry
        }
        if (int(entries.size()) == kMaxEntriesPerList) {
            break;
        }
        const int height = format.height < 0 ? -format.height : format.height;
        entries.push_back({int(entries.size()), entryText(format.width, height), format});
    }
    return entries;
}

std::optional<CameraFormat> StreamFormats::formatAt(bool mjpg, int index) const {
    const auto entries = list(mjpg);
    if (index < 0 || index >= int(entries.size())) {
        return std::nullopt;  // past the end: the format is left unchanged
    }
    return entries[size_t(index)].format;
}

std::optional<CameraFormat> StreamFormats::selectedFormat() const {
    return formatAt(m_bMjpgSelected, m_nResolutionIndex);
}
