#include "app/DisplayStart.h"
#include "app/HostApp.h"

#include <QApplication>

#include <clocale>

int main(int argc, char** argv)
{
    if (!PrepareDisplay())
        return 1;
    QApplication app(argc, argv);
    DisplayOpened();
    // Text is in the locale's multibyte encoding; the group file readers step
    // over its characters.
    std::setlocale(LC_ALL, "");
    CHostApp hostApp;
    if (!hostApp.InitInstance())
        return 1;
    return hostApp.Run();
}
