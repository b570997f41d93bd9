#pragma once

#include "app/shell/card/CardCell.h"
#include "app/shell/card/CardGridLayout.h"

#include <QAbstractScrollArea>
#include <QCache>
#include <QHash>
#include <QSet>
#include <QTimer>

#include <optional>

namespace pexil {
class CardModel;
}

namespace pexil::shell {

// The card's pictures as a scrolling grid (CardGridLayout), newest first. Only the cells in
// view exist for the model: their thumbnails are requested as they come into view and
// withdrawn as they leave it (on scrolling, resizing, a new list, hiding), so a fast scroll
// through thousands of pictures asks the camera only for what is seen. Painting copies
// frames made once per thumbnail and width; nothing is decoded or read here.
//
// A click selects through CardModel::click with the Ctrl and Shift keys held; a double click
// opens the picture large. Tool tips: a badge's help over a badge, else the capture date.
//
// The keyboard has a cell of its own, the current one, ringed while the grid has focus: the
// arrows, Home, End and the page keys move it and select it alone, with Shift they extend the
// selection from the anchor, with Ctrl they move only the ring (Ctrl+Space then toggles the
// cell); Ctrl+A selects all, Enter opens the current cell large, Esc empties the selection.
class CardGridView final : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit CardGridView(CardModel& card, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardGridView)

    CardModel& card() const { return card_; }
    const CardGridLayout& gridLayout() const { return layout_; }
    // The cells in view: [first, last) in the card's list.
    std::pair<int, int> visibleRange() const;
    // A cell's rectangle in viewport coordinates.
    QRect visualRect(int index) const;
    // The cell under a viewport point, -1 when none.
    int indexAt(QPoint point) const;
    // The tool tip at a viewport point (empty: none).
    QString toolTipAt(QPoint point) const;
    // Ids of the cells in view whose thumbnails this view asked for and has not withdrawn.
    const QSet<QString>& requested() const { return requested_; }
    void scrollToIndex(int index);
    // The keyboard's cell, -1 when the card has no pictures.
    int currentIndex() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void itemsChanged();
    void itemUpdated(const QString& id);
    void relayout();
    void syncRequests();
    void withdrawAll();
    void tickSpinners();
    QPixmap frameOf(int index);
    // Where a key moves the current cell; none for a key that does not move it.
    std::optional<int> target(int key, int from) const;
    void setCurrent(int index);
    // Tells a screen reader that the current cell has the keyboard.
    void announceCurrent();
    // The current cell's ring, in the gap around the cell.
    QRect ringRect(int index) const;
    int top() const;

    CardModel& card_;
    CardGridLayout layout_;
    QHash<QString, int> rows_;  // id → position in the card's list
    QSet<QString> requested_;
    QString current_;  // by id, so that a rebuilt list keeps the ring on the same picture
    QCache<qint64, QPixmap> frames_;  // by the thumbnail's cache key, at the current width
    CardCell::Badges badges_;
    qreal badgesRatio_ = 0;
    QTimer spinner_;
    int spinnerStep_ = 0;
};

}  // namespace pexil::shell
