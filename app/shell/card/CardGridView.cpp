#include "app/shell/card/CardGridView.h"

#include "app/card/CardModel.h"
#include "app/shell/card/CardGridAccessible.h"
#include "app/shell/card/CardTexts.h"
#include "ui/theme/Theme.h"

#include <QAccessible>
#include <QHelpEvent>
#include <QKeyEvent>
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
    // Once per process: the painted cells have no widgets a screen reader could find.
    static const bool accessible = (QAccessible::installFactory(&CardGridAccessible::create), true);
    Q_UNUSED(accessible);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    verticalScrollBar()->setSingleStep(40);
    spinner_.setInterval(83);
    connect(&spinner_, &QTimer::timeout, this, &CardGridView::tickSpinners);
    connect(&card_, &CardModel::itemsChanged, this, &CardGridView::itemsChanged);
    connect(&card_, &CardModel::itemUpdated, this, &CardGridView::itemUpdated);
    connect(&card_, &CardModel::selectionChanged, viewport(), qOverload<>(&QWidget::update));
    connect(&card_, &CardModel::selectionChanged, this, [this] {
        if (!QAccessible::isActive()) return;
        QAccessibleEvent event(this, QAccessible::SelectionWithin);
        QAccessible::updateAccessibility(&event);
    });
    // Back from the large view, the ring is on the picture last shown there.
    connect(&card_, &CardModel::focusChanged, this, [this] {
        if (const auto& focus = card_.focus()) current_ = *focus;
    });
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

int CardGridView::currentIndex() const {
    if (layout_.count == 0) return -1;
    const auto it = rows_.constFind(current_);
    return it == rows_.constEnd() ? 0 : *it;
}

QRect CardGridView::ringRect(int index) const {
    return visualRect(index).adjusted(-4, -4, 4, 4);
}

void CardGridView::setCurrent(int index) {
    const int before = currentIndex();
    current_ = card_.items()[static_cast<std::size_t>(index)].id;
    if (before >= 0) viewport()->update(ringRect(before));
    viewport()->update(ringRect(index));
    scrollToIndex(index);
    announceCurrent();
}

void CardGridView::announceCurrent() {
    const int index = currentIndex();
    if (!hasFocus() || index < 0 || !QAccessible::isActive()) return;
    QAccessibleEvent event(this, QAccessible::Focus);
    event.setChild(index);
    QAccessible::updateAccessibility(&event);
}

std::optional<int> CardGridView::target(int key, int from) const {
    const int columns = std::max(1, layout_.columns);
    const int pageRows = std::max(1, viewport()->height() / std::max(1, layout_.cellHeight()));
    int to = from;
    switch (key) {
        case Qt::Key_Left: to = from - 1; break;
        case Qt::Key_Right: to = from + 1; break;
        case Qt::Key_Up: to = from - columns; break;
        case Qt::Key_Down: to = from + columns; break;
        case Qt::Key_PageUp: to = from - columns * pageRows; break;
        case Qt::Key_PageDown: to = from + columns * pageRows; break;
        case Qt::Key_Home: return 0;
        case Qt::Key_End: return layout_.count - 1;
        default: return std::nullopt;
    }
    // Up and down stop at the first and last row rather than wrapping or doing nothing at
    // a short last row; left and right stop at the ends.
    return std::clamp(to, 0, layout_.count - 1);
}

void CardGridView::itemsChanged() {
    rows_.clear();
    const CardItems& items = card_.items();
    rows_.reserve(static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i) rows_.insert(items[i].id, static_cast<int>(i));
    if (items.empty()) frames_.clear();
    if (QAccessible::isActive()) {
        if (auto* accessible = dynamic_cast<CardGridAccessible*>(QAccessible::queryAccessibleInterface(this)))
            accessible->listRebuilt();
    }
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
    // Where the keyboard is, while the grid has it: a ring outside the cell, as the filmstrip
    // draws its own.
    if (const int current = currentIndex(); hasFocus() && current >= 0) {
        const QRect cell = ringRect(current);
        if (cell.intersects(dirty)) {
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(QPen(ui::Theme::text(), 1, Qt::DashLine));
            p.setBrush(Qt::NoBrush);
            p.drawRoundedRect(QRectF(cell).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
        }
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
    setCurrent(index);
    card_.click(card_.items()[static_cast<std::size_t>(index)].id,
                event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier));
}

void CardGridView::keyPressEvent(QKeyEvent* event) {
    const int from = currentIndex();
    if (from < 0) return QAbstractScrollArea::keyPressEvent(event);
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    const bool ctrl = modifiers.testFlag(Qt::ControlModifier);
    const auto idAt = [this](int index) { return card_.items()[static_cast<std::size_t>(index)].id; };
    if (const auto to = target(event->key(), from)) {
        // Shift extends from the anchor, or from the cell the keyboard leaves when there is
        // none yet; Ctrl moves only the ring; alone, the cell is chosen.
        const bool shift = modifiers.testFlag(Qt::ShiftModifier);
        const auto& anchor = card_.anchor();
        if (shift && !ctrl && (!anchor || !card_.indexOf(*anchor))) card_.click(idAt(from));
        setCurrent(*to);
        if (!ctrl) card_.click(idAt(*to), modifiers & Qt::ShiftModifier);
        return event->accept();
    }
    if (event->matches(QKeySequence::SelectAll)) {
        std::set<QString> all;
        for (const CardItem& item : card_.items()) all.insert(item.id);
        card_.select(all);
        return event->accept();
    }
    switch (event->key()) {
        case Qt::Key_Space:
            card_.click(idAt(from), ctrl ? Qt::ControlModifier : Qt::NoModifier);
            return event->accept();
        case Qt::Key_Return:
        case Qt::Key_Enter:
            card_.open(idAt(from));
            return event->accept();
        case Qt::Key_Escape:
            if (card_.selection().empty()) break;
            card_.select({});
            return event->accept();
        default:
            break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void CardGridView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    if (const int index = currentIndex(); index >= 0) {
        viewport()->update(ringRect(index));
        scrollToIndex(index);
        announceCurrent();
    }
}

void CardGridView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    if (const int index = currentIndex(); index >= 0) viewport()->update(ringRect(index));
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
