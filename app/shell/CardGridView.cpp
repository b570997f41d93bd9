#include "app/shell/CardGridView.h"

#include "app/card/CardModel.h"
#include "app/shell/CardTexts.h"
#include "ui/theme/Theme.h"

#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

namespace pexil::shell {

namespace {
// About 48 MB of frames: several screens of the largest cells, so scrolling back is a copy.
constexpr int frameCachePixels = 12'000'000;
}  // namespace

CardGridView::CardGridView(CardModel& card, QWidget* parent)
    : QAbstractScrollArea(parent), card_(card), frames_(frameCachePixels) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(40);
    spinner_.setInterval(83);
    connect(&spinner_, &QTimer::timeout, this, &CardGridView::tickSpinners);
    connect(&card_, &CardModel::itemsChanged, this, &CardGridView::itemsChanged);
    connect(&card_, &CardModel::itemUpdated, this, &CardGridView::itemUpdated);
    connect(&card_, &CardModel::selectionChanged, viewport(), qOverload<>(&QWidget::update));
    itemsChanged();
}

int CardGridView::top() const {
    return verticalScrollBar()->value();
}

std::pair<int, int> CardGridView::visibleRange() const {
    return layout_.visibleRange(top(), viewport()->height());
}

QRect CardGridView::visualRect(int index) const {
    return layout_.cellRect(index).translated(0, -top());
}

int CardGridView::indexAt(QPoint point) const {
    return layout_.indexAt(point + QPoint(0, top()));
}

QString CardGridView::toolTipAt(QPoint point) const {
    const int index = indexAt(point);
    if (index < 0) return {};
    const CardItem& item = card_.items()[static_cast<std::size_t>(index)];
    const QRect image = CardGridLayout::imageRect(visualRect(index));
    if (item.imported && CardGridLayout::importedBadge(image).contains(point))
        return CardTexts::importedHelp();
    if (item.locatable && CardGridLayout::locatableBadge(image).contains(point))
        return CardTexts::locatableHelp();
    return CardTexts::dateTime(item.captured);
}

void CardGridView::scrollToIndex(int index) {
    if (index < 0 || index >= layout_.count) return;
    const QRect cell = layout_.cellRect(index);
    QScrollBar* bar = verticalScrollBar();
    if (cell.top() < bar->value() + CardGridLayout::padding)
        bar->setValue(cell.top() - CardGridLayout::padding);
    else if (cell.bottom() > bar->value() + viewport()->height() - CardGridLayout::padding)
        bar->setValue(cell.bottom() - viewport()->height() + CardGridLayout::padding);
}

void CardGridView::itemsChanged() {
    rows_.clear();
    const CardItems& items = card_.items();
    rows_.reserve(static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i) rows_.insert(items[i].id, static_cast<int>(i));
    if (items.empty()) frames_.clear();
    relayout();
}

void CardGridView::itemUpdated(const QString& id) {
    const auto it = rows_.constFind(id);
    if (it == rows_.constEnd()) return;
    const auto [first, last] = visibleRange();
    if (*it < first || *it >= last) return;
    viewport()->update(visualRect(*it));
}

void CardGridView::relayout() {
    layout_ = CardGridLayout::make(viewport()->width(), static_cast<int>(card_.items().size()));
    QScrollBar* bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, std::max(0, layout_.contentHeight() - viewport()->height()));
    viewport()->update();
    syncRequests();
}

void CardGridView::syncRequests() {
    if (!isVisible()) return;
    const auto [first, last] = visibleRange();
    const CardItems& items = card_.items();
    QSet<QString> inView;
    inView.reserve(last - first);
    bool waiting = false;
    for (int i = first; i < last; ++i) {
        const CardItem& item = items[static_cast<std::size_t>(i)];
        if (!item.thumbnail.isNull()) continue;
        waiting = true;
        inView.insert(item.id);
    }
    // Withdraw first: the queue then holds what is in view, in reading order.
    for (const QString& id : std::as_const(requested_))
        if (!inView.contains(id)) card_.withdrawThumbnail(id);
    for (int i = first; i < last; ++i) {
        const QString& id = items[static_cast<std::size_t>(i)].id;
        if (inView.contains(id) && !requested_.contains(id)) card_.requestThumbnail(id);
    }
    requested_ = std::move(inView);
    if (waiting && !spinner_.isActive()) spinner_.start();
    if (!waiting) spinner_.stop();
}

void CardGridView::withdrawAll() {
    for (const QString& id : std::as_const(requested_)) card_.withdrawThumbnail(id);
    requested_.clear();
    spinner_.stop();
}

void CardGridView::tickSpinners() {
    spinnerStep_ = (spinnerStep_ + 1) % 12;
    const auto [first, last] = visibleRange();
    const CardItems& items = card_.items();
    bool waiting = false;
    for (int i = first; i < last; ++i) {
        if (!items[static_cast<std::size_t>(i)].thumbnail.isNull()) continue;
        waiting = true;
        viewport()->update(CardGridLayout::imageRect(visualRect(i)));
    }
    if (!waiting) spinner_.stop();
}

QPixmap CardGridView::frameOf(int index) {
    const QImage& thumbnail = card_.items()[static_cast<std::size_t>(index)].thumbnail;
    if (thumbnail.isNull()) return {};
    const qint64 key = thumbnail.cacheKey();
    if (const QPixmap* cached = frames_.object(key)) return *cached;
    const QSize size = CardGridLayout::imageRect(layout_.cellRect(index)).size();
    auto frame =
        std::make_unique<QPixmap>(CardCell::frameFor(thumbnail, size, devicePixelRatioF()));
    QPixmap copy = *frame;
    frames_.insert(key, frame.release(), size.width() * size.height());
    return copy;
}

void CardGridView::paintEvent(QPaintEvent* event) {
    QPainter p(viewport());
    p.fillRect(event->rect(), ui::Theme::background());
    if (badgesRatio_ != devicePixelRatioF()) {
        badgesRatio_ = devicePixelRatioF();
        badges_ = CardCell::Badges::make(badgesRatio_);
        frames_.clear();
    }
    p.setFont(ui::Theme::digitsFont(11));
    const QRect dirty = event->rect();
    const auto [first, last] = layout_.visibleRange(top() + dirty.top(), dirty.height());
    const CardItems& items = card_.items();
    const std::set<QString>& selection = card_.selection();
    for (int i = first; i < last; ++i) {
        const QRect cell = visualRect(i);
        if (!cell.intersects(dirty)) continue;
        const CardItem& item = items[static_cast<std::size_t>(i)];
        CardCell view{item.name, frameOf(i), item.imported, item.locatable,
                      selection.count(item.id) > 0};
        view.paint(p, cell, badges_, spinnerStep_);
    }
}

void CardGridView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const int before = layout_.columnWidth;
    relayout();
    if (layout_.columnWidth != before) frames_.clear();
}

void CardGridView::scrollContentsBy(int, int dy) {
    viewport()->scroll(0, dy);
    syncRequests();
}

void CardGridView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
    const int index = indexAt(event->position().toPoint());
    if (index < 0) return;
    card_.click(card_.items()[static_cast<std::size_t>(index)].id,
                event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
}

void CardGridView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseDoubleClickEvent(event);
    const int index = indexAt(event->position().toPoint());
    if (index >= 0) card_.open(card_.items()[static_cast<std::size_t>(index)].id);
}

bool CardGridView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = toolTipAt(help->pos());
        if (text.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), text, viewport());
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void CardGridView::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    relayout();
}

void CardGridView::hideEvent(QHideEvent* event) {
    withdrawAll();
    QAbstractScrollArea::hideEvent(event);
}

}  // namespace pexil::shell
