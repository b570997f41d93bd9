#include "app/shell/card/CardPreviewView.h"

#include "app/shell/main/MarkKeys.h"

#include "app/card/CardModel.h"
#include "app/shell/card/CardSpinner.h"
#include "app/shell/card/CardTexts.h"
#include "ui/components/GlassButton.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QKeyEvent>
#include <QPainter>

namespace pexil::shell {

namespace {
constexpr int margin = 16;

ui::GlassButton* roundButton(QStringView symbol, int size, int iconSize, QWidget* parent) {
    auto* b = new ui::GlassButton(ui::GlassButton::Shape::Circle, parent);
    b->setIcon(ui::GlyphIconEngine::icon(symbol, ui::Theme::text()));
    b->setIconSize({iconSize, iconSize});
    b->setFixedSize(size, size);
    return b;
}
}  // namespace

CardPreviewView::CardPreviewView(CardModel& card, QWidget* parent)
    : QWidget(parent),
      card_(card),
      previous_(roundButton(u"chevron.left", 40, 22, this)),
      next_(roundButton(u"chevron.right", 40, 22, this)),
      close_(roundButton(u"xmark", 32, 16, this)),
      spinner_(new CardSpinner(28, this)) {
    // Keyboard focus without a ring: nothing here draws one.
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    close_->setToolTip(CardTexts::closeHelp());
    previous_->setAccessibleName(QStringLiteral("前へ"));
    next_->setAccessibleName(QStringLiteral("次へ"));
    close_->setAccessibleName(CardTexts::closeHelp());
    connect(previous_, &ui::GlassButton::clicked, &card_, [this] { card_.step(-1); });
    connect(next_, &ui::GlassButton::clicked, &card_, [this] { card_.step(+1); });
    connect(close_, &ui::GlassButton::clicked, &card_, &CardModel::close);
    for (auto signal :
         {&CardModel::focusChanged, &CardModel::previewChanged, &CardModel::itemsChanged})
        connect(&card_, signal, this, &CardPreviewView::refresh);
    refresh();
}

QRect CardPreviewView::imageRect() const {
    if (fitted_.isNull()) return {};
    const QSize size = fitted_.deviceIndependentSize().toSize();
    return {QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size};
}

void CardPreviewView::refresh() {
    const auto& focus = card_.focus();
    const auto at = focus ? card_.indexOf(*focus) : std::nullopt;
    previous_->setVisible(at && *at > 0);
    next_->setVisible(at && *at + 1 < card_.items().size());
    const QImage& preview = card_.preview();
    spinner_->setVisible(preview.isNull());
    if (preview.isNull()) {
        fitted_ = QPixmap();
    } else {
        const qreal dpr = devicePixelRatioF();
        const QSize area =
            (rect().marginsRemoved(QMargins(margin, margin, margin, margin)).size() * dpr);
        // Scaled once per picture and size; painting only copies. Never enlarged.
        const QSize target =
            preview.size().scaled(area, Qt::KeepAspectRatio).boundedTo(preview.size());
        fitted_ = QPixmap::fromImage(
            preview.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
        fitted_.setDevicePixelRatio(dpr);
    }
    place();
    QWidget::update();
}

void CardPreviewView::place() {
    const int middle = height() / 2;
    previous_->move(margin, middle - previous_->height() / 2);
    next_->move(width() - margin - next_->width(), middle - next_->height() / 2);
    close_->move(width() - 12 - close_->width(), 12);
    spinner_->move((width() - spinner_->width()) / 2, middle - spinner_->height() / 2);
}

void CardPreviewView::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(event->rect(), ui::Theme::background());
    if (!fitted_.isNull()) p.drawPixmap(imageRect().topLeft(), fitted_);
}

void CardPreviewView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    refresh();
}

void CardPreviewView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            card_.step(-1);
            break;
        case Qt::Key_Right:
            card_.step(+1);
            break;
        case Qt::Key_Escape:
            card_.close();
            break;
        default: {
            // Marks go beside the copy this run imported; a picture still only on the card
            // has nowhere to keep them.
            const auto mark = card_.focus() ? markForKey(event->key(), card_.markOf(*card_.focus()))
                                            : std::nullopt;
            if (!mark || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
                return QWidget::keyPressEvent(event);
            card_.mark(*card_.focus(), *mark);
            break;
        }
    }
    event->accept();
}

void CardPreviewView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    setFocus(Qt::OtherFocusReason);
}

}  // namespace pexil::shell
