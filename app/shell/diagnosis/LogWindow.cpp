#include "app/shell/diagnosis/LogWindow.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace pexil::shell {

namespace {
// The end of a long log is what a photographer hands over; its beginning can stay on disk.
constexpr qint64 shownBytes = 4 * 1024 * 1024;
}  // namespace

LogWindow::LogWindow(QString path, QWidget* parent)
    : QDialog(parent), path_(std::move(path)), text_(new QPlainTextEdit(this)), watcher_(new QFileSystemWatcher(this)) {
    setWindowTitle(QStringLiteral("診断ログ"));
    resize(820, 520);
    auto* column = new QVBoxLayout(this);
    text_->setReadOnly(true);
    text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text_->setAccessibleName(QStringLiteral("診断ログ"));
    column->addWidget(text_, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("閉じる"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    column->addWidget(buttons);
    // The log is written by opening, appending and closing: the file and its folder both
    // tell of a change, and the file may appear only later.
    watcher_->addPath(path_);
    watcher_->addPath(QFileInfo(path_).absolutePath());
    connect(watcher_, &QFileSystemWatcher::fileChanged, this, &LogWindow::reload);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, this, &LogWindow::reload);
    reload();
}

QString LogWindow::text() const { return text_->toPlainText(); }

void LogWindow::reload() {
    if (!watcher_->files().contains(path_) && QFileInfo::exists(path_)) watcher_->addPath(path_);
    QFile file(path_);
    QString shown = QStringLiteral("（まだ何も書かれていません）");
    if (file.open(QIODevice::ReadOnly)) {
        if (file.size() > shownBytes) file.seek(file.size() - shownBytes);
        shown = QString::fromUtf8(file.readAll());
    }
    if (shown == text_->toPlainText()) return;
    QScrollBar* bar = text_->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum() - 2;
    const int kept = bar->value();
    text_->setPlainText(shown);
    bar->setValue(atEnd ? bar->maximum() : kept);
}

}  // namespace pexil::shell
