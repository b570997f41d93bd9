#include "app/shell/main/LiveViewBar.h"

#include "app/liveview/LiveViewModel.h"
#include "app/shell/main/LiveViewActions.h"
#include "app/shell/main/TintedLabel.h"
#include "ui/components/ElidedLabel.h"
#include "ui/theme/Theme.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>

namespace pexil::shell {

namespace {

QToolButton* button(QAction* action, QWidget* parent) {
    auto* b = new QToolButton(parent);
    b->setDefaultAction(action);
    b->setAutoRaise(true);
    // The keys reach every button; Tab stays on the picture, the strip and the inspector.
    b->setFocusPolicy(Qt::NoFocus);
    b->setIconSize({16, 16});
    b->setAccessibleName(action->text());
    return b;
}

}  // namespace

LiveViewBar::LiveViewBar(LiveViewModel& live, const LiveViewActions& actions, QWidget* parent)
    : QWidget(parent),
      live_(live),
      actions_(actions),
      focusDrive_(new QWidget(this)),
      stack_(new ui::ElidedLabel(this)) {
    stack_->setFont(ui::Theme::font(11));
    stack_->setStyleSheet(textColourStyle(ui::Theme::dim()));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    for (QAction* action : {actions.peaking(), actions.histogram(), actions.clipping(),
                            actions.nextGuide(), actions.magnify()})
        row->addWidget(button(action, this));
    row->addSpacing(8);
    auto* drive = new QHBoxLayout(focusDrive_);
    drive->setContentsMargins(0, 0, 0, 0);
    drive->setSpacing(0);
    for (int size = 2; size >= 0; --size)
        drive->addWidget(button(actions.drive(true, size), focusDrive_));
    QLabel* mf = tintedLabel(focusDrive_, ui::Theme::font(10, QFont::Bold), ui::Theme::dim());
    mf->setText(QStringLiteral("MF"));
    drive->addWidget(mf);
    for (int size = 0; size <= 2; ++size)
        drive->addWidget(button(actions.drive(false, size), focusDrive_));
    row->addWidget(focusDrive_);
    row->addSpacing(8);
    row->addWidget(stack_, 1);
    connect(&actions, &LiveViewActions::stackTextChanged, this, &LiveViewBar::update);
    for (auto signal : {&LiveViewModel::isLiveChanged, &LiveViewModel::stateChanged})
        connect(&live_, signal, this, &LiveViewBar::update);
    update();
}

void LiveViewBar::update() {
    focusDrive_->setVisible(live_.canDriveFocus());
    stack_->setFullText(actions_.stackText());
    stack_->setVisible(!actions_.stackText().isEmpty());
}

}  // namespace pexil::shell
