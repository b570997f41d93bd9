#include "app/shell/CameraWaitView.h"

#include "app/session/SessionModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QLabel>
#include <QVBoxLayout>

namespace pexil::shell {

CameraWaitView::CameraWaitView(SessionModel& model, QWidget* parent)
    : QWidget(parent), model_(model), title_(new QLabel(this)), detail_(new QLabel(this)), note_(new QLabel(this)) {
    setAutoFillBackground(true);
    auto* column = new QVBoxLayout(this);
    column->setSpacing(10);
    column->addStretch(1);
    auto* symbol = new QLabel(this);
    symbol->setPixmap(ui::GlyphIconEngine::icon(u"cable.connector.horizontal", ui::Theme::dim()).pixmap(44, 44));
    symbol->setAlignment(Qt::AlignCenter);
    column->addWidget(symbol);
    title_->setText(QStringLiteral("カメラを待っています"));
    title_->setFont(ui::Theme::font(18, QFont::DemiBold));
    detail_->setText(*ShellTexts::menuDetail(ConnectionState::waiting()));
    detail_->setFont(ui::Theme::font(13));
    detail_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    note_->setFont(ui::Theme::font(12));
    note_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dimmer().name()));
    for (QLabel* l : {title_, detail_, note_}) {
        l->setAlignment(Qt::AlignCenter);
        l->setWordWrap(true);
        column->addWidget(l);
    }
    column->addStretch(1);
    connect(&model_, &SessionModel::stateChanged, this, &CameraWaitView::update);
    update();
}

QStringList CameraWaitView::texts() const {
    QStringList out{title_->text(), detail_->text()};
    if (!note_->isHidden()) out << note_->text();
    return out;
}

void CameraWaitView::update() {
    const auto& state = model_.state();
    const auto note = state.is(ConnectionState::Kind::waiting) ? state.text : std::nullopt;
    note_->setText(note.value_or(QString()));
    note_->setVisible(note.has_value() && !note->isEmpty());
}

}  // namespace pexil::shell
