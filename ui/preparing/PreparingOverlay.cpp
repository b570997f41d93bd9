#include "ui/preparing/PreparingOverlay.h"

#include "ui/preparing/ApertureIris.h"
#include "ui/preparing/FilmFrames.h"
#include "ui/theme/Theme.h"

#include <QLabel>
#include <QPaintEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace pexil::ui {

namespace {
QLabel* label(QWidget* parent, const QFont& font, const QColor& color) {
    auto* l = new QLabel(parent);  // owned by parent
    l->setFont(font);
    l->setAlignment(Qt::AlignCenter);
    QPalette p = l->palette();
    p.setColor(QPalette::WindowText, color);
    l->setPalette(p);
    return l;
}
}  // namespace

PreparingOverlay::PreparingOverlay(QWidget* parent)
    : QWidget(parent),
      iris_(new ApertureIris(this)),
      title_(label(this, Theme::font(18, QFont::DemiBold), Theme::text())),
      detail_(label(this, Theme::digitsFont(13), Theme::dim())),
      frames_(new FilmFrames(12, Theme::overlayAmber(), this)),
      footer_(label(this, Theme::digitsFont(12), Theme::dimmer())),
      clock_(new FrameClock(FrameClock::Mode::Real, this)) {
    detail_->setContentsMargins(24, 0, 24, 0);
    detail_->setWordWrap(true);
    detail_->setText(QStringLiteral(" "));
    footer_->hide();

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addStretch(1);
    column->addWidget(iris_, 0, Qt::AlignHCenter);
    column->addSpacing(34);
    column->addWidget(title_);
    column->addSpacing(6);
    column->addWidget(detail_);
    column->addSpacing(22);
    column->addWidget(frames_, 0, Qt::AlignHCenter);
    column->addSpacing(14);
    column->addWidget(footer_);
    column->addStretch(1);
    setFrameClock(clock_);
}

void PreparingOverlay::setFrameClock(FrameClock* clock) {
    if (clock_) disconnect(clock_, &FrameClock::frame, this, nullptr);
    clock_ = clock;
    demand_.setClock(clock);
    connect(clock_, &FrameClock::frame, this, &PreparingOverlay::onFrame);
    onFrame(clock_->now());
}

void PreparingOverlay::setTitle(const QString& title) { title_->setText(title); }
QString PreparingOverlay::title() const { return title_->text(); }
QString PreparingOverlay::detail() const { return detail_->text(); }

void PreparingOverlay::setDetail(const std::optional<QString>& detail) {
    detail_->setText(detail && !detail->isEmpty() ? *detail : QStringLiteral(" "));
}

void PreparingOverlay::setFooter(const std::optional<QString>& footer) {
    footer_->setText(footer.value_or(QString()));
    footer_->setVisible(footer.has_value());
}

std::optional<QString> PreparingOverlay::footer() const {
    if (footer_->isHidden()) return std::nullopt;
    return footer_->text();
}

void PreparingOverlay::setCardCount(std::optional<int> count) {
    setTitle(QStringLiteral("カードを確認中"));
    setDetail(count ? std::optional(QStringLiteral("カード内 %1 件").arg(*count)) : std::nullopt);
    setFooter(std::nullopt);
}

void PreparingOverlay::reveal() { setReveal(clock_->now()); }

void PreparingOverlay::setReveal(std::optional<double> at) {
    reveal_ = at;
    revealReported_ = false;
    iris_->setReveal(at);
}

void PreparingOverlay::showEvent(QShowEvent* event) {
    demand_.set(true);
    onFrame(clock_->now());
    QWidget::showEvent(event);
}

void PreparingOverlay::hideEvent(QHideEvent* event) {
    demand_.set(false);
    QWidget::hideEvent(event);
}

void PreparingOverlay::onFrame(double now) {
    if (!demand_.isHeld()) return;
    // Each child repaints only its own rectangle; the labels stay as they are.
    iris_->setTime(now);
    frames_->setTime(now);
    if (reveal_ && !revealReported_ && ApertureIris::stateAt(now, reveal_).opacity <= 0) {
        revealReported_ = true;
        emit revealFinished();
    }
}

void PreparingOverlay::paintEvent(QPaintEvent* event) {
    QPainter(this).fillRect(event->rect(), Theme::background());
}

}  // namespace pexil::ui
