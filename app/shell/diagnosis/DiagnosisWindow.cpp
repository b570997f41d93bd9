#include "app/shell/diagnosis/DiagnosisWindow.h"

#include <QClipboard>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace pexil::shell {

DiagnosisWindow::DiagnosisWindow(Examine examine, QWidget* parent)
    : QDialog(parent),
      examine_(std::move(examine)),
      text_(new QPlainTextEdit(this)),
      copy_(new QPushButton(QStringLiteral("コピー"), this)),
      refresh_(new QPushButton(QStringLiteral("再診断"), this)) {
    setWindowTitle(QStringLiteral("診断"));
    resize(760, 460);
    auto* column = new QVBoxLayout(this);
    auto* intro = new QLabel(
        QStringLiteral(
            "カメラが Pexil に届くまでに要るものを調べた結果です（pexilctl doctor と同じ）。"
            "問題の下の「直し方:」の行が、それを直すコマンドです。"),
        this);
    intro->setWordWrap(true);
    column->addWidget(intro);
    text_->setReadOnly(true);
    text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setPlainText(QStringLiteral("調べています…"));
    column->addWidget(text_, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->addButton(copy_, QDialogButtonBox::ActionRole);
    buttons->addButton(refresh_, QDialogButtonBox::ActionRole);
    column->addWidget(buttons);
    copy_->setEnabled(false);
    // Enter closes the window; copying is asked for by name.
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    buttons->button(QDialogButtonBox::Close)->setDefault(true);
    for (QPushButton* button : {copy_, refresh_}) button->setAutoDefault(false);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(copy_, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(report_); });
    connect(refresh_, &QPushButton::clicked, this, &DiagnosisWindow::refresh);
}

void DiagnosisWindow::refresh() {
    examined_ = true;
    report_ = formatReportForPeople(examine_());
    text_->setPlainText(report_);
    copy_->setEnabled(!report_.isEmpty());
}

QString DiagnosisWindow::report() const {
    return report_;
}

void DiagnosisWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // After the window is painted with its placeholder, so it does not appear late.
    if (!examined_)
        QTimer::singleShot(0, this, [this] {
            if (!examined_) refresh();
        });
}

}  // namespace pexil::shell
