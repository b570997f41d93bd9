#include "app/shell/main/InfoRow.h"

#include "app/liveview/LiveViewModel.h"
#include "app/shell/FileReveal.h"
#include "app/shell/main/TintedLabel.h"
#include "app/shell/main/ZoomControls.h"
#include "app/shots/ShotsModel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace pexil::shell {

InfoRow::InfoRow(ShotsModel& shots, LiveViewModel& liveView, PreviewZoom& zoom, QWidget* parent)
    : QWidget(parent),
      shots_(shots),
      liveView_(liveView),
      liveDot_(new QWidget(this)),
      live_(tintedLabel(this, ui::Theme::font(11, QFont::Bold), ui::Theme::live())),
      fps_(tintedLabel(this, ui::Theme::digitsFont(11), ui::Theme::dim())),
      name_(tintedLabel(this, ui::Theme::font(12, QFont::Medium), ui::Theme::text())),
      summary_(tintedLabel(this, ui::Theme::digitsFont(12), ui::Theme::dim())),
      kelvin_(tintedLabel(this, ui::Theme::digitsFont(12), ui::Theme::dim())),
      client_(tintedLabel(this, ui::Theme::font(12), QColor(0xFF, 0x6F, 0x91))),
      pixels_(tintedLabel(this, ui::Theme::digitsFont(11), ui::Theme::dimmer())),
      reveal_(new QToolButton(this)),
      zoomControls_(new ZoomControls(zoom, this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 4, 10, 4);
    row->setSpacing(10);
    liveDot_->setFixedSize(7, 7);
    liveDot_->setStyleSheet(
        QStringLiteral("background: %1; border-radius: 3px;").arg(ui::Theme::live().name()));
    live_->setText(QStringLiteral("LIVE"));
    reveal_->setText(QStringLiteral("フォルダで表示"));
    reveal_->setIcon(ui::GlyphIconEngine::icon(u"folder", ui::Theme::dim()));
    reveal_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    reveal_->setAutoRaise(true);
    reveal_->setFocusPolicy(Qt::NoFocus);
    reveal_->setFont(ui::Theme::font(11));
    for (QWidget* w : std::initializer_list<QWidget*>{liveDot_, live_, fps_, name_, summary_,
                                                      kelvin_, pixels_, client_, reveal_})
        row->addWidget(w);
    row->addStretch(1);
    row->addWidget(zoomControls_);
    setFixedHeight(34);

    connect(reveal_, &QToolButton::clicked, this, [this] {
        if (const Shot* shot = shots_.shown()) FileReveal::showFile(shot->path);
    });
    for (auto signal : {&ShotsModel::shotsChanged, &ShotsModel::selectionChanged})
        connect(&shots_, signal, this, &InfoRow::update);
    for (auto signal : {&LiveViewModel::isLiveChanged, &LiveViewModel::fpsChanged})
        connect(&liveView_, signal, this, &InfoRow::update);
    connect(&shots_, &ShotsModel::shotUpdated, this, &InfoRow::update);
    update();
}

void InfoRow::setLiveControls(QWidget* controls) {
    liveControls_ = controls;
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->insertWidget(row->indexOf(fps_) + 1, controls, 1);
    update();
}

QStringList InfoRow::shownTexts() const {
    QStringList out;
    for (QLabel* l : {live_, fps_, name_, summary_, kelvin_, pixels_, client_})
        if (!l->isHidden() && !l->text().isEmpty()) out << l->text();
    if (!reveal_->isHidden()) out << reveal_->text();
    return out;
}

void InfoRow::update() {
    const bool live = liveView_.isLive();
    liveDot_->setVisible(live);
    live_->setVisible(live);
    fps_->setVisible(live && liveView_.fps() >= 1);
    fps_->setText(QString::number(liveView_.fps()) + QStringLiteral(" fps"));
    if (liveControls_) liveControls_->setVisible(live);
    const Shot* shot = live ? nullptr : shots_.shown();
    for (QWidget* w : std::initializer_list<QWidget*>{name_, summary_, kelvin_, pixels_, reveal_})
        w->setVisible(shot != nullptr);
    client_->setVisible(false);
    if (!shot) return;
    name_->setText(QFileInfo(shot->path).fileName());
    const QString summary = shot->meta.summary();
    summary_->setText(summary);
    summary_->setVisible(!summary.isEmpty());
    kelvin_->setText(shot->colorTemperature ? QStringLiteral("%1 K").arg(*shot->colorTemperature)
                                            : QString());
    kelvin_->setVisible(shot->colorTemperature.has_value());
    const bool sized = shot->meta.pixelWidth > 0 && shot->meta.pixelHeight > 0;
    pixels_->setText(
        sized ? QStringLiteral("%1×%2").arg(shot->meta.pixelWidth).arg(shot->meta.pixelHeight)
              : QString());
    pixels_->setVisible(sized);
    // A comment may run to 200 characters: the row shows its start, the tool tip all of it.
    const QString note = shot->clientNoteText();
    client_->setText(client_->fontMetrics().elidedText(note, Qt::ElideRight, 260));
    client_->setToolTip(note);
    client_->setVisible(!note.isEmpty());
}

}  // namespace pexil::shell
