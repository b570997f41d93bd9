#pragma once

#include <QLabel>

namespace pexil::ui {

// A one-line label that never widens its column: a text longer than the room it is given
// ends in "…" (or has it in the middle, for names and paths whose both ends say the most)
// and is shown whole in the tool tip.
class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr, Qt::TextElideMode mode = Qt::ElideRight);
    Q_DISABLE_COPY_MOVE(ElidedLabel)

    void setFullText(const QString& text);
    QString fullText() const { return full_; }
    bool isElided() const { return text() != full_; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void elide();

    QString full_;
    Qt::TextElideMode mode_;
};

}  // namespace pexil::ui
