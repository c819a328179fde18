#include "view/HostAnnouncer.h"

#include "hosts/HostEntry.h"
#include "view/HostDetailsText.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

// A notification named with its words; it shows, though the widget never does.
class NotificationAccessible : public QAccessibleWidget
{
public:
    explicit NotificationAccessible(CHostNotification* widget)
        : QAccessibleWidget(widget, QAccessible::Notification)
    { }

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const CHostNotification*>(widget())->Words();
        return QAccessibleWidget::text(t);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = false;
        return state;
    }
};

QAccessibleInterface* NotificationFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CHostNotification"))
        return new NotificationAccessible(static_cast<CHostNotification*>(object));
    return nullptr;
}

} // namespace

CHostNotification::CHostNotification(QWidget* parent, const QString& words)
    : QWidget(parent)
    , words_(words)
{
    [[maybe_unused]] static const bool installed = [] {
        QAccessible::installFactory(NotificationFactory);
        return true;
    }();
    setObjectName(QStringLiteral("hostNotification"));
    hide();
}

CHostAnnouncer::CHostAnnouncer(QWidget* window)
    : QObject(window)
    , window_(window)
{ }

void CHostAnnouncer::HostChanged(const HostEntry& entry, std::uint32_t tick)
{
    if (!QAccessible::isActive())
        return;
    pace_.Add(entry.details.answering, tick, [&entry] { return HostChangeText(entry); });
}

void CHostAnnouncer::AnnounceDue(std::uint32_t tick)
{
    if (!pace_.Gathering())
        return;
    const std::optional<std::string> text = pace_.Take(tick);
    if (!text)
        return;
    delete latest_;
    latest_ = new CHostNotification(
        window_, QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size())));
    QAccessibleEvent shown(latest_.data(), QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
