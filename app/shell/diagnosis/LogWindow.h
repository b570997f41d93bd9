#pragma once

#include <QDialog>
#include <QString>

class QFileSystemWatcher;
class QPlainTextEdit;

namespace pexil::shell {

// The diagnostic log inside the application, for desktops with no viewer for text files:
// read-only, following the file as lines are added (the end stays in view when it was).
class LogWindow final : public QDialog {
    Q_OBJECT
public:
    explicit LogWindow(QString path, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(LogWindow)

    QString text() const;
    // Reads the file again; called when it changes.
    void reload();

private:
    QString path_;
    QPlainTextEdit* text_;
    QFileSystemWatcher* watcher_;
};

}  // namespace pexil::shell
