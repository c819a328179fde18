#include "hosts/HostEntry.h"
#include "hosts/ResultValue.h"
#include "icmp/Resolver.h"
#include "view/CompareHostEntries.h"
#include "view/HostListCtrl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QPixmap>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

// Times the host list's work on a large group, as the window does it: a group
// load, a round of result texts, sorts under each key with a repaint after
// each. Prints the median of several runs per operation, in milliseconds.
namespace {

constexpr int kRows = 10000;
constexpr int kRuns = 7;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Ms(const QElapsedTimer& t)
{
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void Report(const char* what, const std::vector<double>& runs)
{
    std::printf("%-50s median %8.3f ms  (min %.3f, max %.3f, %zu runs)\n", what, Median(runs),
        *std::min_element(runs.begin(), runs.end()), *std::max_element(runs.begin(), runs.end()),
        runs.size());
}

// Lets the list lay out and paint what is visible, as the event loop would.
void Repaint(CHostListCtrl& list)
{
    QApplication::processEvents();
    const QPixmap shot = list.grab();
    if (shot.isNull())
        std::abort();
}

std::vector<HostEntry*> MakeEntries(std::mt19937& rng)
{
    std::uniform_int_distribution<std::uint32_t> any;
    std::uniform_int_distribution<int> time(-2, 300);
    std::uniform_int_distribution<int> letter('a', 'z');
    std::vector<HostEntry*> entries;
    for (int i = 0; i < kRows; ++i) {
        HostEntry* e = NewHostEntry();
        e->order = i;
        e->row = i;
        e->address = any(rng);
        e->name = DottedAddress(e->address);
        e->result = time(rng);
        for (int c = 0; c < 12; ++c)
            e->description.push_back(static_cast<char>(letter(rng)));
        entries.push_back(e);
    }
    return entries;
}

void Load(CHostListCtrl& list, const std::vector<HostEntry*>& entries)
{
    list.DeleteAllItems();
    for (HostEntry* e : entries) {
        const int n = list.GetItemCount();
        list.InsertItem(n, "");
        list.SetItemText(n, 1, e->name);
        list.SetItemText(n, 3, e->description);
        list.SetItemData(n, reinterpret_cast<ItemData>(e));
    }
}

void Renumber(CHostListCtrl& list)
{
    for (int i = 0; i < list.GetItemCount(); ++i)
        reinterpret_cast<HostEntry*>(list.GetItemData(i))->row = i;
}

std::vector<double> Time(const std::function<void()>& prepare, const std::function<void()>& work)
{
    std::vector<double> runs;
    for (int r = 0; r < kRuns; ++r) {
        prepare();
        QElapsedTimer t;
        t.start();
        work();
        runs.push_back(Ms(t));
    }
    return runs;
}

} // namespace

// With an argument, runs only the measurements whose name contains it (for a
// profiler); the group load always runs first.
int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    const std::string only = argc > 1 ? argv[1] : "";
    const auto wanted = [&](const std::string& what) {
        return only.empty() || what.find(only) != std::string::npos;
    };

    CHostListCtrl list;
    list.setSelectionBehavior(QAbstractItemView::SelectRows);
    list.setSelectionMode(QAbstractItemView::ExtendedSelection);
    list.InsertColumn(0, "", CStripedListCtrl::Align::Center, 20);
    list.InsertColumn(1, "IP", CStripedListCtrl::Align::Center, 100);
    list.InsertColumn(2, "Time", CStripedListCtrl::Align::Center, 70);
    list.InsertColumn(3, "Desc", CStripedListCtrl::Align::Left, 140);
    list.resize(350, 230);
    list.show();
    Repaint(list);

    std::mt19937 rng(20240611);
    const std::vector<HostEntry*> entries = MakeEntries(rng);
    std::printf("%d rows, platform %s\n", kRows, qPrintable(QApplication::platformName()));

    Report("group load (insert, 2 texts, item data) + repaint",
        Time([] {},
            [&] {
                Load(list, entries);
                Repaint(list);
            }));

    // Results arrive host by host, whose rows lie all over the list once it
    // is sorted.
    if (const char* what = "10,000 time texts (sorted rows) + repaint"; wanted(what)) {
        std::vector<double> updates;
        for (int r = 0; r < kRuns; ++r) {
            list.SortItems(CompareHostEntries, 3);
            Renumber(list);
            Repaint(list);
            QElapsedTimer t;
            t.start();
            for (HostEntry* e : entries)
                list.SetItemText(e->row, 2, ResultText(e->result + r));
            Repaint(list);
            updates.push_back(Ms(t));
        }
        Report(what, updates);
    }

    for (ItemData key : {1, -1, 2, -2, 3, -3, 0}) {
        const std::string what = "sort key " + std::to_string(key) + " + repaint";
        if (!wanted(what))
            continue;
        Report(what.c_str(),
            Time(
                [&] {
                    list.SortItems(CompareHostEntries, key == 0 ? 3 : 0);
                    Repaint(list);
                },
                [&] {
                    list.SortItems(CompareHostEntries, key);
                    Repaint(list);
                }));
    }

    // The window's steady state: results arrive one by one, each shown in its
    // row and painted on the next turn of the event loop; sorted by time,
    // each changed time also re-sorts the list and renumbers the rows.
    std::uniform_int_distribution<std::size_t> pick(0, entries.size() - 1);
    std::uniform_int_distribution<int> time(-1, 300);
    for (ItemData key : {3, 2}) {
        const std::string what = key == 2 ? "one changed time, sorted by time (re-sort)"
                                          : "one changed time, sorted by description";
        if (!wanted(what))
            continue;
        std::vector<double> perResult;
        for (int r = 0; r < kRuns; ++r) {
            list.SortItems(CompareHostEntries, key);
            Renumber(list);
            Repaint(list);
            constexpr int kResults = 200;
            QElapsedTimer t;
            t.start();
            for (int i = 0; i < kResults; ++i) {
                HostEntry* e = entries[pick(rng)];
                e->result = time(rng);
                list.SetItemText(e->row, 2, ResultText(e->result));
                if (key == 2) {
                    list.SortItems(CompareHostEntries, key);
                    Renumber(list);
                }
                QApplication::processEvents();
            }
            perResult.push_back(Ms(t) / kResults);
        }
        Report(what.c_str(), perResult);
    }

    if (const char* what = "sort key 2 + repaint, every row selected"; wanted(what)) {
        list.selectAll();
        Report(what,
            Time(
                [&] {
                    list.SortItems(CompareHostEntries, 0);
                    Repaint(list);
                },
                [&] {
                    list.SortItems(CompareHostEntries, 2);
                    Repaint(list);
                }));
        list.clearSelection();
    }

    if (const char* what = "repaint scrolled to the bottom"; wanted(what)) {
        list.scrollToBottom();
        Report(what, Time([] {}, [&] { Repaint(list); }));
    }

    list.DeleteAllItems();
    for (HostEntry* e : entries)
        FreeHostEntry(e);
    return 0;
}
