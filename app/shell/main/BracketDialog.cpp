#include "app/shell/main/BracketDialog.h"

#include "app/shell/main/StartButtons.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>

namespace pexil::shell {

BracketDialog::BracketDialog(const Descriptors& props, QWidget* parent)
    : QDialog(parent),
      props_(props),
      shots_(new QComboBox(this)),
      step_(new QComboBox(this)),
      outline_(new QLabel(this)) {
    setWindowTitle(QStringLiteral("露出ブラケット撮影"));
    for (int n = 3; n <= ExposureBracket::maxShots; n += 2)
        shots_->addItem(QStringLiteral("%1 枚").arg(n), n);
    step_->addItem(QStringLiteral("1/3 段"), 1.0 / 3);
    step_->addItem(QStringLiteral("1/2 段"), 0.5);
    step_->addItem(QStringLiteral("1 段"), 1.0);
    auto* form = new QFormLayout(this);
    auto* hint = new QLabel(
        QStringLiteral("今の露出を中心に、アンダーとオーバーを順に撮ります。"
                       "マニュアル露出ではシャッタースピードを、ほかのモードでは露出補正を変え、"
                       "終わったら元に戻します。"),
        this);
    hint->setWordWrap(true);
    outline_->setWordWrap(true);
    form->addRow(hint);
    form->addRow(QStringLiteral("枚数"), shots_);
    form->addRow(QStringLiteral("刻み"), step_);
    form->addRow(outline_);
    form->addRow(startButtons(this));
    for (QComboBox* box : {shots_, step_})
        connect(box, &QComboBox::currentIndexChanged, this, &BracketDialog::update);
    update();
}

ExposureBracket::Plan BracketDialog::plan() const {
    return {shots_->currentData().toInt(), step_->currentData().toDouble()};
}

void BracketDialog::update() {
    // What the bracket would set, so that a camera that cannot follow is told before it starts.
    const auto resolved = ExposureBracket::resolve(props_, plan());
    QString text;
    if (resolved) {
        QStringList values;
        for (const auto& step : resolved.value().steps) values << step.text;
        text = QStringLiteral("撮る順: ") + values.join(QStringLiteral(" → "));
    } else {
        text = resolved.error();
    }
    outline_->setText(text);
    if (auto* box = findChild<QDialogButtonBox*>())
        box->button(QDialogButtonBox::Ok)->setEnabled(resolved.ok());
}

}  // namespace pexil::shell
