#pragma once

#include <QString>
#include <functional>
#include <map>

class QAction;
class QMenu;
class StreamFormats;

// The Setting ▸ Resolution menu. Factory mode shows the uncompressed ("YUV") and the MJPG list
// as two submenus whose own check marks tell which kind is in use; normal mode shows one flat
// list, the one the stored stream choice selects. Entry k of the uncompressed list is command
// Cmd::YuvFirst + k, entry k of the MJPG list Cmd::MjpgFirst + k. Until a camera's formats are
// known each submenu holds a placeholder "NULL". GUI thread only; the menu is borrowed.
class ResolutionMenu {
public:
    // `trigger` runs a command when its entry is chosen.
    ResolutionMenu(QMenu* menu, bool factoryMode, std::function<void(int id)> trigger);

    static bool isResolutionCommand(int id);
    static bool isMjpgCommand(int id);
    // The place of a resolution command's entry in its list.
    static int indexOf(int id);
    static int commandId(bool mjpg, int index);

    // The entries of the camera's formats, replacing whatever the menu held.
    void Rebuild(const StreamFormats& formats);
    // Checks the entry `index` of the list of the current format's kind (and that kind's
    // submenu); the other entries of that list lose their marks.
    void CheckCurrent(bool mjpg, int index);
    // Checks the entry of command `id` alone among all entries (and the submenu of its kind).
    void CheckCommand(int id);

    // Greys every entry (the camera is gone), in either layout; the next Rebuild() brings
    // enabled entries.
    void DisableEntries();

    // The entry (or placeholder) of a command; null when the menu does not hold it.
    QAction* action(int id) const;
    QMenu* menu() const { return m_menu; }

private:
    QAction* AddEntry(QMenu* menu, int id, const QString& text);

    QMenu* m_menu;
    QMenu* m_menuYuv = nullptr;
    QMenu* m_menuMjpg = nullptr;
    bool m_bFactoryMode;
    std::function<void(int)> m_trigger;
    std::map<int, QAction*> m_entries;
};
