#pragma once

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace pexil {
class ClientView;
}

namespace pexil::shell {

// Turns the client view on and off and shows who is watching: the address to serve on (this
// computer's network addresses), 開始 / 終了, the view's URL with its QR code to scan, the
// clients watching (count and addresses) and whether they may download the original files.
// Closing the window leaves the view as it is; 終了 ends it at once.
class ClientViewWindow final : public QDialog {
    Q_OBJECT
public:
    explicit ClientViewWindow(ClientView& view, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ClientViewWindow)

    QComboBox* addressBox() const { return address_; }
    QPushButton* toggleButton() const { return toggle_; }
    QCheckBox* downloadsBox() const { return downloads_; }
    // What the window says now, for tests and screen readers.
    QString urlText() const;
    QString watchersText() const;
    QString problemText() const;
    bool showsCode() const;

private:
    void toggle();
    void update();

    ClientView& view_;
    QComboBox* address_;
    QPushButton* toggle_;
    QCheckBox* downloads_;
    QLabel* url_;
    QLabel* code_;
    QLabel* watchers_;
    QLabel* problem_;
};

}  // namespace pexil::shell
