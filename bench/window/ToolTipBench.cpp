// The cost of a host's tooltip as it is shown: its words, its pictures of 120
// results and of the last 24 hours laid out and painted, at scale 1 and 2, for
// a host with a day of answers and gaps, so that its ring is full and every
// bar of its day has a part in green and one in red. Prints key=value figures in microseconds (medians of
// 201 rounds). Runs on Qt's offscreen platform unless told otherwise.
#include "hosts/HostEntry.h"
#include "icmp/IcmpProbe.h"
#include "view/HostListCtrl.h"
#include "view/HostToolTip.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template<typename Work>
double MedianUs(Work work)
{
    std::vector<double> rounds;
    for (int r = 0; r < 201; ++r) {
        const auto start = std::chrono::steady_clock::now();
        work();
        rounds.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return Median(rounds);
}

} // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    CHostListCtrl list;
    list.InsertHostColumns(350);
    HostEntry* entry = NewHostEntry();
    entry->name = "198.18.0.13";
    entry->description = "Radio link, roof";
    std::uint32_t tick = 1000;
    // A day at one result every 5 s.
    for (int i = 0; i < 17'280; ++i) {
        tick += 5000;
        ProbeOutcome outcome;
        if (i % 7 < 5) {
            outcome.status = IP_SUCCESS;
            outcome.reply.roundTripTime = 12;
            outcome.reply.roundTripUs = 12345 + static_cast<std::uint32_t>(i) * 37;
        } else {
            outcome.status = IP_REQ_TIMED_OUT;
        }
        BookResult(*entry, outcome, tick, 1714556467 + i * 5);
    }
    list.AppendRow(entry);
    list.tick = [tick] { return tick; };
    list.resize(350, 250);

    CHostToolTip tip(list.viewport(), QColor(255, 0, 0));
    tip.ShowTip(QPoint(10, 10), QRect(0, 0, 350, 18), list.RowToolTip(0), entry->details, tick);
    // Painted into an image made once, as a shown tooltip paints into the
    // window system's buffer.
    auto shown = [&](qreal scale) {
        auto image
            = std::make_shared<QImage>(tip.size() * scale, QImage::Format_ARGB32_Premultiplied);
        image->setDevicePixelRatio(scale);
        return [&, image] {
            tip.UpdateTip(list.RowToolTip(0), entry->details, tick);
            tip.render(image.get());
        };
    };
    const double words = MedianUs([&] { (void)list.RowToolTip(0); });
    const double at1 = MedianUs(shown(1));
    const double at2 = MedianUs(shown(2));
    std::printf(
        "tooltip_words_us=%.0f tooltip_shown_us=%.0f tooltip_shown_2x_us=%.0f\n", words, at1, at2);
    tip.hide();
    list.RemoveAllRows();
    FreeHostEntry(entry);
    return 0;
}
