#include "app/HostApp.h"

#include "app/AboutDialog.h"
#include "res/Resource.h"
#include "res/Resources.h"
#include "res/WidgetText.h"

#include <QApplication>
#include <QMessageBox>
#include <QSemaphore>
#include <QThreadPool>

#include <memory>

namespace {

// Qt's painter hands wide fills to the global thread pool and waits for them.
// A pool thread the system refuses to start (at the user's process limit,
// which the probes' own threads can reach) leaves its fill queued and the
// window waiting for good. So the pool's threads are started now, while
// there is room, and kept: painting then never needs a new one.
void KeepPaintThreadsStarted()
{
    QThreadPool* pool = QThreadPool::globalInstance();
    pool->setExpiryTimeout(-1);
    const int count = pool->maxThreadCount();
    // Each task holds its thread until all are running, so that none is
    // reused for another; shared, as a task refused a thread runs later.
    auto running = std::make_shared<QSemaphore>();
    auto hold = std::make_shared<QSemaphore>();
    for (int i = 0; i < count; ++i) {
        pool->start([running, hold] {
            running->release();
            hold->acquire();
        });
    }
    running->tryAcquire(count, 2000);
    hold->release(count);
}

} // namespace

CHostApp::CHostApp(SocketCheck socketCheck, CMainFrame::Services services)
    : socketCheck_(std::move(socketCheck))
    , services_(std::move(services))
{
    QApplication::setApplicationName(FromLocaleBytes(LoadResString(AFX_IDS_APP_TITLE)));
    QApplication::setQuitOnLastWindowClosed(true);
}

CHostApp::~CHostApp()
{
    delete mainWindow_.data();
}

bool CHostApp::InitInstance()
{
    const QString title = FromLocaleBytes(LoadResString(AFX_IDS_APP_TITLE));
    if (!socketCheck_ || !socketCheck_()) {
        QMessageBox box(QMessageBox::NoIcon, title,
            FromLocaleBytes(LoadResString(IDP_SOCKETS_INIT_FAILED)), QMessageBox::Ok);
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
