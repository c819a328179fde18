#include "app/FrameMenu.h"

#include "res/ResourceIds.h"
#include "res/ResourceTables.h"

#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>

void FrameMenu::Build(
    QMainWindow* window, const CommandHandler& onCommand, const std::function<void()>& aboutToShow)
{
    for (const PopupDef& popup : MainMenu()) {
        QMenu* menu = window->menuBar()->addMenu(QString::fromLatin1(popup.caption));
        for (const MenuItemDef& item : popup.items) {
            if (item.caption == nullptr) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(QString::fromLatin1(item.caption));
            const int id = item.command;
            action->setData(id);
            if (id == ID_FULL_LOG || id == ID_LOG_BY_STATUS)
                action->setCheckable(true);
            QObject::connect(
                action, &QAction::triggered, window, [onCommand, id] { onCommand(id); });
            actions_[id] = action;
        }
        QObject::connect(menu, &QMenu::aboutToShow, window, aboutToShow);
    }
    for (const AccelDef& accel : MainAccelerators()) {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(accel.keys)), window);
        shortcut->setContext(Qt::WindowShortcut);
        const int id = accel.command;
        QObject::connect(
            shortcut, &QShortcut::activated, window, [onCommand, id] { onCommand(id); });
    }
}

QAction* FrameMenu::Action(int id) const
{
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}
