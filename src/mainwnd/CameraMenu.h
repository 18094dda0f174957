#pragma once

#include <QString>
#include <functional>
#include <map>
#include <vector>

#include "capture/Camera.h"

class QAction;
class QMenu;

// The Settings ▸ Camera menu: one entry per camera the last support check found, by its name
// (with its device node when several cameras share a name), and a check mark on the open
// camera. Entry k is command Cmd::CameraFirst + k and stands for camera k of the list given to
// Rebuild(); at most kMaxEntries cameras are listed. Without a camera the menu is empty and
// greyed. GUI thread only; the menu is borrowed.
class CameraMenu {
public:
    static constexpr int kMaxEntries = 32;

    // `trigger` runs a command when its entry is chosen.
    CameraMenu(QMenu* menu, std::function<void(int id)> trigger);

    static bool isCameraCommand(int id);
    // The place in the camera list of a camera command's entry.
    static int indexOf(int id);

    // The entries of cameras, replacing whatever the menu held; no entry is checked.
    void Rebuild(const std::vector<CameraId>& cameras);
    // Checks the entry of the camera equal to open (the same device now); none for an invalid
    // or unlisted camera.
    void CheckCamera(const CameraId& open);

    // The entry of a command; null when the menu does not hold it.
    QAction* action(int id) const;
    QMenu* menu() const { return m_menu; }

private:
    QMenu* m_menu;
    std::function<void(int)> m_trigger;
    std::vector<CameraId> m_cameras;  // the listed cameras, entry k first
    std::map<int, QAction*> m_entries;
};
