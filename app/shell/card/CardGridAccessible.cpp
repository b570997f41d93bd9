#include "app/shell/card/CardGridAccessible.h"

#include "app/card/CardModel.h"
#include "app/shell/card/CardGridView.h"
#include "app/shell/card/CardTexts.h"

#include <QStringList>

namespace pexil::shell {

namespace {

// One painted cell. It holds the picture's id, not its position, so that an interface a
// screen reader kept refers to the same picture or to none.
class CardCellAccessible final : public QAccessibleInterface {
public:
    CardCellAccessible(CardGridView* grid, QString id) : grid_(grid), id_(std::move(id)) {}

    bool isValid() const override { return grid_ && index() >= 0; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return grid_ ? QAccessible::queryAccessibleInterface(grid_)->window() : nullptr;
    }
    QAccessibleInterface* parent() const override {
        return grid_ ? QAccessible::queryAccessibleInterface(grid_) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }

    QString text(QAccessible::Text t) const override {
        const CardItem* item = grid_ ? grid_->card().item(id_) : nullptr;
        if (!item) return {};
        if (t == QAccessible::Name) return item->name;
        if (t != QAccessible::Description) return {};
        QStringList parts;
        if (const QString date = CardTexts::dateTime(item->captured); !date.isEmpty())
            parts << QStringLiteral("撮影 ") + date;
        parts << (item->imported ? QStringLiteral("取り込み済み") : QStringLiteral("未取り込み"));
        if (item->locatable) parts << QStringLiteral("位置情報を書き込める");
        return parts.join(QStringLiteral("、"));
    }
    void setText(QAccessible::Text, const QString&) override {}

    QRect rect() const override {
        const int at = index();
        if (at < 0) return {};
        const QRect local = grid_->visualRect(at);
        return QRect(grid_->viewport()->mapToGlobal(local.topLeft()), local.size());
    }

    QAccessible::State state() const override {
        QAccessible::State s;
        const int at = index();
        if (at < 0) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.multiSelectable = true;
        s.focusable = true;
        s.selected = grid_->card().selection().count(id_) > 0;
        s.focused = grid_->hasFocus() && grid_->currentIndex() == at;
        const auto [first, last] = grid_->visibleRange();
        s.offscreen = at < first || at >= last;
        s.invisible = !grid_->isVisible();
        return s;
    }

private:
    int index() const {
        if (!grid_) return -1;
        const auto at = grid_->card().indexOf(id_);
        return at ? static_cast<int>(*at) : -1;
    }

    QPointer<CardGridView> grid_;
    QString id_;
};

}  // namespace

CardGridAccessible::CardGridAccessible(CardGridView* grid)
    : QAccessibleWidget(grid, QAccessible::List, QStringLiteral("カードの写真")) {}

// The cells stay in QAccessible's cache, which deletes them at the end; deleting them here
// could run while that cache is being torn down. Without the grid they are invalid.
CardGridAccessible::~CardGridAccessible() = default;

QAccessibleInterface* CardGridAccessible::create(const QString& className, QObject* object) {
    if (className != QLatin1String("pexil::shell::CardGridView")) return nullptr;
    return new CardGridAccessible(static_cast<CardGridView*>(object));
}

CardGridView* CardGridAccessible::grid() const {
    return static_cast<CardGridView*>(widget());
}

int CardGridAccessible::childCount() const {
    return static_cast<int>(grid()->card().items().size());
}

QAccessibleInterface* CardGridAccessible::child(int index) const {
    const CardItems& items = grid()->card().items();
    if (index < 0 || index >= static_cast<int>(items.size())) return nullptr;
    const QString& id = items[static_cast<std::size_t>(index)].id;
    if (const auto it = cells_.constFind(id); it != cells_.constEnd())
        return QAccessible::accessibleInterface(*it);
    // Registered interfaces belong to QAccessible's cache, which deletes them.
    QAccessibleInterface* cell = new CardCellAccessible(grid(), id);
    cells_.insert(id, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

int CardGridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child) return -1;
    for (auto it = cells_.constBegin(); it != cells_.constEnd(); ++it) {
        if (QAccessible::accessibleInterface(*it) != child) continue;
        const auto at = grid()->card().indexOf(it.key());
        return at ? static_cast<int>(*at) : -1;
    }
    return -1;
}

QAccessibleInterface* CardGridAccessible::childAt(int x, int y) const {
    const QPoint local = grid()->viewport()->mapFromGlobal(QPoint(x, y));
    const int index = grid()->indexAt(local);
    return index >= 0 ? child(index) : nullptr;
}

QAccessibleInterface* CardGridAccessible::focusChild() const {
    if (!grid()->hasFocus()) return nullptr;
    const int current = grid()->currentIndex();
    return current >= 0 ? child(current) : nullptr;
}

void CardGridAccessible::listRebuilt() {
    for (const QAccessible::Id id : std::as_const(cells_)) QAccessible::deleteAccessibleInterface(id);
    cells_.clear();
}

}  // namespace pexil::shell
