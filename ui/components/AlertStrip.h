#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class QLabel;
class QToolButton;

namespace pexil::ui {

class ElidedLabel;

// A strip across the window that says what is wrong, in one line cut with "…" (whole in the
// tool tip), with one button to do something about it; hidden while there is nothing to say.
// The tint tells how grave it is.
class AlertStrip : public QWidget {
    Q_OBJECT
public:
    // `icon` is a symbol name of the glyph icons, drawn in `tint`; the button shows
    // `buttonIcon` with `buttonText` as its tool tip and accessible name.
    AlertStrip(QColor tint, const QString& icon, const QString& buttonIcon,
               const QString& buttonText, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(AlertStrip)

    // Shows the strip with `text`, or hides it.
    void say(const std::optional<QString>& text);
    QString text() const;
    QToolButton* actionButton() const { return button_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor tint_;
    ElidedLabel* text_;
    QToolButton* button_;
};

}  // namespace pexil::ui
