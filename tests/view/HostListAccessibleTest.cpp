// The host list as assistive technology reads it in the real main window:
// through Qt's own accessibility interfaces, as its bridge to the bus does.

#include "app/MainFrame.h"
#include "hosts/ResultValue.h"
#include "tests/support/FakeEcho.h"
#include "tests/support/FrameDriver.h"
#include "tests/support/ModalDriver.h"
#include "tests/support/RowName.h"
#include "tests/support/TempDir.h"
#include "view/HostListCtrl.h"

#include <QAccessible>
#include <QAccessibleInterface>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// What is read: the list itself, a column's heading or a row's cell.
struct ReadRow
{
    const char* name;
    enum Target { List, Heading, Cell } target;
    int row;
    int column;
    QAccessible::Text text;
    const char* expected;
};

const ReadRow kReadRows[] = {
    {"the list is named after its group", ReadRow::List, 0, 0, QAccessible::Name,
        "Hosts of group Lab"},
    {"the list says how to reach a row's details", ReadRow::List, 0, 0, QAccessible::Description,
        "Arrow keys, Home, End, Page Up and Page Down choose a host; Return or Ctrl+F1 shows "
        "its details, Escape hides them."},
    {"an answering host's details, on every cell of its row", ReadRow::Cell, 0, 3,
        QAccessible::Description,
        "Answered in 12.00 ms\n"
        "Answering since 09:41:07 (3 s)\n"
        "Probes sent: 1, answered: 1, loss: 0%\n"
        "Round trip min/avg/max/mdev 12.00/12.00/12.00/0.000 ms\n"
        "Last answer: 09:41:07\n"
        "Outages: none\n"
        "Last 3 s: 1 of 1 answered, worst 12 ms\n"
        "Last 24 h: no outages, 100 % answered, worst 12 ms"},
    {"a silent host's details", ReadRow::Cell, 1, 1, QAccessible::Description,
        "Request timed out\n"
        "N/A since 09:41:07 (3 s)\n"
        "Probes sent: 1, answered: 0, loss: 100%\n"
        "No answer since the group was loaded\n"
        "Last 3 s: none of 1 answered\n"
        "Last 24 h: no answer"},
    {"the probe mark's column", ReadRow::Heading, 0, 0, QAccessible::Name, "probing"},
    {"a cell with the probe mark", ReadRow::Cell, 1, 0, QAccessible::Name, "probing"},
    {"a cell without the mark reads as empty", ReadRow::Cell, 0, 0, QAccessible::Name, ""},
};

class HostListAccessible : public testing::TestWithParam<ReadRow>
{ };

TEST_P(HostListAccessible, Reads)
{
    setenv("TZ", "UTC0", 1);
    tzset();
    TempDir dir;
    dir.write("kelvoran.ini", "[Lab]\n127.0.0.1 answering\n127.0.0.2 silent\n");
    FakeEcho echo;
    echo.Answer("127.0.0.1", 12);
    TestClock clock(1000);
    CMainFrame::Services services;
    services.tick = clock.Source();
    services.echo = echo.Layer();
    services.logClock = [] { return std::time_t {1714556467}; }; // 2024-05-01 09:41:07 UTC
    FrameDriver f(services);
    f.ChooseGroup("Lab");
    CHostListCtrl* list = f->hostList;
    clock.Advance(5001); // the hosts fall due
    ASSERT_TRUE(WaitUntil([&] { return f.Text(0, 2) == "12 ms" && f.Text(1, 2) == "N/A"; }));
    clock.Advance(3000);
    // The mark, as the scheduler writes it when a probe starts.
    list->SetItemText(1, 0, InFlightMark());

    const ReadRow& row = GetParam();
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(list);
    ASSERT_NE(iface, nullptr);
    ASSERT_NE(iface->tableInterface(), nullptr);
    if (row.target == ReadRow::Heading)
        iface = iface->child(row.column);
    else if (row.target == ReadRow::Cell)
        iface = iface->tableInterface()->cellAt(row.row, row.column);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->text(row.text).toStdString(), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, HostListAccessible, testing::ValuesIn(kReadRows), RowName());

} // namespace
