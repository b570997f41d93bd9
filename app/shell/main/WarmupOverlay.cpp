#include "app/shell/main/WarmupOverlay.h"

#include "app/connection/ConnectionModel.h"
#include "app/session/SessionModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/preparing/PreparingOverlay.h"

#include <QVBoxLayout>

namespace pexil::shell {

WarmupOverlay::WarmupOverlay(SessionModel& model, QWidget* parent)
    : QWidget(parent), model_(model), overlay_(new ui::PreparingOverlay(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(overlay_);
    // The footer counts seconds, so the overlay re-reads once a second rather than once a minute.
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &WarmupOverlay::refresh);
    connect(&model_.connection(), &ConnectionModel::warmupChanged, this, &WarmupOverlay::refresh);
    connect(&model_.connection(), &ConnectionModel::stateChanged, this, &WarmupOverlay::refresh);
    refresh();
}

void WarmupOverlay::refresh() {
    const auto& warmup = model_.connection().warmup();
    if (!warmup) {
        tick_.stop();
        return;
    }
    if (!tick_.isActive()) tick_.start();
    overlay_->setTitle(ShellTexts::warmupTitle(*warmup));
    const QDateTime now = model_.runtime().clock().now();
    const double elapsed = model_.connection().warmupSince()
                               ? model_.connection().warmupSince()->msecsTo(now) / 1000.0
                               : 0;
    overlay_->setDetail(ShellTexts::warmupDetail(elapsed));
    overlay_->setFooter(ShellTexts::elapsedText(elapsed));
}

}  // namespace pexil::shell
