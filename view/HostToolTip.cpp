#include "view/HostToolTip.h"

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
#include <cmath>

namespace {

// The picture: one bar per result, two pixels wide and one apart, on a scale
// of 48 pixels.
constexpr int kBarWidth = 2;
constexpr int kBarPitch = 3;
constexpr int kBarsWidth = static_cast<int>(ResultHistory::kCapacity) * kBarPitch;
constexpr int kBarsHeight = 48;
constexpr int kTextGap = 6; // between the words and the picture
constexpr int kLabelGap = 4; // between the bars and their labels
constexpr int kLevelsPerDecade = ResultHistory::kTopLevel / 5;
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
    QString text = QString::fromStdString(MillisecondsText(us));
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text + QStringLiteral(" ms");
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
    const ResultHistory& recent, std::uint32_t tick, Follow follow)
{
    const QPoint anchor = area_->mapFromGlobal(globalPos);
    const bool moved = !isVisible() || !row_.contains(anchor) || row != row_ || follow != follow_;
    follow_ = follow;
    anchor_ = anchor;
    row_ = row;
    UpdateTip(text, recent, tick);
    if (moved)
        Place(globalPos);
    show();
}

void CHostToolTip::UpdateTip(const QString& text, const ResultHistory& recent, std::uint32_t tick)
{
    text_.setHtml(text);
    recent_ = recent;
    oldestAgeMs_ = recent.OldestAgeMs(tick);
    Fit();
    update();
}

void CHostToolTip::Fit()
{
    margin_ = style()->pixelMetric(QStyle::PM_ToolTipLabelFrameWidth, nullptr, this) + 3;
    const QFontMetrics small(LabelFont(font()));
    const int scaleWidth = std::max(small.horizontalAdvance(ScaleText(ResultHistory::kTopUs)),
                               small.horizontalAdvance(ScaleText(ResultHistory::kBottomUs)))
        + kLabelGap;
    const QSize picture(
        scaleWidth + kBarsWidth, small.height() / 2 + kBarsHeight + kLabelGap / 2 + small.height());

    // Lines kept whole set the width, unless the picture is wider; a long
    // description wraps within it.
    // (Every width set lays the text out anew.)
    text_.setDefaultFont(font());
    text_.setTextWidth(picture.width());
    const int width = std::max(picture.width(), static_cast<int>(std::ceil(text_.idealWidth())));
    if (width != picture.width())
        text_.setTextWidth(width);
    const int textHeight = static_cast<int>(std::ceil(text_.size().height()));

    history_ = QRect(
        QPoint(margin_ + width - picture.width(), margin_ + textHeight + kTextGap), picture);
    resize(width + 2 * margin_, textHeight + kTextGap + picture.height() + 2 * margin_);
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

    PaintHistory(painter, history_);
}

void CHostToolTip::PaintHistory(QPainter& painter, const QRect& box) const
{
    const QFont labelFont = LabelFont(font());
    const QFontMetrics small(labelFont);
    const QRectF bars(
        box.right() + 1 - kBarsWidth, box.top() + small.height() / 2, kBarsWidth, kBarsHeight);
    const QColor ink = palette().color(QPalette::ToolTipText);
    auto levelY = [&](double level) {
        return bars.bottom() - level / ResultHistory::kTopLevel * bars.height();
    };

    // A line at each decade of the scale, the ends darker.
    for (int level = 0; level <= ResultHistory::kTopLevel; level += kLevelsPerDecade) {
        QColor line = ink;
        line.setAlpha(level == 0 || level == ResultHistory::kTopLevel ? 110 : 35);
        painter.setPen(QPen(line, 0));
        const double y = std::round(levelY(level)) + 0.5;
        painter.drawLine(QPointF(bars.left(), y), QPointF(bars.right(), y));
    }

    // One bar per result, the newest at the right end; a place not yet taken
    // stays empty. A result without answer fills the height in red; an
    // answer, however quick, shows at least two pixels.
    painter.setPen(Qt::NoPen);
    const std::size_t count = recent_.Size();
    const std::size_t empty = ResultHistory::kCapacity - count;
    for (std::size_t i = 0; i < count; ++i) {
        const double x = bars.left() + static_cast<double>((empty + i) * kBarPitch);
        const std::optional<std::uint8_t> level = recent_.Level(i);
        if (!level) {
            painter.fillRect(QRectF(x, bars.top(), kBarWidth, bars.height()), noAnswer_);
            continue;
        }
        const double top = std::min(levelY(*level), bars.bottom() - 2);
        painter.fillRect(QRectF(x, top, kBarWidth, bars.bottom() - top), kAnswerColor);
    }

    painter.setFont(labelFont);
    painter.setPen(ink);
    // The scale's ends beside their lines.
    const double labelRight = bars.left() - kLabelGap;
    for (const double y : {bars.top(), bars.bottom()}) {
        const QRectF label(
            box.left(), y - small.height() / 2.0, labelRight - box.left(), small.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter,
            ScaleText(y == bars.top() ? ResultHistory::kTopUs : ResultHistory::kBottomUs));
    }
    const QRectF ends(bars.left(), bars.bottom() + kLabelGap / 2, bars.width(), small.height());
    painter.drawText(ends, Qt::AlignRight | Qt::AlignTop, QStringLiteral("now"));
    if (count == 0)
        return;
    // How long ago the oldest result came, under it; it leaves room for "now".
    const QString ago = QString::fromStdString(AgoText(oldestAgeMs_));
    const double room = ends.right() - small.horizontalAdvance(QStringLiteral("now")) - kLabelGap
        - small.horizontalAdvance(ago);
    const double left = std::min(bars.left() + static_cast<double>(empty * kBarPitch), room);
    const double x = std::max(left, bars.left());
    painter.drawText(
        QRectF(x, ends.top(), ends.right() - x, ends.height()), Qt::AlignLeft | Qt::AlignTop, ago);
}
