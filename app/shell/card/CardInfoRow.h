#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <optional>

class QLabel;

namespace pexil {
class CardModel;
}

namespace pexil::shell {

// The line under the card browser: the picture shown large, or else the one picture selected
// — its name, capture time, size and marks; without one, how to select, or how many are
// selected.
class CardInfoRow final : public QWidget {
    Q_OBJECT
public:
    explicit CardInfoRow(CardModel& card, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardInfoRow)

    // The texts on show, left to right.
    QStringList shownTexts() const;
    // The id of the picture described, none when the row shows the hint or the count.
    const std::optional<QString>& described() const { return described_; }

private:
    void refresh();

    CardModel& card_;
    std::optional<QString> described_;
    QLabel* name_;
    QLabel* date_;
    QLabel* size_;
    QLabel* mark_;
    QWidget* imported_;
    QWidget* locatable_;
    QLabel* hint_;
};

}  // namespace pexil::shell
