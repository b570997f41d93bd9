#pragma once

#include "app/doctor/DoctorFinding.h"

#include <QDialog>

#include <functional>
#include <vector>

class QPlainTextEdit;
class QPushButton;

namespace pexil::shell {

// "ヘルプ" → "診断": the device doctor's whole report, as `pexilctl doctor` prints it, in a
// window with a button that copies it (to paste into a bug report or a terminal) and one
// that examines again. One instance, owned by the application.
//
// The examination runs on the main thread once the window is on screen and again on
// "再診断"; it takes as long as the doctor's checks (see DeviceDoctor).
class DiagnosisWindow final : public QDialog {
    Q_OBJECT
public:
    using Examine = std::function<std::vector<DoctorFinding>()>;

    explicit DiagnosisWindow(Examine examine, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DiagnosisWindow)

    // Examines now and shows the report.
    void refresh();
    // The report shown; empty before the first examination.
    QString report() const;

    QPushButton* copyButton() const { return copy_; }
    QPushButton* refreshButton() const { return refresh_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    Examine examine_;
    QPlainTextEdit* text_;
    QPushButton* copy_;
    QPushButton* refresh_;
    QString report_;
    bool examined_ = false;
};

}  // namespace pexil::shell
