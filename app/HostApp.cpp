#include "app/HostApp.h"

#include "app/AboutDialog.h"
#include "res/ResourceIds.h"
#include "res/ResourceText.h"
#include "view/PaintThreads.h"

#include <QApplication>
#include <QMessageBox>

CHostApp::CHostApp(SocketCheck socketCheck, CMainFrame::Services services)
    : socketCheck_(std::move(socketCheck))
    , services_(std::move(services))
{
    QApplication::setApplicationName(LoadResText(AFX_IDS_APP_TITLE));
    QApplication::setQuitOnLastWindowClosed(true);
}

CHostApp::~CHostApp()
{
    delete mainWindow_.data();
}

bool CHostApp::InitInstance()
{
    const QString title = LoadResText(AFX_IDS_APP_TITLE);
    if (!socketCheck_ || !socketCheck_()) {
        QMessageBox box(
            QMessageBox::NoIcon, title, LoadResText(IDP_SOCKETS_INIT_FAILED), QMessageBox::Ok);
        box.exec();
        return false;
    }

    KeepPaintThreadsStarted();
    CMainFrame::Services services = services_;
    if (!services.appCommand)
        services.appCommand = [this](int id) { return OnCommand(id); };
    mainWindow_ = new CMainFrame(std::move(services));
    if (!mainWindow_->LoadFrame()) {
        delete mainWindow_.data();
        return false;
    }
    mainWindow_->show();
    return true;
}

int CHostApp::Run()
{
    return QApplication::exec();
}

bool CHostApp::OnCommand(int id)
{
    if (id == ID_APP_ABOUT) {
        OnAppAbout();
        return true;
    }
    return false;
}

void CHostApp::OnAppAbout()
{
    CAboutDialog dialog(mainWindow_);
    dialog.DoModal();
}
