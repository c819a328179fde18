#pragma once

#include <functional>
#include <map>

class QAction;
class QMainWindow;

// The main window's menu bar and accelerators, built from the program's menu
// and accelerator tables. Every item and accelerator hands its command
// identifier to one handler; the log items carry a check mark.
class FrameMenu
{
public:
    using CommandHandler = std::function<void(int id)>;

    // `aboutToShow` runs before any of the menus opens, to update its items.
    void Build(QMainWindow* window, const CommandHandler& onCommand,
        const std::function<void()>& aboutToShow);

    // The menu item of a command, or null.
    QAction* Action(int id) const;

private:
    std::map<int, QAction*> actions_;
};
