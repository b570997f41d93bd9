#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

class QObject;

namespace pexil::shell {

class CardGridView;

// The card grid as a screen reader sees it: a list whose items are the painted cells, each
// named after its file and described by its capture time, whether it is imported and whether
// a position can be written into it. Cells have no widgets, so their interfaces are made on
// demand and dropped when the list is rebuilt (CardGridView calls listRebuilt()).
class CardGridAccessible final : public QAccessibleWidget {
public:
    explicit CardGridAccessible(CardGridView* grid);
    ~CardGridAccessible() override;
    Q_DISABLE_COPY_MOVE(CardGridAccessible)

    // The factory for QAccessible::installFactory.
    static QAccessibleInterface* create(const QString& className, QObject* object);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // Forgets the cells' interfaces: the list behind them changed.
    void listRebuilt();

private:
    CardGridView* grid() const;

    mutable QHash<QString, QAccessible::Id> cells_;  // by the item's id
};

}  // namespace pexil::shell
