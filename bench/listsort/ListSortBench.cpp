#include "hosts/HostEntry.h"
#include "hosts/Resolver.h"
#include "probe/ResultText.h"
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
    std::printf("%-44s median %8.2f ms  (min %.2f, max %.2f, %zu runs)\n", what, Median(runs),
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

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);

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

    Report("load (insert, 2 texts, item data) + repaint",
        Time([] {},
            [&] {
                Load(list, entries);
                Repaint(list);
            }));

    // Results arrive host by host, whose rows lie all over the list once it
    // is sorted.
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
    Report("10,000 time texts (sorted rows) + repaint", updates);

    for (ItemData key : {1, -1, 2, -2, 3, -3, 0}) {
        const std::string what = "sort key " + std::to_string(key) + " + repaint";
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

    list.selectAll();
    Report("sort key 2 + repaint, every row selected",
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

    list.scrollToBottom();
    Report("repaint scrolled to the bottom", Time([] {}, [&] { Repaint(list); }));

    list.DeleteAllItems();
    for (HostEntry* e : entries)
        FreeHostEntry(e);
    return 0;
}
