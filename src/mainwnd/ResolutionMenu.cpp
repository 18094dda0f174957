#include "mainwnd/ResolutionMenu.h"

#include <QMenu>

#include "capture/StreamFormats.h"
#include "mainwnd/CommandIds.h"

ResolutionMenu::ResolutionMenu(QMenu* menu, bool factoryMode, std::function<void(int id)> trigger)
    : m_menu(menu), m_bFactoryMode(factoryMode), m_trigger(std::move(trigger)) {
    m_menuYuv = m_menu->addMenu(QStringLiteral("YUV"));
    AddEntry(m_menuYuv, Cmd::YuvPlaceholder, QStringLiteral("NULL"))->setCheckable(false);
    m_menuMjpg = m_menu->addMenu(QStringLiteral("MJPG"));
    AddEntry(m_menuMjpg, Cmd::MjpgPlaceholder, QStringLiteral("NULL"))->setCheckable(false);
}

bool ResolutionMenu::isMjpgCommand(int id) {
    return id >= Cmd::MjpgFirst && id < Cmd::MjpgFirst + StreamFormats::kMaxEntriesPerList;
}

bool ResolutionMenu::isResolutionCommand(int id) {
    return (id >= Cmd::YuvFirst && id < Cmd::MjpgFirst) || isMjpgCommand(id);
}

int ResolutionMenu::indexOf(int id) {
    return id - (isMjpgCommand(id) ? Cmd::MjpgFirst : Cmd::YuvFirst);
}

int ResolutionMenu::commandId(bool mjpg, int index) {
    return (mjpg ? Cmd::MjpgFirst : Cmd::YuvFirst) + index;
}

QAction* ResolutionMenu::AddEntry(QMenu* menu, int id, const QString& text) {
    QAction* action = menu->addAction(text);
    action->setCheckable(true);
    QObject::connect(action, &QAction::triggered, menu, [this, id, action] {
        // Check marks are set by the handler alone: undo the toggle Qt made on the click.
        if (action->isCheckable()) {
            action->setChecked(!action->isChecked());
        }
        m_trigger(id);
    });
    m_entries[id] = action;
    return action;
}

void ResolutionMenu::Rebuild(const StreamFormats& formats) {
    m_entries.clear();
    auto addEntries = [this](QMenu* menu, bool mjpg, const auto& entries) {
        for (const ResolutionEntry& entry : entries) {
            AddEntry(menu, commandId(mjpg, entry.index), entry.text);
        }
    };
    if (m_bFactoryMode) {
        m_menuYuv->menuAction()->setCheckable(true);
        m_menuMjpg->menuAction()->setCheckable(true);
        m_menuYuv->clear();
        m_menuMjpg->clear();
        addEntries(m_menuYuv, false, formats.yuvList());
        addEntries(m_menuMjpg, true, formats.mjpgList());
    } else {
        // Normal mode: one flat list in place of the two submenus.
        m_menu->clear();
        m_menuYuv = nullptr;
        m_menuMjpg = nullptr;
        addEntries(m_menu, formats.m_bMjpgSelected, formats.flatList());
    }
}

void ResolutionMenu::CheckCurrent(bool mjpg, int index) {
    QMenu* list = m_menu;
    if (m_menuYuv && m_menuMjpg) {
        m_menuMjpg->menuAction()->setChecked(mjpg);
        m_menuYuv->menuAction()->setChecked(!mjpg);
        list = mjpg ? m_menuMjpg : m_menuYuv;
    }
    const auto entries = list->actions();
    for (int i = 0; i < entries.size(); ++i) {
        if (!entries[i]->menu()) {
            entries[i]->setChecked(i == index);
        }
    }
}

void ResolutionMenu::CheckCommand(int id) {
    for (auto& [entryId, action] : m_entries) {
        if (isResolutionCommand(entryId)) {
            action->setChecked(entryId == id);
        }
    }
    if (m_menuYuv && m_menuMjpg) {
        m_menuYuv->menuAction()->setChecked(!isMjpgCommand(id));
        m_menuMjpg->menuAction()->setChecked(isMjpgCommand(id));
    }
}

void ResolutionMenu::DisableEntries() {
    for (auto& [id, action] : m_entries) {
        action->setEnabled(false);
    }
}

QAction* ResolutionMenu::action(int id) const {
    auto it = m_entries.find(id);
    return it == m_entries.end() ? nullptr : it->second;
}
