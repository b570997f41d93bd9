#include "app/shell/card/CardBrowser.h"

#include "app/card/CardModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/shell/card/CardGridView.h"
#include "app/shell/card/CardLoadingView.h"
#include "app/shell/card/CardPreviewView.h"
#include "app/shell/card/CardTexts.h"
#include "app/shell/main/WarmupOverlay.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

namespace pexil::shell {

namespace {
QWidget* emptyCard(QWidget* parent, QLabel*& label) {
    auto* page = new QWidget(parent);
    auto* column = new QVBoxLayout(page);
    column->setSpacing(10);
    column->addStretch(1);
    auto* symbol = new QLabel(page);
    symbol->setPixmap(ui::GlyphIconEngine::icon(u"sdcard", ui::Theme::dim()).pixmap(44, 44));
    symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol);
    auto* text = new QLabel(CardTexts::emptyCard(), page);
    label = text;
    text->setWordWrap(true);
    text->setFont(ui::Theme::font(14));
    text->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    text->setAlignment(Qt::AlignCenter);
    column->addWidget(text);
    column->addStretch(1);
    return page;
}
}  // namespace

CardBrowser::CardBrowser(ConnectionModel& connection, CardModel& card, QWidget* parent)
    : QStackedWidget(parent),
      connection_(connection),
      card_(card),
      warmup_(new WarmupOverlay(connection, this)),
      large_(new CardPreviewView(card, this)),
      loading_(new CardLoadingView(this)),
      empty_(emptyCard(this, emptyText_)),
      grid_(new CardGridView(card, this)) {
    for (QWidget* page : {static_cast<QWidget*>(warmup_), static_cast<QWidget*>(large_),
                          static_cast<QWidget*>(loading_), empty_, static_cast<QWidget*>(grid_)})
        addWidget(page);
    connect(&connection_, &ConnectionModel::warmupChanged, this, &CardBrowser::choose);
    connect(&connection_, &ConnectionModel::stateChanged, this, &CardBrowser::choose);
    for (auto signal : {&CardModel::focusChanged, &CardModel::loadingChanged,
                        &CardModel::itemsChanged, &CardModel::expectedChanged})
        connect(&card_, signal, this, &CardBrowser::choose);
    choose();
}

CardBrowser::Page CardBrowser::page() const {
    QWidget* shown = currentWidget();
    if (shown == warmup_) return Page::warmup;
    if (shown == large_) return Page::large;
    if (shown == loading_) return Page::loading;
    if (shown == empty_) return Page::empty;
    return Page::grid;
}

QString CardBrowser::emptyText() const { return emptyText_->text(); }

void CardBrowser::choose() {
    loading_->setProgress(card_.items().size(), card_.expected());
    QWidget* shown = grid_;
    if (connection_.warmup())
        shown = warmup_;
    else if (card_.focus())
        shown = large_;
    else if (card_.loading())
        shown = loading_;
    else if (card_.items().empty())
        shown = empty_;
    emptyText_->setText(connection_.state().is(ConnectionState::Kind::connected)
                            ? CardTexts::emptyCard()
                            : CardTexts::noCamera());
    // A page that had the keyboard hands it to the next one: Esc in the large view leaves
    // it on the grid, Enter on the grid in the large view.
    QWidget* before = currentWidget();
    const bool hadKeyboard = before && (before->hasFocus() || before->isAncestorOf(focusWidget()));
    setCurrentWidget(shown);
    if (hadKeyboard && shown != before) takeKeyboard();
}

void CardBrowser::takeKeyboard() {
    QWidget* shown = currentWidget();
    shown->setFocus(Qt::OtherFocusReason);
}

}  // namespace pexil::shell
