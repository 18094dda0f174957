#include "mainwnd/CommandBars.h"

#include <QAction>
#include <QHelpEvent>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <algorithm>

#include "mainwnd/CommandIds.h"
#include "mainwnd/CommandTable.h"
#include "mainwnd/Icons.h"
#include "mainwnd/WindowTexts.h"

CommandBars::CommandBars(QMainWindow& window, bool factoryMode, std::function<void(int id)> trigger,
                         std::function<QString(int id)> toolTip)
    : QObject(&window),
      m_bFactoryMode(factoryMode),
      m_trigger(std::move(trigger)),
      m_toolTip(std::move(toolTip)) {
    BuildMenus(window);
    BuildToolBar(window);
    BuildStatusBar(window);
}

CommandBars::~CommandBars() = default;

QAction* CommandBars::AddAction(QMainWindow& window, int id, const QString& text, bool checkable) {
    auto* action = new QAction(text, &window);
    action->setData(id);
    action->setCheckable(checkable);
    connect(action, &QAction::triggered, this, [this, id, action] {
        // Check marks are set by the window alone: undo the toggle Qt made on the click.
        if (action->isCheckable()) {
            action->setChecked(!action->isChecked());
        }
        m_trigger(id);
    });
    return action;
}

void CommandBars::BuildMenus(QMainWindow& window) {
    QMenuBar* bar = window.menuBar();
    const char* titles[6] = {"File", "Setting", "Control", "Zoom", "Mirr", "About"};
    for (size_t i = 0; i < m_topMenus.size(); ++i) {
        m_topMenus[i] = bar->addMenu(QLatin1String(titles[i]));
    }
    // F10 opens the menu bar's first menu, as on other Linux desktops; the arrow keys go on
    // from there, and Alt with a title's underlined letter opens that menu.
    auto* openMenuBar = new QAction(&window);
    openMenuBar->setShortcut(QKeySequence(Qt::Key_F10));
    openMenuBar->setShortcutContext(Qt::WindowShortcut);
    window.addAction(openMenuBar);
    connect(openMenuBar, &QAction::triggered, this, [this, bar] {
        if (bar->isVisible() && !bar->activeAction()) {
            bar->setActiveAction(m_topMenus[0]->menuAction());
        }
    });
    QMenu* setting = m_topMenus[1];
    m_resolution = std::make_unique<ResolutionMenu>(setting->addMenu(QStringLiteral("Resolution")),
                                                    m_bFactoryMode, m_trigger);
    m_menuFrequency = setting->addMenu(QStringLiteral("Frequency"));
    m_camera = std::make_unique<CameraMenu>(setting->addMenu(QStringLiteral("Camera")), m_trigger);

    for (const CommandRow& row : MainCommands()) {
        if (row.factoryOnly && !m_bFactoryMode) {
            continue;  // the toolbar button, if any, stays
        }
        QMenu* menu = nullptr;
        switch (row.menu) {
            case MenuPlace::None:
                break;
            case MenuPlace::File:
                menu = m_topMenus[0];
                break;
            case MenuPlace::Setting:
                menu = setting;
                break;
            case MenuPlace::Frequency:
                menu = m_menuFrequency;
                break;
            case MenuPlace::Control:
                menu = m_topMenus[2];
                break;
            case MenuPlace::Zoom:
                menu = m_topMenus[3];
                break;
            case MenuPlace::Mirror:
                menu = m_topMenus[4];
                break;
            case MenuPlace::About:
                menu = m_topMenus[5];
                break;
            case MenuPlace::Language:
                if (!m_menuLanguage) {
                    m_menuLanguage = m_topMenus[5]->addMenu(QStringLiteral("Language"));
                }
                menu = m_menuLanguage;
                break;
        }
        QAction* action = AddAction(window, row.id, QLatin1String(row.fixedText), row.checkable);
        QList<QKeySequence> keys;
        for (QKeyCombination key : row.keys) {
            if (key.key() != Qt::Key_unknown) {
                keys << QKeySequence(key);
            }
        }
        action->setShortcuts(keys);
        if (row.menu == MenuPlace::Language) {
            action->setIcon(IconById(Icon::FlagChinese + (row.id - Cmd::LangChinese)));
        }
        if (menu) {
            menu->addAction(action);
            m_menuActions[row.id] = action;
        } else {
            window.addAction(action);  // a key without a menu item
        }
    }
}

void CommandBars::BuildToolBar(QMainWindow& window) {
    m_wndToolBar = window.addToolBar(QStringLiteral("Toolbar"));
    m_wndToolBar->setObjectName(QStringLiteral("MainToolBar"));
    m_wndToolBar->setMovable(false);
    m_wndToolBar->setFloatable(false);
    m_wndToolBar->setIconSize(QSize(22, 20));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_wndToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    const auto rows = MainCommands();
    for (int slot = 0; slot < int(m_toolSlots.size()); ++slot) {
        const auto row = std::find_if(rows.begin(), rows.end(),
                                      [slot](const CommandRow& r) { return r.toolSlot == slot; });
        if (row == rows.end()) {
            continue;
        }
        if (slot == ToolSlot::ZoomIn || slot == ToolSlot::HMirror || slot == ToolSlot::Property) {
            m_wndToolBar->addSeparator();
        }
        // Mirror buttons show a pressed state.
        QAction* action = AddAction(window, row->id, QString(),
                                    row->id == Cmd::HMirror || row->id == Cmd::VMirror);
        m_wndToolBar->addAction(action);
        m_toolActions[row->id] = action;
        m_toolSlots[size_t(slot)] = action;
        SetToolbarImage(slot, row->toolIcon);
        if (QWidget* button = m_wndToolBar->widgetForAction(action)) {
            button->installEventFilter(this);
            button->setMinimumSize(30, 30);
        }
    }
}

void CommandBars::BuildStatusBar(QMainWindow& window) {
    QStatusBar* bar = window.statusBar();
    bar->setSizeGripEnabled(false);
    const int widths[3] = {80, 50, 100};
    for (int pane = 0; pane < 3; ++pane) {
        auto* label = new QLabel(bar);
        label->setMinimumWidth(widths[pane]);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        if (pane < 2) {
            label->setFixedWidth(widths[pane]);
            bar->addWidget(label);
        } else {
            bar->addWidget(label, 1);
        }
        m_statusPanes[size_t(pane)] = label;
    }
}

void CommandBars::ApplyTexts(const WindowTexts& texts) {
    const QString* titles[6] = {&texts.m_strMenuFile,    &texts.m_strMenuSetting,
                                &texts.m_strMenuControl, &texts.m_strMenuZoom,
                                &texts.m_strMenuMirror,  &texts.m_strMenuAbout};
    for (size_t i = 0; i < m_topMenus.size(); ++i) {
        m_topMenus[i]->setTitle(*titles[i]);
    }
    for (const CommandRow& row : MainCommands()) {
        QAction* action = menuAction(row.id);
        if (row.text && action) {
            action->setText(texts.*row.text);
        }
    }
    resolutionMenu()->setTitle(texts.m_strResolution);
    m_menuFrequency->setTitle(texts.m_strFrequency);
    cameraMenu()->setTitle(texts.m_strCamera);
    m_menuLanguage->setTitle(texts.m_strMenuLanguage);
}

QAction* CommandBars::menuAction(int id) const {
    auto it = m_menuActions.find(id);
    if (it != m_menuActions.end()) {
        return it->second;
    }
    return CameraMenu::isCameraCommand(id) ? m_camera->action(id) : m_resolution->action(id);
}

QAction* CommandBars::toolAction(int id) const {
    auto it = m_toolActions.find(id);
    return it == m_toolActions.end() ? nullptr : it->second;
}

QMenu* CommandBars::topMenu(int position) const {
    if (position < 0 || position >= int(m_topMenus.size())) {
        return nullptr;
    }
    return m_topMenus[size_t(position)];
}

void CommandBars::SetMenuChecked(int id, bool checked) {
    if (QAction* action = menuAction(id)) {
        action->setChecked(checked);
    }
}

void CommandBars::SetEnabled(int id, bool enabled) {
    if (QAction* action = menuAction(id)) {
        action->setEnabled(enabled);
    }
    if (QAction* action = toolAction(id)) {
        action->setEnabled(enabled);
    }
}

void CommandBars::SetToolChecked(int id, bool checked) {
    if (QAction* action = toolAction(id)) {
        action->setChecked(checked);
    }
}

void CommandBars::SetToolbarImage(int slot, int iconId) {
    m_toolbarImages.at(size_t(slot)) = iconId;
    if (QAction* action = m_toolSlots.at(size_t(slot))) {
        action->setIcon(IconById(iconId));
    }
    m_wndToolBar->update();
}

void CommandBars::SetStatusText(int pane, const QString& text) {
    if (QLabel* label = m_statusPanes.at(size_t(pane))) {
        label->setText(text);
    }
}

QString CommandBars::statusText(int pane) const {
    QLabel* label = m_statusPanes.at(size_t(pane));
    return label ? label->text() : QString();
}

bool CommandBars::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* button = qobject_cast<QToolButton*>(watched);
        if (button && button->defaultAction()) {
            const QString text = m_toolTip(button->defaultAction()->data().toInt());
            auto* help = static_cast<QHelpEvent*>(event);
            if (text.isEmpty()) {
                QToolTip::hideText();
            } else {
                QToolTip::showText(help->globalPos(), text, button);
            }
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
