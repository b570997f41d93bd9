#pragma once

#include <QWidget>

#include <optional>

class QLabel;
class QProgressBar;

namespace pexil::shell {

// In place of the card grid while the camera is still listing the card: the card symbol,
// how many pictures have arrived (of how many, once the camera has counted), a progress bar
// when the count is known, and that the list follows when it is complete.
class CardLoadingView final : public QWidget {
    Q_OBJECT
public:
    explicit CardLoadingView(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardLoadingView)

    void setProgress(std::size_t count, std::optional<int> expected);
    QString countText() const;
    QProgressBar* progressBar() const { return bar_; }
    // "12" or "12 / 300".
    static QString countText(std::size_t count, std::optional<int> expected);

private:
    QLabel* count_;
    QProgressBar* bar_;
};

}  // namespace pexil::shell
