#include "app/shell/main/CameraWaitView.h"

#include "app/connection/ConnectionModel.h"
#include "app/doctor/CameraTrouble.h"
#include "app/shell/ShellTexts.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace pexil::shell {

CameraWaitView::CameraWaitView(ConnectionModel& connection, QWidget* parent)
    : QWidget(parent),
      connection_(connection),
      title_(new QLabel(this)),
      detail_(new QLabel(this)),
      note_(new QLabel(this)),
      fixRow_(new QWidget(this)),
      fix_(new QLineEdit(fixRow_)),
      copy_(new QPushButton(QStringLiteral("コピー"), fixRow_)),
      retry_(new QPushButton(QStringLiteral("再試行"), this)) {
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
    // The fix is a command to paste into a terminal: one line, selectable, and a button that
    // copies all of it.
    fix_->setReadOnly(true);
    fix_->setFont(QFont(QStringLiteral("monospace")));
    fix_->setMinimumWidth(520);
    fix_->setAccessibleName(QStringLiteral("修正コマンド"));
    auto* row = new QHBoxLayout(fixRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
    row->addWidget(fix_, 4);
    row->addWidget(copy_);
    row->addStretch(1);
    column->addWidget(fixRow_);
    column->addWidget(retry_, 0, Qt::AlignCenter);
    connect(copy_, &QPushButton::clicked, this, [this] { QGuiApplication::clipboard()->setText(fix_->text()); });
    connect(retry_, &QPushButton::clicked, &connection_, &ConnectionModel::connectCamera);
    column->addStretch(1);
    connect(&connection_, &ConnectionModel::stateChanged, this, &CameraWaitView::update);
    connect(&connection_, &ConnectionModel::reconnectAtChanged, this, &CameraWaitView::update);
    update();
}

QStringList CameraWaitView::texts() const {
    QStringList out{title_->text(), detail_->text()};
    if (!note_->isHidden()) out << note_->text();
    return out;
}

void CameraWaitView::setTrouble(CameraTrouble* trouble) {
    if (trouble_) disconnect(trouble_, nullptr, this, nullptr);
    trouble_ = trouble;
    if (trouble_) connect(trouble_, &CameraTrouble::changed, this, &CameraWaitView::update);
    update();
}

bool CameraWaitView::showsFinding() const { return trouble_ && trouble_->finding(); }

QString CameraWaitView::fixText() const { return fixRow_->isHidden() ? QString() : fix_->text(); }

void CameraWaitView::update() {
    const auto& state = connection_.state();
    if (showsFinding()) {
        const DoctorFinding& finding = *trouble_->finding();
        title_->setText(QStringLiteral("カメラを開けません"));
        detail_->setText(finding.text);
        note_->setText(QStringLiteral("次のコマンドで直してから、再試行してください"));
        note_->setVisible(!finding.fix.isEmpty());
        fix_->setText(finding.fix);
        fix_->setCursorPosition(0);
        fixRow_->setVisible(!finding.fix.isEmpty());
        retry_->setText(QStringLiteral("再試行"));
        retry_->setVisible(true);
        return;
    }
    title_->setText(QStringLiteral("カメラを待っています"));
    fixRow_->setVisible(false);
    if (const auto& next = connection_.reconnectAt()) {
        // A camera on the network comes back by itself: say when it is tried next.
        detail_->setText(ShellTexts::reconnectAt(*next));
        retry_->setText(QStringLiteral("今すぐ再接続"));
        retry_->setVisible(true);
    } else {
        detail_->setText(*ShellTexts::menuDetail(ConnectionState::waiting()));
        retry_->setVisible(false);
    }
    const auto note = state.is(ConnectionState::Kind::waiting) ? state.text : std::nullopt;
    note_->setText(note.value_or(QString()));
    note_->setVisible(note.has_value() && !note->isEmpty());
}

}  // namespace pexil::shell
