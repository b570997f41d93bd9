#include "app/shell/main/FocusStackDialog.h"

#include "app/shell/main/StartButtons.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>

namespace pexil::shell {

FocusStackDialog::FocusStackDialog(QWidget* parent)
    : QDialog(parent),
      shots_(new QSpinBox(this)),
      step_(new QSpinBox(this)),
      direction_(new QComboBox(this)),
      autofocus_(new QCheckBox(QStringLiteral("最初に AF を実行"), this)) {
    setWindowTitle(QStringLiteral("フォーカスシフト撮影"));
    shots_->setRange(2, FocusStack::maxShots);
    shots_->setValue(5);
    shots_->setSuffix(QStringLiteral(" 枚"));
    step_->setRange(1, 32767);
    step_->setValue(100);
    step_->setSuffix(QStringLiteral(" ステップ"));
    direction_->addItem(QStringLiteral("遠くへ"));
    direction_->addItem(QStringLiteral("近くへ"));
    auto* form = new QFormLayout(this);
    auto* hint = new QLabel(
        QStringLiteral("ライブビューの今のピント位置から、1 枚ごとにレンズを送って撮ります。"
                       "レンズの端に達するか Esc で止まります。"),
        this);
    hint->setWordWrap(true);
    form->addRow(hint);
    form->addRow(QStringLiteral("枚数"), shots_);
    form->addRow(QStringLiteral("送り量"), step_);
    form->addRow(QStringLiteral("向き"), direction_);
    form->addRow(autofocus_);
    form->addRow(startButtons(this));
}

FocusStack::Plan FocusStackDialog::plan() const {
    FocusStack::Plan plan;
    plan.shots = shots_->value();
    plan.step = step_->value();
    plan.direction = direction_->currentIndex() == 0 ? PTPCamera::FocusDirection::far
                                                     : PTPCamera::FocusDirection::near;
    plan.autofocusFirst = autofocus_->isChecked();
    return plan;
}

}  // namespace pexil::shell
