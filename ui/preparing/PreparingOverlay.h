#pragma once

#include "ui/theme/FrameClock.h"
#include "ui/theme/FrameDemand.h"

#include <QWidget>

#include <optional>

class QLabel;

namespace pexil::ui {

class ApertureIris;
class FilmFrames;

// The full-window "preparing" overlay: on the background colour, a centred column with the
// breathing aperture iris (148 × 148), the title, the detail (a blank line when there is none,
// so the layout does not jump), twelve running film frames and an optional footer.
//
// While shown it asks its frame clock for every display frame and redraws only the iris and
// the frames; hidden, it asks for nothing. reveal() opens the iris and fades it out over half a
// second; revealFinished() then fires once, and the container may remove the overlay.
class PreparingOverlay final : public QWidget {
    Q_OBJECT
public:
    explicit PreparingOverlay(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(PreparingOverlay)

    void setTitle(const QString& title);
    void setDetail(const std::optional<QString>& detail);
    void setFooter(const std::optional<QString>& footer);
    // The card check: title "カードを確認中", detail "カード内 N 件" when a count is known.
    void setCardCount(std::optional<int> count);

    QString title() const;
    QString detail() const;  // as shown (" " when none)
    std::optional<QString> footer() const;

    // Starts the reveal now (clock time); setReveal(nullopt) takes it back.
    void reveal();
    void setReveal(std::optional<double> at);
    std::optional<double> revealTime() const { return reveal_; }

    void setFrameClock(FrameClock* clock);
    FrameClock* frameClock() const { return clock_; }

    ApertureIris* iris() const { return iris_; }
    FilmFrames* filmFrames() const { return frames_; }

signals:
    void revealFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void onFrame(double now);

    ApertureIris* iris_;
    QLabel* title_;
    QLabel* detail_;
    FilmFrames* frames_;
    QLabel* footer_;
    std::optional<double> reveal_;
    bool revealReported_ = false;
    FrameClock* clock_;
    FrameDemand demand_;
};

}  // namespace pexil::ui
