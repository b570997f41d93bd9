#include "app/shell/card/CardInfoRow.h"

#include "app/card/CardModel.h"
#include "app/shell/card/CardTexts.h"
#include "app/shell/main/TintedLabel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QLabel>

namespace pexil::shell {

namespace {

// A symbol and a text side by side, as one label.
QWidget* mark(QWidget* parent, QStringView symbol, const QColor& tint, const QString& text) {
    auto* box = new QWidget(parent);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    auto* icon = new QLabel(box);
    icon->setPixmap(ui::GlyphIconEngine::icon(symbol, tint).pixmap(13, 13));
    row->addWidget(icon);
    QLabel* words = tintedLabel(box, ui::Theme::font(11), ui::Theme::dim());
    words->setText(text);
    words->setObjectName(QStringLiteral("text"));
    row->addWidget(words);
    return box;
}

QString markText(const QWidget* box) {
    return box->findChild<QLabel*>(QStringLiteral("text"))->text();
}
}  // namespace

CardInfoRow::CardInfoRow(CardModel& card, QWidget* parent)
    : QWidget(parent),
      card_(card),
      name_(tintedLabel(this, ui::Theme::font(12, QFont::Medium), ui::Theme::text())),
      date_(tintedLabel(this, ui::Theme::digitsFont(12), ui::Theme::dim())),
      size_(tintedLabel(this, ui::Theme::digitsFont(11), ui::Theme::dimmer())),
      mark_(tintedLabel(this, ui::Theme::font(12), ui::Theme::amber())),
      imported_(
          mark(this, u"checkmark.circle.fill", ui::Theme::amber(), QStringLiteral("取り込み済み"))),
      locatable_(mark(this, u"location", ui::Theme::dim(), QStringLiteral("位置を付けられます"))),
      hint_(tintedLabel(this, ui::Theme::font(12), ui::Theme::dimmer())) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 4, 14, 4);
    row->setSpacing(10);
    for (QWidget* w :
         std::initializer_list<QWidget*>{name_, date_, size_, imported_, mark_, locatable_, hint_})
        row->addWidget(w);
    row->addStretch(1);
    setFixedHeight(34);
    for (auto signal :
         {&CardModel::focusChanged, &CardModel::selectionChanged, &CardModel::itemsChanged})
        connect(&card_, signal, this, &CardInfoRow::refresh);
    connect(&card_, &CardModel::itemUpdated, this, [this](const QString& id) {
        if (described_ == id) refresh();
    });
    refresh();
}

QStringList CardInfoRow::shownTexts() const {
    QStringList out;
    for (QLabel* l : {name_, date_, size_})
        if (!l->isHidden() && !l->text().isEmpty()) out << l->text();
    if (!imported_->isHidden()) out << markText(imported_);
    if (!mark_->isHidden()) out << mark_->text();
    if (!locatable_->isHidden()) out << markText(locatable_);
    if (!hint_->isHidden()) out << hint_->text();
    return out;
}

void CardInfoRow::refresh() {
    const std::set<QString>& selection = card_.selection();
    const CardItem* item = nullptr;
    if (card_.focus())
        item = card_.item(*card_.focus());
    else if (selection.size() == 1)
        item = card_.item(*selection.begin());
    described_ = item ? std::optional(item->id) : std::nullopt;

    for (QWidget* w : std::initializer_list<QWidget*>{name_, date_, size_})
        w->setVisible(item != nullptr);
    mark_->setVisible(false);
    hint_->setVisible(item == nullptr);
    imported_->setVisible(item && item->imported);
    locatable_->setVisible(item && item->locatable);
    if (!item) {
        const bool several = selection.size() >= 2;
        hint_->setText(several ? CardTexts::selectedCount(selection.size()) : CardTexts::hint());
        hint_->setStyleSheet(QStringLiteral("color: %1")
                                 .arg((several ? ui::Theme::dim() : ui::Theme::dimmer()).name()));
        return;
    }
    name_->setText(item->name);
    date_->setText(CardTexts::dateTime(item->captured));
    date_->setVisible(!date_->text().isEmpty());
    size_->setText(CardTexts::fileSize(item->size));
    const QString marked =
        card_.importedPath(item->id) ? card_.markOf(item->id).spoken() : QString();
    mark_->setText(marked);
    mark_->setVisible(!marked.isEmpty());
}

}  // namespace pexil::shell
