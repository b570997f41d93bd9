#pragma once

#include <QPoint>
#include <QRect>

#include <utility>

namespace pexil::shell {

// Where the card grid puts its cells: as many columns of at least 150 and at most 230 pixels
// as fit beside each other, 10 apart, rows 14 apart, 16 of padding around everything; a cell
// is its 3:2 image and the file name below it, 5 of padding inside. Content coordinates: y
// grows down from the top of the scrolled content. A value; made again on each resize.
struct CardGridLayout {
    static constexpr int minColumn = 150;
    static constexpr int maxColumn = 230;
    static constexpr int columnSpacing = 10;
    static constexpr int rowSpacing = 14;
    static constexpr int padding = 16;
    static constexpr int cellPadding = 5;
    static constexpr int nameGap = 4;
    static constexpr int nameHeight = 16;

    int count = 0;
    int columns = 1;
    int columnWidth = minColumn;
    int left = padding;  // x of the first column; wider than the padding when columns are capped
    int imageHeight = 0;

    // The layout of `count` cells in a viewport `width` wide.
    static CardGridLayout make(int width, int count);

    int cellHeight() const {
        return cellPadding + imageHeight + nameGap + nameHeight + cellPadding;
    }
    int rows() const { return (count + columns - 1) / columns; }
    int contentHeight() const;
    QRect cellRect(int index) const;
    // The cells that a band of the content from `top`, `height` high, touches: [first, last).
    std::pair<int, int> visibleRange(int top, int height) const;
    // The cell under a content point, -1 in the gaps and the padding.
    int indexAt(QPoint point) const;

    // Parts of a cell given its rectangle.
    static QRect imageRect(const QRect& cell);
    static QRect nameRect(const QRect& cell);
    // The badges over the image: imported at the top right, locatable at the top left.
    static QRect importedBadge(const QRect& image);
    static QRect locatableBadge(const QRect& image);
};

}  // namespace pexil::shell
