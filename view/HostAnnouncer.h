#pragma once

#include "view/AnnouncementPace.h"

#include <QWidget>

#include <cstdint>

struct HostEntry;

// Tells assistive technology, a screen reader above all, when hosts fall
// silent or answer again, at the pace AnnouncementPace sets. Qt's bridge to
// the accessibility bus has no announcement of its own; what reaches a screen
// reader whatever window has the focus is a notification being shown. So
// this is a widget that is never drawn and that assistive technology sees as
// a notification: each announcement becomes its name, and it is shown anew
// on the bus. Nothing is gathered, and no word is made, while no assistive
// technology listens.
class CHostAnnouncer : public QWidget
{
    Q_OBJECT
public:
    explicit CHostAnnouncer(QWidget* parent);

    // A host's state changed with the result just booked, at `tick`.
    void HostChanged(const HostEntry& entry, std::uint32_t tick);
    // Sends the announcement due at `tick`, if one is.
    void AnnounceDue(std::uint32_t tick);

private:
    AnnouncementPace pace_;
};
