#include "app/shell/card/CardGridLayout.h"

#include <algorithm>
#include <cmath>

namespace pexil::shell {

CardGridLayout CardGridLayout::make(int width, int count) {
    CardGridLayout l;
    l.count = std::max(0, count);
    const int available = std::max(minColumn, width - 2 * padding);
    l.columns = std::max(1, (available + columnSpacing) / (minColumn + columnSpacing));
    l.columnWidth = std::min(maxColumn, (available - (l.columns - 1) * columnSpacing) / l.columns);
    // Columns at their widest leave room over: the grid sits in the middle of it.
    const int used = l.columns * l.columnWidth + (l.columns - 1) * columnSpacing;
    l.left = padding + std::max(0, (available - used) / 2);
    l.imageHeight = static_cast<int>(std::lround((l.columnWidth - 2 * cellPadding) / 1.5));
    return l;
}

int CardGridLayout::contentHeight() const {
    const int r = rows();
    return 2 * padding + (r > 0 ? r * cellHeight() + (r - 1) * rowSpacing : 0);
}

QRect CardGridLayout::cellRect(int index) const {
    const int row = index / columns;
    const int column = index % columns;
    return {left + column * (columnWidth + columnSpacing),
            padding + row * (cellHeight() + rowSpacing), columnWidth, cellHeight()};
}

std::pair<int, int> CardGridLayout::visibleRange(int top, int height) const {
    if (count == 0 || height <= 0) return {0, 0};
    const int pitch = cellHeight() + rowSpacing;
    // A row is touched when its cell band [y, y + cellHeight) meets [top, top + height).
    const int above =
        top - padding - cellHeight();  // a row whose cell ends at or above this is gone
    const int firstRow = above < 0 ? 0 : above / pitch + 1;
    const int bottom = top + height;
    const int lastRow =
        std::min(rows(), bottom <= padding ? 0 : (bottom - padding - 1) / pitch + 1);
    const int first = std::min(count, firstRow * columns);
    const int last = std::min(count, lastRow * columns);
    return {first, std::max(first, last)};
}

int CardGridLayout::indexAt(QPoint point) const {
    if (point.x() < left || point.y() < padding) return -1;
    const int pitchX = columnWidth + columnSpacing;
    const int pitchY = cellHeight() + rowSpacing;
    const int column = (point.x() - left) / pitchX;
    const int row = (point.y() - padding) / pitchY;
    if (column >= columns || (point.x() - left) % pitchX >= columnWidth ||
        (point.y() - padding) % pitchY >= cellHeight())
        return -1;
    const int index = row * columns + column;
    return index < count ? index : -1;
}

QRect CardGridLayout::imageRect(const QRect& cell) {
    const int w = cell.width() - 2 * cellPadding;
    return {cell.left() + cellPadding, cell.top() + cellPadding, w,
            static_cast<int>(std::lround(w / 1.5))};
}

QRect CardGridLayout::nameRect(const QRect& cell) {
    const QRect image = imageRect(cell);
    return {image.left(), image.bottom() + 1 + nameGap, image.width(), nameHeight};
}

QRect CardGridLayout::importedBadge(const QRect& image) {
    return {image.right() - 5 - 17, image.top() + 5, 18, 18};
}

QRect CardGridLayout::locatableBadge(const QRect& image) {
    return {image.left() + 5, image.top() + 5, 18, 18};
}

}  // namespace pexil::shell
