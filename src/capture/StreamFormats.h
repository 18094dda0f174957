#pragma once

#include <QString>
#include <optional>
#include <vector>

#include "capture/Camera.h"

// One entry of a resolution list: its menu command, its text ("W X H") and the format it
// applies.
struct ResolutionEntry {
    int commandId = 0;
    QString text;
    CameraFormat format;
};

// The camera's stream formats as the Resolution menu offers them, and the stream choice.
//
// Capabilities come from the camera uncompressed formats first, then MJPG, each (format, size)
// once. The "YUV" list holds the uncompressed entries with ids from 40018, the "MJPG" list the
// MJPG entries with ids from 40056; entry k of a list applies that list's entry k. Factory mode
// shows both lists; normal mode shows one flat list, the one m_bMjpgSelected selects, so the
// choice of compression kept in the camera's flash decides which sizes a user sees.
//
// m_nResolutionIndex, m_bMjpgSelected and m_nPowerLineFreq are stored in the camera's flash
// parameter block; they survive graph rebuilds. GUI thread only.
class StreamFormats {
public:
    static constexpr int kYuvFirstId = 40018;
    static constexpr int kMjpgFirstId = 40056;
    // Every listed entry is a command: YUV ids run up to just below the MJPG range, MJPG ids
    // as far again.
    static constexpr int kMaxEntriesPerList = kMjpgFirstId - kYuvFirstId;

    void setCapabilities(std::vector<CameraFormat> capabilities);
    const std::vector<CameraFormat>& capabilities() const { return m_capabilities; }

    std::vector<ResolutionEntry> yuvList() const;
    std::vector<ResolutionEntry> mjpgList() const;
    // Normal mode's flat list: the list that m_bMjpgSelected selects.
    std::vector<ResolutionEntry> flatList() const;

    // Rebuilds m_nYuvEntryCount for the layout of the mode (factory: the YUV list; normal: the
    // flat list) and returns nothing; the window builds its menus from the lists above.
    void enumerate(bool factoryMode);

    // The stored choice: entry m_nResolutionIndex of the selected list, if it exists.
    std::optional<CameraFormat> selectedFormat() const;

    static bool isYuvCommand(int id) { return id >= kYuvFirstId && id < kMjpgFirstId; }
    static bool isMjpgCommand(int id) {
        return id >= kMjpgFirstId && id < kMjpgFirstId + kMaxEntriesPerList;
    }
    static bool isResolutionCommand(int id) { return isYuvCommand(id) || isMjpgCommand(id); }
    // The format a resolution command applies; none for an id past its list.
    std::optional<CameraFormat> formatForCommand(int id) const;

    static QString entryText(int width, int height);

    int m_nResolutionIndex = 0;
    bool m_bMjpgSelected = false;
    int m_nYuvEntryCount = 0;
    int m_nPowerLineFreq = 0;  // 1 = 50 Hz, 2 = 60 Hz, 0 = not chosen (treated as 60 Hz)

private:
    std::vector<ResolutionEntry> list(bool mjpg) const;

    std::vector<CameraFormat> m_capabilities;
};
