#include "mainwnd/CameraMenu.h"

#include <QMenu>
#include <algorithm>
#include <utility>

#include "mainwnd/CommandIds.h"

CameraMenu::CameraMenu(QMenu* menu, std::function<void(int id)> trigger)
    : m_menu(menu), m_trigger(std::move(trigger)) {
    m_menu->menuAction()->setEnabled(false);
}

bool CameraMenu::isCameraCommand(int id) {
    return id >= Cmd::CameraFirst && id < Cmd::CameraFirst + kMaxEntries;
}

int CameraMenu::indexOf(int id) {
    return id - Cmd::CameraFirst;
}

void CameraMenu::Rebuild(const std::vector<CameraId>& cameras) {
    m_menu->clear();
    m_entries.clear();
    m_cameras.assign(cameras.begin(),
                     cameras.begin() + std::min<ptrdiff_t>(ptrdiff_t(cameras.size()), kMaxEntries));
    for (size_t k = 0; k < m_cameras.size(); ++k) {
        const CameraId& camera = m_cameras[k];
        const bool nameShared =
            std::count_if(m_cameras.begin(), m_cameras.end(), [&](const CameraId& other) {
                return other.cardName == camera.cardName;
            }) > 1;
        // Two microscopes of one model are told apart by where they are.
        const QString text = nameShared
                                 ? QStringLiteral("%1 (%2)").arg(camera.cardName, camera.devNode)
                                 : camera.cardName;
        QAction* action = m_menu->addAction(text);
        action->setCheckable(true);
        const int id = Cmd::CameraFirst + int(k);
        QObject::connect(action, &QAction::triggered, m_menu, [this, id, action] {
            // The check mark is set by the handler alone: undo the toggle Qt made on the click.
            action->setChecked(!action->isChecked());
            m_trigger(id);
        });
        m_entries[id] = action;
    }
    m_menu->menuAction()->setEnabled(!m_cameras.empty());
}

void CameraMenu::CheckCamera(const CameraId& open) {
    for (auto& [id, action] : m_entries) {
        action->setChecked(open.isValid() && m_cameras[size_t(indexOf(id))] == open);
    }
}

QAction* CameraMenu::action(int id) const {
    auto it = m_entries.find(id);
    return it == m_entries.end() ? nullptr : it->second;
}
