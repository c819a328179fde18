#pragma once

#include "app/MainFrame.h"
#include "app/SocketCheck.h"

#include <QPointer>

// The application: checks the socket layer, creates and shows the main window,
// and serves the application-wide commands. Needs a QApplication to exist.
class CHostApp
{
public:
    explicit CHostApp(
        SocketCheck socketCheck = SocketLayerWorks, CMainFrame::Services services = {});
    ~CHostApp();
    CHostApp(const CHostApp&) = delete;
    CHostApp& operator=(const CHostApp&) = delete;

    // Start-up; false when the program must end without a window.
    bool InitInstance();
    // The message loop, until the main window is gone; the exit status.
    int Run();

    CMainFrame* MainWindow() const { return mainWindow_; }

    // Application commands; true when handled.
    bool OnCommand(int id);
    void OnAppAbout();

private:
    SocketCheck socketCheck_;
    CMainFrame::Services services_;
    QPointer<CMainFrame> mainWindow_;
};
