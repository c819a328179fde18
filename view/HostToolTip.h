#pragma once

#include "hosts/DayHistory.h"
#include "hosts/ResultHistory.h"

#include <QColor>
#include <QRect>
#include <QTextDocument>
#include <QWidget>

#include <cstdint>
#include <span>

struct Bar;
struct BarChart;
struct HostDetails;

// A host's tooltip: its details in words and, below them, two pictures on
// one round-trip scale: its latest results, one bar each, and its last 24
// hours, one bar for each ten minutes; the oldest left in both. A window of
// its own rather than QToolTip's, so that it can draw the pictures and change
// in place while the results come in. Shown for the mouse, it stays while the
// mouse rests on the row it describes, and goes when the mouse leaves that
// row, a button, the wheel or a key is used, or the window hides. Shown for
// the keyboard, it stays while keys are used, for the list to move it along,
// and goes on a click, the wheel, or when the window hides or loses the
// focus.
class CHostToolTip : public QWidget
{
    Q_OBJECT
public:
    // `area` is the widget whose rows it describes; `noAnswer` the colour of a
    // result without answer.
    CHostToolTip(QWidget* area, QColor noAnswer);

    // Whom a shown tip stays with: the mouse, or the keyboard.
    enum class Follow { Mouse, Keyboard };

    // Shows rich text and the pictures of a host's details beside
    // `globalPos`, where the mouse rests within `row` (in the area's
    // coordinates), or where the keyboard's row is. `tick` is now, for how
    // long ago the oldest result came and where the day ends. Shown already
    // at the same row, it changes in place.
    void ShowTip(const QPoint& globalPos, const QRect& row, const QString& text,
        const HostDetails& details, std::uint32_t tick, Follow follow = Follow::Mouse);
    // Changes what a shown tip says, where it is.
    void UpdateTip(const QString& text, const HostDetails& details, std::uint32_t tick);

    // Where the mouse rested when the tip was shown, in the area's coordinates.
    QPoint Anchor() const { return anchor_; }
    QString PlainText() const { return text_.toPlainText(); }
    // Where the pictures are, with their labels, in the tip's coordinates.
    QRect RecentPicture() const { return recentBox_; }
    QRect DayPicture() const { return dayBox_; }
    Follow Follows() const { return follow_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Fit();
    void Place(const QPoint& globalPos);
    BarChart ChartIn(const QRect& box, std::size_t count) const;
    void PaintScale(QPainter& painter, const BarChart& chart, const QRect& box) const;
    void PaintBars(QPainter& painter, const BarChart& chart, std::span<const Bar> bars) const;
    void PaintRecent(QPainter& painter) const;
    void PaintDay(QPainter& painter) const;

    QWidget* area_;
    QColor noAnswer_;
    Follow follow_ = Follow::Mouse;
    QPoint anchor_;
    QRect row_;
    QTextDocument text_;
    ResultHistory recent_;
    DayHistory day_;
    std::uint32_t tick_ = 0; // now, as the tip was last given the details
    int margin_ = 0;
    int scaleWidth_ = 0; // the scale's labels left of the bars
    QRect recentBox_; // where the pictures go, in the tip's coordinates
    QRect dayBox_;
};
