#pragma once

#include <QStyledItemDelegate>

namespace pexil::shell {

// One filmstrip cell: the thumbnail fitted into 96 × 64 on the raised surface, outlined in
// amber when it is the shot the preview shows, with the photographer's stars, pick or reject.
class ThumbnailDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int cellWidth = 96;
    static constexpr int cellHeight = 64;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace pexil::shell
