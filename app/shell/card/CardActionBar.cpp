#include "app/shell/card/CardActionBar.h"

#include "app/card/CardModel.h"
#include "app/geo/GeoStore.h"
#include "app/shell/card/CardSpinner.h"
#include "app/shell/card/CardTexts.h"
#include "app/shell/main/SourceToggle.h"
#include "app/shell/main/TintedLabel.h"
#include "ui/components/ElidedLabel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace pexil::shell {

CardActionBar::CardActionBar(ConnectionModel& connection, ShotsModel& shots, CardModel& card,
                             GeoStore& geo, QWidget* parent)
    : QWidget(parent),
      card_(card),
      geo_(geo),
      source_(new SourceToggle(connection, shots, card, this)),
      progress_(new QProgressBar(this)),
      spinner_(new CardSpinner(12, this)),
      summaryMark_(new QLabel(this)),
      statusLabel_(new ui::ElidedLabel(this)),
      geoIcon_(new QLabel(this)),
      geoLabel_(new ui::ElidedLabel(this)),
      writeLocations_(new QCheckBox(QStringLiteral("取り込み時に書き込む"), this)),
      importSelected_(new QPushButton(this)),
      importAll_(new QPushButton(this)),
      cancel_(new QPushButton(QStringLiteral("中止"), this)),
      resume_(new QPushButton(this)),
      geoLine_(new QHBoxLayout) {
    setFixedHeight(barHeight);
    // Two rows, so that nothing is cut at the window's smallest widths: what the import
    // does, beside the buttons; below, the source switch and the geo advice, which is
    // elided with its whole text in the tool tip.
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 8, 14, 8);
    column->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    column->addLayout(row);

    auto* statusLine = new QHBoxLayout;
    statusLine->setSpacing(6);
    progress_->setFixedSize(120, 6);
    progress_->setTextVisible(false);
    progress_->setStyleSheet(
        QStringLiteral("QProgressBar { background: %1; border: none; border-radius: 3px; }"
                       "QProgressBar::chunk { background: %2; border-radius: 3px; }")
            .arg(ui::Theme::surfaceRaised().name(), ui::Theme::amber().name()));
    summaryMark_->setPixmap(
        ui::GlyphIconEngine::icon(u"checkmark.circle.fill", ui::Theme::amber()).pixmap(14, 14));
    statusLabel_->setFont(ui::Theme::digitsFont(12));
    statusLabel_->setStyleSheet(textColourStyle(ui::Theme::text()));
    for (QWidget* w : std::initializer_list<QWidget*>{progress_, spinner_, summaryMark_})
        statusLine->addWidget(w, 0, Qt::AlignVCenter);
    statusLine->addWidget(statusLabel_, 1, Qt::AlignVCenter);
    row->addLayout(statusLine, 1);

    auto* geoLine = geoLine_;
    geoLine->setSpacing(6);
    geoLine->addWidget(source_);
    geoLine->addSpacing(8);
    geoLabel_->setFont(ui::Theme::font(11));
    geoLabel_->setStyleSheet(textColourStyle(ui::Theme::dim()));
    writeLocations_->setFont(ui::Theme::font(11));
    writeLocations_->setFocusPolicy(Qt::NoFocus);
    geoLine->addWidget(geoIcon_, 0, Qt::AlignVCenter);
    geoLine->addWidget(geoLabel_, 1, Qt::AlignVCenter);
    geoLine->addWidget(writeLocations_, 0, Qt::AlignVCenter);
    column->addLayout(geoLine);

    for (QPushButton* b : {cancel_, resume_, importSelected_, importAll_}) {
        // Reached with Tab from the grid; Space is theirs while the card is shown.
        b->setFocusPolicy(Qt::StrongFocus);
        b->setFont(ui::Theme::font(12, QFont::Medium));
        b->setMinimumHeight(28);
        // A button keeps its whole text; the status beside it gives way.
        b->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        row->addWidget(b);
    }
    // The prominent button: amber with dark text, greyed while it cannot be used.
    importAll_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                       " padding: 4px 14px; }"
                       "QPushButton:hover { background: %3; }"
                       "QPushButton:focus { border: 2px solid %2; }"
                       "QPushButton:disabled { background: %4; color: %5; }")
            .arg(ui::Theme::amber().name(), ui::Theme::onAmber().name(),
                 ui::Theme::amber().lighter(112).name(), ui::Theme::surfaceRaised().name(),
                 ui::Theme::dimmer().name()));
    importSelected_->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; color: %2; border: none; border-radius: 6px;"
                       " padding: 4px 14px; }"
                       "QPushButton:hover { background: %3; }"
                       "QPushButton:focus { border: 1px solid %5; }"
                       "QPushButton:disabled { color: %4; }")
            .arg(ui::Theme::surfaceRaised().name(), ui::Theme::text().name(),
                 ui::Theme::surfaceRaised().lighter(130).name(), ui::Theme::dimmer().name(),
                 ui::Theme::amber().name()));

    connect(importSelected_, &QPushButton::clicked, &card_, &CardModel::importSelected);
    connect(importAll_, &QPushButton::clicked, &card_, &CardModel::importAll);
    cancel_->setToolTip(QStringLiteral("転送中のファイルを保存したところで止めます。残りはカードに残ります"));
    cancel_->setStyleSheet(importSelected_->styleSheet());
    resume_->setStyleSheet(importSelected_->styleSheet());
    resume_->setToolTip(QStringLiteral("カメラとの接続が切れて取り込めなかった写真だけを取り込みます"));
    resume_->hide();
    connect(resume_, &QPushButton::clicked, &card_, &CardModel::resumeImport);
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, [this] {
        card_.cancelImport();
        cancel_->setEnabled(false);
        cancel_->setText(QStringLiteral("中止しています…"));
    });
    connect(writeLocations_, &QCheckBox::toggled, &card_, &CardModel::setWriteLocations);
    for (auto signal : {&CardModel::itemsChanged, &CardModel::selectionChanged,
                        &CardModel::loadingChanged, &CardModel::expectedChanged,
                        &CardModel::importPhaseChanged, &CardModel::lastSummaryChanged})
        connect(&card_, signal, this, &CardActionBar::refresh);
    connect(&card_, &CardModel::itemsChanged, this, &CardActionBar::refreshGeo);
    connect(&card_, &CardModel::writeLocationsChanged, this, &CardActionBar::refreshGeo);
    connect(&geo_, &GeoStore::recordChanged, this, &CardActionBar::refreshGeo);
    refresh();
    refreshGeo();
}

QString CardActionBar::statusText() const {
    return statusLabel_->fullText();
}
QString CardActionBar::geoText() const {
    return geoLabel_->fullText();
}
QString CardActionBar::geoHelp() const {
    return geoHelp_;
}

void CardActionBar::enable(QPushButton* button, bool on) {
    // A button that had the keyboard and goes grey would hand it on to the next in the chain,
    // the inspector's dials, where the arrows change the exposure: back to the grid instead.
    if (!on && button->hasFocus()) focusPreviousChild();
    button->setEnabled(on);
}

void CardActionBar::place(QPushButton* button, bool shown) {
    if (!shown && button->hasFocus()) focusPreviousChild();
    button->setVisible(shown);
}

void CardActionBar::refresh() {
    const CardItems& items = card_.items();
    const std::set<QString>& selection = card_.selection();
    std::size_t unimported = 0;
    int selectedNew = 0;
    for (const CardItem& item : items) {
        if (item.imported) continue;
        ++unimported;
        if (selection.count(item.id) > 0) ++selectedNew;
    }
    const auto& phase = card_.importPhase();
    const bool importing = phase.has_value();

    const std::size_t resumable = importing ? 0 : card_.resumable().size();
    importSelected_->setText(CardTexts::importSelectedText(selectedNew));
    enable(importSelected_, selectedNew > 0 && !importing);
    importAll_->setText(CardTexts::importAllText(unimported));
    enable(importAll_, unimported > 0 && !importing && !card_.loading());
    // While an import runs its progress and 中止 take their place, and an offer to go on
    // replaces the greyed "0 枚": the summary beside them keeps room to be read.
    // Without pictures (no camera, an empty card) there is nothing to offer at all.
    const bool offers = !importing && !items.empty();
    place(importSelected_, offers && (selectedNew > 0 || resumable == 0));
    place(importAll_, offers);
    importAll_->setToolTip(card_.loading() ? CardTexts::importAllWaitHelp() : QString());

    using Kind = ImportPhase::Kind;
    if (phase)
        status_ = phase->kind == Kind::downloading ? Status::downloading : Status::geotagging;
    else if (card_.lastSummary())
        status_ = Status::summary;
    else if (card_.loading())
        status_ = Status::loading;
    else
        status_ = Status::counts;
    progress_->setVisible(status_ == Status::downloading);
    if (status_ != Status::downloading) {
        cancel_->setEnabled(true);
        cancel_->setText(QStringLiteral("中止"));
    }
    cancel_->setVisible(status_ == Status::downloading);
    resume_->setText(CardTexts::resumeText(resumable));
    resume_->setVisible(resumable > 0);
    if (status_ == Status::downloading) {
        progress_->setRange(0, std::max(1, phase->total));
        progress_->setValue(phase->done);
    }
    spinner_->setVisible(status_ == Status::geotagging);
    // A mark of success only for an import that lost nothing; otherwise a warning.
    const bool failed = status_ == Status::summary && card_.lastImportFailed();
    if (failed != summaryWarns_) {
        summaryWarns_ = failed;
        summaryMark_->setPixmap(failed ? ui::GlyphIconEngine::icon(u"exclamationmark.triangle.fill", ui::Theme::orange())
                                             .pixmap(14, 14)
                                       : ui::GlyphIconEngine::icon(u"checkmark.circle.fill", ui::Theme::amber())
                                             .pixmap(14, 14));
    }
    summaryMark_->setAccessibleName(failed ? QStringLiteral("一部失敗") : QStringLiteral("完了"));
    summaryMark_->setVisible(status_ == Status::summary);
    statusLabel_->setFullText(CardTexts::statusText(phase, card_.lastSummary(), card_.loading(),
                                                items.size(), card_.expected(), unimported));
}

void CardActionBar::refreshGeo() {
    const auto& payload = geo_.payload();
    geoIcon_->setPixmap(
        ui::GlyphIconEngine::icon(u"location", payload ? ui::Theme::amber() : ui::Theme::dim())
            .pixmap(13, 13));
    geoLabel_->setFullText(
        CardTexts::geoText(payload.has_value(), payload ? card_.locatableCount() : 0));
    geoHelp_ = payload ? CardTexts::geoHelp(geo_.sender(), geo_.receivedAt(), payload->shots.size(),
                                            payload->track.size())
                       : QString();
    // The record's details when there is one; else the whole advice, should it be cut.
    if (!geoHelp_.isEmpty()) geoLabel_->setToolTip(geoHelp_);
    writeLocations_->setVisible(payload.has_value());
    const QSignalBlocker quiet(writeLocations_);
    writeLocations_->setChecked(card_.writeLocations());
}

void CardActionBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), ui::Theme::surface());
}

}  // namespace pexil::shell
