#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "capture/Camera.h"

// One entry of a resolution list: its place in the list, its text ("W X H") and the format it
// applies.
struct ResolutionEntry {
    int index = 0;
    QString text;
    CameraFormat format;
};

// The camera's stream formats as the Resolution menu offers them, and the stream choice.
//
// Capabilities come from the camera uncompressed formats first, then MJPG, each (format, size)
// once. The "YUV" list holds the uncompressed entries, the "MJPG" list the MJPG entries; entry k
// of a list applies that list's entry k. Factory mode shows both lists; normal mode shows one
// flat list, the one m_bMjpgSelected selects, so the choice of compression kept in the camera's
// flash decides which sizes a user sees.
//
// m_nResolutionIndex, m_bMjpgSelected and m_nPowerLineFreq are stored in the camera's flash
// parameter block; they survive graph rebuilds. GUI thread only.
class StreamFormats {
public:
    // A list holds at most this many entries (the room the menu's command numbers leave).
    static constexpr int kMaxEntriesPerList = 38;

    void setCapabilities(std::vector<CameraFormat> capabilities);
    const std::vector<CameraFormat>& capabilities() const { return m_capabilities; }

    // The MJPG list or the uncompressed ("YUV") list.
    std::vector<ResolutionEntry> list(bool mjpg) const;
    std::vector<ResolutionEntry> yuvList() const { return list(false); }
    std::vector<ResolutionEntry> mjpgList() const { return list(true); }
    // Normal mode's flat list: the list that m_bMjpgSelected selects.
    std::vector<ResolutionEntry> flatList() const { return list(m_bMjpgSelected); }

    // Entry `index` of a list; none past its end.
    std::optional<CameraFormat> formatAt(bool mjpg, int index) const;
    // The stored choice: entry m_nResolutionIndex of the selected list, if it exists.
    std::optional<CameraFormat> selectedFormat() const;

    static QString entryText(int width, int height);

    int m_nResolutionIndex = 0;
    bool m_bMjpgSelected = false;
    int m_nPowerLineFreq = 0;  // 1 = 50 Hz, 2 = 60 Hz, 0 = not chosen (treated as 60 Hz)

private:
    std::vector<CameraFormat> m_capabilities;
};
