#pragma once

#include <QPixmap>
#include <QWidget>

namespace pexil {
class CardModel;
namespace ui {
class GlassButton;
}
}  // namespace pexil

namespace pexil::shell {

class CardSpinner;

// The focused card picture large: the preview fitted to the view (or a spinner while it
// loads), round chevron buttons at the sides where there is a picture before or after, and a
// close button back to the grid. Takes the keyboard when shown: Left and Right step through
// the card, Escape closes, and on a picture imported in this run the marking keys (0–5, P,
// X) mark it as in the filmstrip.
class CardPreviewView final : public QWidget {
    Q_OBJECT
public:
    explicit CardPreviewView(CardModel& card, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardPreviewView)

    ui::GlassButton* previousButton() const { return previous_; }
    ui::GlassButton* nextButton() const { return next_; }
    ui::GlassButton* closeButton() const { return close_; }
    CardSpinner* spinner() const { return spinner_; }
    // Where the picture is drawn; empty while there is none.
    QRect imageRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void place();

    CardModel& card_;
    ui::GlassButton* previous_;
    ui::GlassButton* next_;
    ui::GlassButton* close_;
    CardSpinner* spinner_;
    QPixmap fitted_;  // the preview scaled once to the view
};

}  // namespace pexil::shell
