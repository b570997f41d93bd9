#pragma once

#include <QStackedWidget>

class QLabel;

namespace pexil {
class CardModel;
class ConnectionModel;
}  // namespace pexil

namespace pexil::shell {

class CardGridView;
class CardLoadingView;
class CardPreviewView;
class WarmupOverlay;

// The card source's main area: the first of these that applies — the warm-up overlay while
// the camera warms up, the focused picture large, the loading view while the card is being
// listed, the empty card, otherwise the grid.
class CardBrowser final : public QStackedWidget {
    Q_OBJECT
public:
    enum class Page { warmup, large, loading, empty, grid };

    CardBrowser(ConnectionModel& connection, CardModel& card, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardBrowser)

    Page page() const;
    CardGridView* grid() const { return grid_; }
    CardPreviewView* large() const { return large_; }
    CardLoadingView* loadingView() const { return loading_; }
    QWidget* emptyView() const { return empty_; }
    QString emptyText() const;
    WarmupOverlay* warmupView() const { return warmup_; }
    // Gives the keyboard to the page shown.
    void takeKeyboard();

private:
    void choose();

    ConnectionModel& connection_;
    CardModel& card_;
    WarmupOverlay* warmup_;
    CardPreviewView* large_;
    CardLoadingView* loading_;
    QLabel* emptyText_ = nullptr;  // declared before empty_, which sets it
    QWidget* empty_;
    CardGridView* grid_;
};

}  // namespace pexil::shell
