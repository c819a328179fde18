#include "view/HostAnnouncer.h"

#include "hosts/HostEntry.h"
#include "view/HostDetailsText.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

// The announcer as assistive technology sees it: a notification that shows
// once it has something to say, though the widget itself never does.
class AnnouncerAccessible : public QAccessibleWidget
{
public:
    explicit AnnouncerAccessible(QWidget* widget)
        : QAccessibleWidget(widget, QAccessible::Notification)
    { }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.invisible = widget()->accessibleName().isEmpty();
        return state;
    }
};

QAccessibleInterface* AnnouncerFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CHostAnnouncer") && object != nullptr && object->isWidgetType())
        return new AnnouncerAccessible(static_cast<QWidget*>(object));
    return nullptr;
}

} // namespace

CHostAnnouncer::CHostAnnouncer(QWidget* parent)
    : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(AnnouncerFactory);
        return true;
    }();
    Q_UNUSED(installed);
    setObjectName(QStringLiteral("hostAnnouncer"));
    hide();
}

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
    // The name changes first (the bus hears of it, so that readers that
    // keep names learn the new one), then the notification shows.
    setAccessibleName(QString::fromLatin1(text->data(), static_cast<qsizetype>(text->size())));
    QAccessibleEvent shown(this, QAccessible::ObjectShow);
    QAccessible::updateAccessibility(&shown);
}
