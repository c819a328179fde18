#pragma once

#include "hosts/ResultHistory.h"

#include <QColor>
#include <QRect>
#include <QTextDocument>
#include <QWidget>

#include <cstdint>

// A host's tooltip: its details in words and, below them, a picture of its
// latest results, one bar each, oldest left. A window of its own rather than
// QToolTip's, so that it can draw the picture and change in place while the
// results come in. It stays while the mouse rests on the row it describes, and
// goes when the mouse leaves that row, a button, the wheel or a key is used,
// or the window hides.
class CHostToolTip : public QWidget
{
    Q_OBJECT
public:
    // `area` is the widget whose rows it describes; `noAnswer` the colour of a
    // result without answer.
    CHostToolTip(QWidget* area, QColor noAnswer);

    // Shows rich text and results beside the mouse at `globalPos`, for as long
    // as the mouse stays within `row` (in the area's coordinates). `tick` is
    // now, for how long ago the oldest result came. Shown already, it changes
    // in place.
    void ShowTip(const QPoint& globalPos, const QRect& row, const QString& text,
        const ResultHistory& recent, std::uint32_t tick);
    // Changes what a shown tip says, where it is.
    void UpdateTip(const QString& text, const ResultHistory& recent, std::uint32_t tick);

    // Where the mouse rested when the tip was shown, in the area's coordinates.
    QPoint Anchor() const { return anchor_; }
    QString PlainText() const { return text_.toPlainText(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void Fit();
    void Place(const QPoint& globalPos);
    void PaintHistory(QPainter& painter, const QRect& box) const;

    QWidget* area_;
    QColor noAnswer_;
    QPoint anchor_;
    QRect row_;
    QTextDocument text_;
    ResultHistory recent_;
    std::uint64_t oldestAgeMs_ = 0;
    int margin_ = 0;
    QRect history_; // where the picture goes, in the tip's coordinates
};
