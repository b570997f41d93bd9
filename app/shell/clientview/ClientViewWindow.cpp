#include "app/shell/clientview/ClientViewWindow.h"

#include "app/clientview/ClientView.h"
#include "app/shell/clientview/QrCode.h"
#include "ui/theme/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

namespace pexil::shell {

ClientViewWindow::ClientViewWindow(ClientView& view, QWidget* parent)
    : QDialog(parent),
      view_(view),
      address_(new QComboBox(this)),
      toggle_(new QPushButton(this)),
      downloads_(new QCheckBox(QStringLiteral("元のファイルのダウンロードを許可する"), this)),
      url_(new QLabel(this)),
      code_(new QLabel(this)),
      watchers_(new QLabel(this)),
      problem_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("クライアントビュー"));
    auto* intro = new QLabel(
        QStringLiteral(
            "同じネットワークのタブレットやスマートフォンのブラウザーで、撮った写真を"
            "その場で見てもらえます。お気に入りとコメントはフィルムストリップに届きます。"),
        this);
    intro->setWordWrap(true);
    for (const QHostAddress& address : ClientView::addresses())
        address_->addItem(address.toString(), address.toString());
    address_->setAccessibleName(QStringLiteral("公開するアドレス"));
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(new QLabel(QStringLiteral("アドレス"), this));
    addressRow->addWidget(address_, 1);
    addressRow->addWidget(toggle_);

    url_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    url_->setWordWrap(true);
    url_->setFont(ui::Theme::digitsFont(11));
    code_->setAlignment(Qt::AlignCenter);
    code_->setAccessibleName(QStringLiteral("クライアントビューの QR コード"));
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: %1;").arg(ui::Theme::danger().name()));
    watchers_->setWordWrap(true);

    auto* column = new QVBoxLayout(this);
    column->addWidget(intro);
    column->addLayout(addressRow);
    column->addWidget(problem_);
    column->addWidget(code_);
    column->addWidget(url_);
    column->addWidget(watchers_);
    column->addWidget(downloads_);
    column->addStretch(1);

    connect(toggle_, &QPushButton::clicked, this, &ClientViewWindow::toggle);
    connect(downloads_, &QCheckBox::toggled, this,
            [this](bool on) { view_.setAllowDownloads(on); });
    connect(&view_, &ClientView::runningChanged, this, &ClientViewWindow::update);
    connect(&view_, &ClientView::watchersChanged, this, &ClientViewWindow::update);
    problem_->hide();
    update();
    resize(420, 560);
}

void ClientViewWindow::toggle() {
    problem_->hide();
    if (view_.running()) {
        view_.stop();
        return;
    }
    // Port 0: the system picks a free one; the QR code carries it.
    const auto started = view_.start(QHostAddress(address_->currentData().toString()), 0);
    if (!started) {
        problem_->setText(started.error());
        problem_->show();
    }
    update();
}

void ClientViewWindow::update() {
    const bool on = view_.running();
    toggle_->setText(on ? QStringLiteral("終了") : QStringLiteral("開始"));
    address_->setEnabled(!on);
    url_->setVisible(on);
    code_->setVisible(on);
    watchers_->setVisible(on);
    if (!on) return;
    const QString url = view_.url().toString();
    url_->setText(url);
    code_->setPixmap(QPixmap::fromImage(qrCodeImage(url, 4)));
    const QStringList who = view_.watchers();
    watchers_->setText(who.isEmpty() ? QStringLiteral("まだ誰も見ていません。")
                                     : QStringLiteral("見ている人: %1 人（%2）")
                                           .arg(who.size())
                                           .arg(who.join(QStringLiteral("、"))));
}

QString ClientViewWindow::urlText() const {
    return url_->isHidden() ? QString() : url_->text();
}

QString ClientViewWindow::watchersText() const {
    return watchers_->isHidden() ? QString() : watchers_->text();
}

QString ClientViewWindow::problemText() const {
    return problem_->isHidden() ? QString() : problem_->text();
}

bool ClientViewWindow::showsCode() const {
    return !code_->isHidden() && !code_->pixmap().isNull();
}

}  // namespace pexil::shell
