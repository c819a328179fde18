#include "view/HostToolTip.h"

#include "hosts/HostDetails.h"
#include "hosts/RoundTripScale.h"
#include "view/BarChart.h"
#include "view/HostDetailsText.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolTip>

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr int kTextGap = 6; // between the words and the pictures, and between the pictures
constexpr int kLabelGap = 4; // between the bars and their labels
constexpr int kLevelsPerDecade = RoundTripScale::kTopLevel / RoundTripScale::kDecades;
constexpr std::size_t kSpansPerHour = 6;
constexpr std::size_t kSpansPerMark = 6 * kSpansPerHour; // the day is marked every sixth hour
const QColor kAnswerColor(0x2e, 0x7d, 0x32);

QFont LabelFont(const QFont& font)
{
    QFont small = font;
    if (font.pointSizeF() > 0)
        small.setPointSizeF(font.pointSizeF() * 0.85);
    else
        small.setPixelSize(std::max(8, font.pixelSize() * 85 / 100));
    return small;
}

// "1000 ms", "0.01 ms": the scale's ends need no trailing zeros.
QString ScaleText(std::uint32_t us)
{
    return QString::fromStdString(RoughMilliseconds(us)) + QStringLiteral(" ms");
}

// A picture: half a label above the scale's top, for the label at its end,
// the bars, and a line of labels under them.
int PictureHeight(const QFontMetrics& small)
{
    return small.height() / 2 + BarChart::kHeight + kLabelGap / 2 + small.height();
}

// A line one device pixel thick from `from`, across or down. Filled rather
// than drawn: Qt's raster engine hands a translucent pen's line to its thread
// pool and waits for it, which cost more than the rest of the tooltip.
void FillHairline(
    QPainter& painter, QPointF from, double length, Qt::Orientation way, const QColor& colour)
{
    const double px = 1.0 / painter.device()->devicePixelRatioF();
    const QSizeF size = way == Qt::Horizontal ? QSizeF(length, px) : QSizeF(px, length);
    painter.fillRect(QRectF(from, size), colour);
}

} // namespace

CHostToolTip::CHostToolTip(QWidget* area, QColor noAnswer)
    : QWidget(area, Qt::ToolTip | Qt::BypassGraphicsProxyWidget)
    , area_(area)
    , noAnswer_(noAnswer)
{
    setObjectName(QStringLiteral("hostToolTip"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setPalette(QToolTip::palette());
    setFont(QToolTip::font());
    setForegroundRole(QPalette::ToolTipText);
    setBackgroundRole(QPalette::ToolTipBase);
    text_.setDocumentMargin(0);
}

void CHostToolTip::ShowTip(const QPoint& globalPos, const QRect& row, const QString& text,
    const HostDetails& details, std::uint32_t tick, Follow follow)
{
    const QPoint anchor = area_->mapFromGlobal(globalPos);
    const bool moved = !isVisible() || !row_.contains(anchor) || row != row_ || follow != follow_;
    follow_ = follow;
    anchor_ = anchor;
    row_ = row;
    UpdateTip(text, details, tick);
    if (moved)
        Place(globalPos);
    show();
}

void CHostToolTip::UpdateTip(const QString& text, const HostDetails& details, std::uint32_t tick)
{
    text_.setHtml(text);
    recent_ = details.recent;
    day_ = details.day;
    tick_ = tick;
    Fit();
    update();
}

void CHostToolTip::Fit()
{
    margin_ = style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this) + 3;
    const QFontMetrics small(LabelFont(font()));
    scaleWidth_ = std::max(small.horizontalAdvance(ScaleText(RoundTripScale::kTopUs)),
                      small.horizontalAdvance(ScaleText(RoundTripScale::kBottomUs)))
        + kLabelGap;
    // The day has the more bars: both pictures are as wide as it.
    const QSize picture(scaleWidth_ + static_cast<int>(DayHistory::kSpans) * BarChart::kBarPitch,
        PictureHeight(small));

    // Lines kept whole set the width, unless the pictures are wider; a long
    // description wraps within it.
    // (Every width set lays the text out anew.)
    text_.setDefaultFont(font());
    text_.setTextWidth(picture.width());
    const int width = std::max(picture.width(), static_cast<int>(std::ceil(text_.idealWidth())));
    if (width != picture.width())
        text_.setTextWidth(width);
    const int textHeight = static_cast<int>(std::ceil(text_.size().height()));

    recentBox_ = QRect(
        QPoint(margin_ + width - picture.width(), margin_ + textHeight + kTextGap), picture);
    dayBox_ = recentBox_.translated(0, picture.height() + kTextGap);
    resize(width + 2 * margin_, dayBox_.bottom() + 1 + margin_);
}

void CHostToolTip::Place(const QPoint& globalPos)
{
    // Below and right of the mouse as Qt's tooltips sit, turned to the other
    // side of it where the screen ends.
    QScreen* screen = QGuiApplication::screenAt(globalPos);
    const QRect bounds = (screen != nullptr ? screen : area_->screen())->availableGeometry();
    QPoint p = globalPos + QPoint(2, 16);
    if (p.x() + width() > bounds.right())
        p.rx() -= 4 + width();
    if (p.y() + height() > bounds.bottom())
        p.ry() -= 24 + height();
    p.setX(std::clamp(p.x(), bounds.left(), std::max(bounds.left(), bounds.right() - width())));
    p.setY(std::clamp(p.y(), bounds.top(), std::max(bounds.top(), bounds.bottom() - height())));
    move(p);
}

void CHostToolTip::showEvent(QShowEvent* event)
{
    // The application's events, as Qt's own tooltip watches them: the area
    // hears of mouse moves without a button only when it tracks the mouse.
    qApp->installEventFilter(this);
    QWidget::showEvent(event);
}

void CHostToolTip::hideEvent(QHideEvent* event)
{
    qApp->removeEventFilter(this);
    QWidget::hideEvent(event);
}

bool CHostToolTip::eventFilter(QObject* watched, QEvent* event)
{
    // Key presses go to the widget with the keyboard focus, clicks to the
    // widget under the mouse: anything in the area's window counts.
    QWidget* window = area_->window();
    if (watched != window
        && !(watched->isWidgetType() && static_cast<QWidget*>(watched)->window() == window))
        return false;
    const bool mouse = follow_ == Follow::Mouse;
    switch (event->type()) {
    case QEvent::MouseMove:
        if (mouse && watched == area_
            && !row_.contains(static_cast<QMouseEvent*>(event)->position().toPoint()))
            hide();
        break;
    case QEvent::Leave:
        if (mouse && watched == area_)
            hide();
        break;
    case QEvent::KeyPress:
        if (mouse)
            hide();
        break;
    case QEvent::WindowDeactivate:
        if (!mouse && watched == window)
            hide();
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
        hide();
        break;
    case QEvent::Hide:
        if (watched == area_ || watched == window)
            hide();
        break;
    default:
        break;
    }
    return false;
}

void CHostToolTip::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionFrame panel;
    panel.initFrom(this);
    style()->drawPrimitive(QStyle::PE_PanelTipLabel, &panel, &painter, this);

    painter.save();
    painter.translate(margin_, margin_);
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = palette();
    context.palette.setColor(QPalette::Text, palette().color(QPalette::ToolTipText));
    text_.documentLayout()->draw(&painter, context);
    painter.restore();

    PaintRecent(painter);
    PaintDay(painter);
}

BarChart CHostToolTip::ChartIn(const QRect& box, std::size_t count) const
{
    const QFontMetrics small(LabelFont(font()));
    return BarChart {static_cast<double>(box.left() + scaleWidth_),
        static_cast<double>(box.top() + small.height() / 2), count};
}

void CHostToolTip::PaintScale(QPainter& painter, const BarChart& chart, const QRect& box) const
{
    const QColor ink = palette().color(QPalette::ToolTipText);
    // A line at each decade of the scale, the ends darker.
    for (int level = 0; level <= RoundTripScale::kTopLevel; level += kLevelsPerDecade) {
        QColor line = ink;
        line.setAlpha(level == 0 || level == RoundTripScale::kTopLevel ? 110 : 35);
        FillHairline(painter, QPointF(chart.left, std::round(chart.LevelY(level))), chart.Width(),
            Qt::Horizontal, line);
    }
    // The scale's ends beside their lines.
    const QFontMetrics small(LabelFont(font()));
    painter.setFont(LabelFont(font()));
    painter.setPen(ink);
    for (const double y : {chart.top, chart.Bottom()}) {
        const QRectF label(box.left(), y - small.height() / 2.0,
            chart.left - kLabelGap - box.left(), small.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
            ScaleText(y == chart.top ? RoundTripScale::kTopUs : RoundTripScale::kBottomUs));
    }
}

// Each bar as high as its slowest answer, in green, with its share without
// answer over it in red from the bottom; a bar with neither is not drawn.
void CHostToolTip::PaintBars(
    QPainter& painter, const BarChart& chart, std::span<const Bar> bars) const
{
    painter.setPen(Qt::NoPen);
    for (std::size_t i = 0; i < bars.size(); ++i) {
        const double x = chart.BarLeft(i);
        if (bars[i].level) {
            const double top = chart.AnswerTop(*bars[i].level);
            painter.fillRect(
                QRectF(x, top, BarChart::kBarWidth, chart.Bottom() - top), kAnswerColor);
        }
        if (bars[i].missShare > 0) {
            const double top = chart.MissTop(bars[i].missShare);
            painter.fillRect(QRectF(x, top, BarChart::kBarWidth, chart.Bottom() - top), noAnswer_);
        }
    }
}

void CHostToolTip::PaintRecent(QPainter& painter) const
{
    // One bar per result, the newest at the right end; a place not yet taken
    // stays empty. A result without answer is all red.
    const BarChart chart = ChartIn(recentBox_, ResultHistory::kCapacity);
    PaintScale(painter, chart, recentBox_);
    const std::size_t count = recent_.Size();
    const std::size_t empty = ResultHistory::kCapacity - count;
    std::array<Bar, ResultHistory::kCapacity> bars {};
    for (std::size_t i = 0; i < count; ++i) {
        const std::optional<std::uint8_t> level = recent_.Level(i);
        bars[empty + i] = level ? Bar {level, 0.0} : Bar {std::nullopt, 1.0};
    }
    PaintBars(painter, chart, bars);

    const QFontMetrics small(LabelFont(font()));
    painter.setFont(LabelFont(font()));
    painter.setPen(palette().color(QPalette::ToolTipText));
    const QRectF ends(chart.left, chart.Bottom() + kLabelGap / 2, chart.Width(), small.height());
    painter.drawText(ends, Qt::AlignRight | Qt::AlignTop, QStringLiteral("now"));
    if (count == 0)
        return;
    // How long ago the oldest result came, under it; it leaves room for "now".
    const QString ago = QString::fromStdString(AgoText(recent_.OldestAgeMs(tick_)));
    const double room = ends.right() - small.horizontalAdvance(QStringLiteral("now")) - kLabelGap
        - small.horizontalAdvance(ago);
    const double x = std::max(std::min(chart.BarLeft(empty), room), chart.left);
    painter.drawText(
        QRectF(x, ends.top(), ends.right() - x, ends.height()), Qt::AlignLeft | Qt::AlignTop, ago);
}

void CHostToolTip::PaintDay(QPainter& painter) const
{
    const BarChart chart = ChartIn(dayBox_, DayHistory::kSpans);
    PaintScale(painter, chart, dayBox_);
    std::array<Bar, DayHistory::kSpans> bars {};
    for (std::size_t i = 0; i < DayHistory::kSpans; ++i) {
        const DaySpan span = day_.Span(i, tick_);
        if (span.Empty())
            continue;
        bars[i].level = span.answers > 0 ? std::optional(span.worstLevel) : std::nullopt;
        bars[i].missShare = static_cast<double>(span.misses) / (span.answers + span.misses);
    }
    PaintBars(painter, chart, bars);

    // The ends, and a mark every sixth hour between them.
    const QFontMetrics small(LabelFont(font()));
    const QColor ink = palette().color(QPalette::ToolTipText);
    const QRectF labels(chart.left, chart.Bottom() + kLabelGap / 2, chart.Width(), small.height());
    painter.setFont(LabelFont(font()));
    for (std::size_t span = kSpansPerMark; span < DayHistory::kSpans; span += kSpansPerMark) {
        QColor line = ink;
        line.setAlpha(35);
        const double x = std::floor(chart.Between(span));
        FillHairline(painter, QPointF(x, chart.top), BarChart::kHeight, Qt::Vertical, line);
        painter.setPen(ink);
        const QString hours
            = QStringLiteral("%1 h").arg((DayHistory::kSpans - span) / kSpansPerHour);
        painter.drawText(QRectF(x - 30, labels.top(), 60, labels.height()),
            Qt::AlignHCenter | Qt::AlignTop, hours);
    }
    painter.setPen(ink);
    painter.drawText(labels, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("24 h ago"));
    painter.drawText(labels, Qt::AlignRight | Qt::AlignTop, QStringLiteral("now"));
}
