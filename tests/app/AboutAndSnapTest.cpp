#include "app/FileVersion.h"
#include "app/HostApp.h"
#include "res/ResourceIds.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <gtest/gtest.h>

#include <vector>

TEST(AboutBox, ShowsTheNameAndTheVersionReadAtEachOpening)
{
    std::vector<QString> shown;
    CHostApp app([] { return true; });
    WhenModal([](QWidget* dialog) { PressKey(dialog, Qt::Key_Escape); });
    ASSERT_TRUE(app.InitInstance());
    ASSERT_TRUE(WaitUntil([] { return QApplication::activeModalWidget() == nullptr; }));
    for (int i = 0; i < 2; ++i) {
        WhenModal([&](QWidget* dialog) {
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("kelvoran"));
            auto* version = dialog->findChild<QLabel*>(QStringLiteral("IDC_VERSION"));
            ASSERT_NE(version, nullptr);
            shown.push_back(version->text());
            auto* ok = dialog->findChild<QPushButton*>();
            ASSERT_NE(ok, nullptr);
            EXPECT_EQ(ok->text(), QStringLiteral("OK"));
            ok->click();
        });
        app.MainWindow()->CommandAction(ID_APP_ABOUT)->trigger();
    }
    // This test program carries no version note: the name and " : " only.
    const QString expected = QString::fromStdString("kelvoran : " + GetFileVersionString());
    EXPECT_EQ(expected, QStringLiteral("kelvoran : "));
    EXPECT_EQ(shown, (std::vector<QString> {expected, expected}));
}

TEST(EdgeSnapping, MovingNearAnEdgeOfTheWorkAreaLandsOnIt)
{
    FrameDriver f;
    const QRect work = f->screen()->availableGeometry();
    struct Case
    {
        const char* name;
        QPoint to;
        QPoint lands;
    };
    const int right = work.right() + 1 - 350;
    const Case cases[] = {
        {"near the left edge", {work.left() + 10, work.top() + 100},
            {work.left(), work.top() + 100}},
        {"too far from the left edge", {work.left() + 15, work.top() + 100},
            {work.left() + 15, work.top() + 100}},
        {"near the top edge", {work.left() + 200, work.top() + 5}, {work.left() + 200, work.top()}},
        {"near the right edge", {right - 14, work.top() + 100}, {right, work.top() + 100}},
        {"far from every edge", {work.left() + 50, work.top() + 60},
            {work.left() + 50, work.top() + 60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        f->move(c.to);
        Pump(30);
        EXPECT_EQ(f->frameGeometry().topLeft(), c.lands) << c.to.x() << "," << c.to.y();
        EXPECT_EQ(f->frameGeometry().size(), QSize(350, 250));
    }
}
