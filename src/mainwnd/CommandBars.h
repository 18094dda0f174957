#pragma once

#include <QObject>
#include <QString>
#include <array>
#include <functional>
#include <map>
#include <memory>

#include "mainwnd/CameraMenu.h"
#include "mainwnd/ResolutionMenu.h"

class QAction;
class QLabel;
class QMainWindow;
class QMenu;
class QToolBar;
struct WindowTexts;

// The main window's menu bar, toolbar and status bar, built from the command table: a menu item
// where a row names a menu (factory-only items in factory mode alone), a toolbar button where it
// names a slot, its shortcuts, and the Resolution, Frequency, Camera and Language submenus. A menu
// item and the toolbar button of one command are separate actions, because their states differ (the
// toolbar shows pictures and pressed states, the menu shows check marks).
//
// Check marks and pressed states are set by the window alone: a click runs the command through
// `trigger` and undoes Qt's own toggle. The status bar has three panes: 0 the stream size,
// 1 the zoom percentage, 2 messages. GUI thread only; the widgets belong to the window.
class CommandBars : public QObject {
    Q_OBJECT
public:
    // `trigger` runs a command; `toolTip` gives a toolbar button's tip in the current state.
    CommandBars(QMainWindow& window, bool factoryMode, std::function<void(int id)> trigger,
                std::function<QString(int id)> toolTip);
    ~CommandBars() override;

    // The menu item of a command (resolution and camera entries included), null when there is
    // none.
    QAction* menuAction(int id) const;
    // The toolbar button of a command, null when there is none.
    QAction* toolAction(int id) const;
    QMenu* topMenu(int position) const;
    QMenu* resolutionMenu() const { return m_resolution->menu(); }
    ResolutionMenu& resolution() { return *m_resolution; }
    QMenu* cameraMenu() const { return m_camera->menu(); }
    CameraMenu& cameras() { return *m_camera; }

    // Menu texts, submenu titles and menu titles in the language of `texts`.
    void ApplyTexts(const WindowTexts& texts);
    void SetMenuChecked(int id, bool checked);
    // Greys or enables a command's menu item and toolbar button.
    void SetEnabled(int id, bool enabled);
    // Sets the pressed state of a toolbar button.
    void SetToolChecked(int id, bool checked);
    void SetToolbarImage(int slot, int iconId);
    int toolbarImage(int slot) const { return m_toolbarImages.at(size_t(slot)); }
    void SetStatusText(int pane, const QString& text);
    QString statusText(int pane) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus(QMainWindow& window);
    void BuildToolBar(QMainWindow& window);
    void BuildStatusBar(QMainWindow& window);
    QAction* AddAction(QMainWindow& window, int id, const QString& text, bool checkable);

    bool m_bFactoryMode;
    std::function<void(int)> m_trigger;
    std::function<QString(int)> m_toolTip;
    std::array<QMenu*, 6> m_topMenus{};
    QMenu* m_menuFrequency = nullptr;
    QMenu* m_menuLanguage = nullptr;
    std::unique_ptr<ResolutionMenu> m_resolution;
    std::unique_ptr<CameraMenu> m_camera;
    std::map<int, QAction*> m_menuActions;
    std::map<int, QAction*> m_toolActions;
    std::array<QAction*, 10> m_toolSlots{};
    std::array<int, 10> m_toolbarImages{};
    QToolBar* m_wndToolBar = nullptr;
    std::array<QLabel*, 3> m_statusPanes{};
};
