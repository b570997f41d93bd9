#include "app/shell/main/IntervalDialog.h"

#include "app/shell/main/StartButtons.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>

namespace pexil::shell {

IntervalDialog::IntervalDialog(QWidget* parent)
    : QDialog(parent),
      interval_(new QDoubleSpinBox(this)),
      shots_(new QSpinBox(this)),
      delay_(new QDoubleSpinBox(this)) {
    setWindowTitle(QStringLiteral("インターバル撮影"));
    interval_->setRange(Intervalometer::minInterval, 3600);
    interval_->setDecimals(1);
    interval_->setValue(10);
    interval_->setSuffix(QStringLiteral(" 秒"));
    shots_->setRange(0, Intervalometer::maxShots);
    shots_->setValue(10);
    shots_->setSuffix(QStringLiteral(" 枚"));
    shots_->setSpecialValueText(QStringLiteral("止めるまで"));
    delay_->setRange(0, 3600);
    delay_->setDecimals(0);
    delay_->setSuffix(QStringLiteral(" 秒"));
    auto* form = new QFormLayout(this);
    auto* hint = new QLabel(
        QStringLiteral(
            "決まった間隔で撮り続けます。カメラのバッファがいっぱいのときは空くまで待ちます。"),
        this);
    hint->setWordWrap(true);
    form->addRow(hint);
    form->addRow(QStringLiteral("間隔"), interval_);
    form->addRow(QStringLiteral("枚数"), shots_);
    form->addRow(QStringLiteral("開始まで"), delay_);
    form->addRow(startButtons(this));
}

Intervalometer::Plan IntervalDialog::plan() const {
    return {interval_->value(), shots_->value(), delay_->value()};
}

}  // namespace pexil::shell
