#include "app/DisplayStart.h"

#include "app/DisplayChoice.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

const char* Environment(const char* name)
{
    return std::getenv(name);
}

struct Held
{
    std::mutex mutex;
    std::vector<std::pair<QtMsgType, QString>> messages;
    QtMessageHandler previous = nullptr;
    std::string notice;
};

Held& held()
{
    static Held h;
    return h;
}

// While the platform plugin starts, its warnings are held back: when it
// cannot open the display Qt says so in several lines and then aborts, and
// the user is better served by one line that names the cause and the cure.
void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    Held& h = held();
    if (type != QtFatalMsg) {
        std::lock_guard lock(h.mutex);
        h.messages.emplace_back(type, text);
        return;
    }
    // The most telling reason is the plugin's first warning ("could not
    // connect to display :5"); the fatal text itself only says that no
    // plugin could be started.
    QString reason = text;
    {
        std::lock_guard lock(h.mutex);
        for (const auto& [heldType, heldText] : h.messages) {
            if (heldType == QtWarningMsg || heldType == QtCriticalMsg) {
                reason = heldText;
                break;
            }
        }
    }
    (void)context;
    const std::string line = UnusableDisplayMessage(reason.toStdString(), Environment) + "\n";
    std::fputs(line.c_str(), stderr);
    // Not abort(): no core dump for a display that is not there. Nothing of
    // the half-made application is worth unwinding.
    std::_Exit(1);
}

} // namespace

bool PrepareDisplay()
{
    const DisplayChoice choice = ChooseDisplay(Environment);
    if (!choice.problem.empty()) {
        std::fprintf(stderr, "%s\n", choice.problem.c_str());
        return false;
    }
    if (!choice.platform.empty())
        qputenv("QT_QPA_PLATFORM", QByteArray::fromStdString(choice.platform));
    held().notice = choice.notice;
    held().previous = qInstallMessageHandler(HoldStartupMessage);
    return true;
}

void DisplayOpened()
{
    Held& h = held();
    qInstallMessageHandler(h.previous);
    std::vector<std::pair<QtMsgType, QString>> messages;
    {
        std::lock_guard lock(h.mutex);
        messages.swap(h.messages);
    }
    for (const auto& [type, text] : messages)
        qt_message_output(type, QMessageLogContext(), text);
    if (!h.notice.empty())
        std::fprintf(stderr, "%s\n", h.notice.c_str());
}
