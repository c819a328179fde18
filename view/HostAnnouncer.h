#pragma once

#include "view/AnnouncementPace.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstdint>

struct HostEntry;

// One announcement as assistive technology sees it: a notification, shown
// with its words as its name, though it is never drawn.
class CHostNotification : public QWidget
{
    Q_OBJECT
public:
    CHostNotification(QWidget* parent, const QString& words);
    const QString& Words() const { return words_; }

private:
    QString words_;
};

// Tells assistive technology, a screen reader above all, when hosts fall
// silent or answer again, at the pace AnnouncementPace sets. Qt's bridge to
// the accessibility bus has no announcement of its own; what reaches a screen
// reader whatever window has the focus is a notification being shown. So each
// announcement is a notification of its own, the one before going: a reader
// that keeps the names of what it has seen finds the new words on a new
// object. Nothing is gathered, and no word is made, while no assistive
// technology listens.
class CHostAnnouncer : public QObject
{
    Q_OBJECT
public:
    // The notifications are the window's children.
    explicit CHostAnnouncer(QWidget* window);

    // A host's state changed with the result just booked, at `tick`.
    void HostChanged(const HostEntry& entry, std::uint32_t tick);
    // Sends the announcement due at `tick`, if one is.
    void AnnounceDue(std::uint32_t tick);
    // The latest announcement, or null.
    const CHostNotification* Latest() const { return latest_; }

private:
    QWidget* window_;
    AnnouncementPace pace_;
    QPointer<CHostNotification> latest_;
};
