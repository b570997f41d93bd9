#pragma once

#include <QWidget>

class QCheckBox;
class QHBoxLayout;
class QLabel;
class QProgressBar;
class QPushButton;

namespace pexil {
class CardModel;
class GeoStore;
class ConnectionModel;
class ShotsModel;
}  // namespace pexil

namespace pexil::ui {
class ElidedLabel;
}  // namespace pexil::ui

namespace pexil::shell {

class CardSpinner;
class SourceToggle;

// The bar under the card browser: the source switch; the status line (import progress, the
// position writing, the last import's summary, the listing, or the card's counts) above the
// geo line (the received record and whether to write it while importing); then the buttons
// that import the selected pictures and all pictures not imported yet.
class CardActionBar final : public QWidget {
    Q_OBJECT
public:
    static constexpr int barHeight = 84;

    CardActionBar(ConnectionModel& connection, ShotsModel& shots, CardModel& card, GeoStore& geo,
                  QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(CardActionBar)

    enum class Status { downloading, geotagging, summary, loading, counts };
    Status status() const { return status_; }
    QString statusText() const;
    QString geoText() const;
    QString geoHelp() const;

    SourceToggle* sourceToggle() const { return source_; }
    QPushButton* importSelectedButton() const { return importSelected_; }
    QPushButton* importAllButton() const { return importAll_; }
    QPushButton* cancelButton() const { return cancel_; }
    QPushButton* resumeButton() const { return resume_; }
    QProgressBar* progressBar() const { return progress_; }
    CardSpinner* geotagSpinner() const { return spinner_; }
    QLabel* summaryMark() const { return summaryMark_; }
    QCheckBox* writeLocationsBox() const { return writeLocations_; }
    ui::ElidedLabel* geoLabel() const { return geoLabel_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    void refreshGeo();
    // Greys or hides a button; one that had the keyboard gives it back to the grid.
    void enable(QPushButton* button, bool on);
    void place(QPushButton* button, bool shown);

    CardModel& card_;
    GeoStore& geo_;
    Status status_ = Status::counts;
    SourceToggle* source_;
    QProgressBar* progress_;
    CardSpinner* spinner_;
    QLabel* summaryMark_;
    bool summaryWarns_ = false;  // the mark shown is the warning
    ui::ElidedLabel* statusLabel_;
    QLabel* geoIcon_;
    ui::ElidedLabel* geoLabel_;
    QString geoHelp_;
    QCheckBox* writeLocations_;
    QPushButton* importSelected_;
    QPushButton* importAll_;
    QPushButton* cancel_;
    QPushButton* resume_;
    QHBoxLayout* geoLine_;
};

}  // namespace pexil::shell
