#include "app/DisplayStart.h"

#include "app/DisplayChoice.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <memory>
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
    std::vector<std::pair<QtMsgType, StartupMessage>> messages;
    std::unique_ptr<FatalMessageCountdown> countdown;
    QtMessageHandler previous = nullptr;
    std::string notice;
};

Held& held()
{
    static Held h;
    return h;
}

StartupMessage::Kind KindOf(QtMsgType type)
{
    switch (type) {
    case QtWarningMsg:
        return StartupMessage::Kind::Warning;
    case QtCriticalMsg:
        return StartupMessage::Kind::Critical;
    case QtFatalMsg:
        return StartupMessage::Kind::Fatal;
    case QtDebugMsg:
    case QtInfoMsg:
        break;
    }
    return StartupMessage::Kind::Other;
}

// While the platform plugin starts, its messages are held back: when it
// cannot open the display Qt says so in several lines and then aborts, and
// the user is better served by one line that names the cause and the cure.
// Qt also aborts after a warning that QT_FATAL_WARNINGS makes fatal, without
// a fatal message first; the countdown tells which one that is.
void HoldStartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    Held& h = held();
    std::lock_guard lock(h.mutex);
    StartupMessage message {
        KindOf(type), context.category ? context.category : "", text.toStdString()};
    const bool fatal = h.countdown->Count(message.kind);
    h.messages.emplace_back(type, std::move(message));
    if (!fatal)
        return;
    std::vector<StartupMessage> messages;
    for (const auto& [heldType, heldMessage] : h.messages)
        messages.push_back(heldMessage);
    const std::string line = UnusableDisplayMessage(messages, Environment) + "\n";
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
    held().countdown = std::make_unique<FatalMessageCountdown>(Environment);
    held().previous = qInstallMessageHandler(HoldStartupMessage);
    return true;
}

void DisplayOpened()
{
    Held& h = held();
    qInstallMessageHandler(h.previous);
    std::vector<std::pair<QtMsgType, StartupMessage>> messages;
    {
        std::lock_guard lock(h.mutex);
        messages.swap(h.messages);
    }
    // Straight to the handler: through Qt's output each would count once
    // more towards QT_FATAL_WARNINGS.
    for (const auto& [type, message] : messages) {
        const char* category = message.category.empty() ? nullptr : message.category.c_str();
        const QMessageLogContext context(nullptr, 0, nullptr, category);
        if (h.previous)
            h.previous(type, context, QString::fromStdString(message.text));
    }
    if (!h.notice.empty() && QGuiApplication::platformName() == QLatin1String("wayland"))
        std::fprintf(stderr, "%s\n", h.notice.c_str());
}
