#pragma once

#include <QWidget>

#include <cstdint>
#include <optional>

namespace pexil::shell {

// The camera's battery as a glyph by level, dim above 20 % and in the danger colour at 20 %
// and below; the help text gives the range the level stands for.
class BatteryIcon final : public QWidget {
    Q_OBJECT
public:
    explicit BatteryIcon(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(BatteryIcon)

    void setLevel(std::optional<std::int64_t> level);
    std::optional<std::int64_t> level() const { return level_; }
    QColor colour() const;
    QString symbol() const;

    QSize sizeHint() const override { return {22, 18}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<std::int64_t> level_;
};

}  // namespace pexil::shell
