#include "app/shell/main/SourceToggle.h"

#include "app/card/CardModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/shell/card/CardTexts.h"
#include "app/shots/ShotsModel.h"
#include "ui/components/SegmentedControl.h"

#include <QHBoxLayout>

namespace pexil::shell {

SourceToggle::SourceToggle(ConnectionModel& connection, ShotsModel& shots, CardModel& card,
                           QWidget* parent)
    : QWidget(parent),
      connection_(connection),
      shots_(shots),
      card_(card),
      control_(new ui::SegmentedControl(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(control_);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    control_->addSegment(QString());
    control_->addSegment(QString());
    control_->setAccessibleName(QStringLiteral("表示するもの"));
    connect(control_, &ui::SegmentedControl::activated, &card_,
            [this](int index) { card_.setActive(index == 1); });
    connect(&connection_, &ConnectionModel::stateChanged, this, &SourceToggle::refresh);
    connect(&shots_, &ShotsModel::shotsChanged, this, &SourceToggle::refresh);
    for (auto signal :
         {&CardModel::activeChanged, &CardModel::itemsChanged, &CardModel::loadingChanged})
        connect(&card_, signal, this, &SourceToggle::refresh);
    refresh();
}

QString SourceToggle::tetherText() const {
    return control_->segmentText(0);
}

QString SourceToggle::cardText() const {
    return control_->segmentText(1);
}

void SourceToggle::refresh() {
    control_->setSegmentText(0, CardTexts::tetherLabel(shots_.list().size()));
    control_->setSegmentText(1, CardTexts::cardLabel(card_.loading(), card_.items().size()));
    control_->setCurrentIndex(card_.active() ? 1 : 0);
    setEnabled(connection_.state().is(ConnectionState::Kind::connected) || card_.active());
    updateGeometry();
}

}  // namespace pexil::shell
