#include "app/shell/main/WarmupOverlay.h"

#include "app/connection/ConnectionModel.h"
#include "app/shell/ShellTexts.h"
#include "ui/preparing/PreparingOverlay.h"

#include <QVBoxLayout>

namespace pexil::shell {

WarmupOverlay::WarmupOverlay(ConnectionModel& connection, QWidget* parent)
    : QWidget(parent), connection_(connection), overlay_(new ui::PreparingOverlay(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(overlay_);
    // The footer counts seconds, so the overlay re-reads once a second rather than once a minute.
    tick_.setInterval(1000);
    connect(&tick_, &QTimer::timeout, this, &WarmupOverlay::refresh);
    connect(&connection_, &ConnectionModel::warmupChanged, this, &WarmupOverlay::refresh);
    connect(&connection_, &ConnectionModel::stateChanged, this, &WarmupOverlay::refresh);
    refresh();
}

void WarmupOverlay::refresh() {
    const auto& warmup = connection_.warmup();
    if (!warmup) {
        tick_.stop();
        return;
    }
    if (!tick_.isActive()) tick_.start();
    overlay_->setTitle(ShellTexts::warmupTitle(*warmup));
    const QDateTime now = connection_.clock().now();
    const double elapsed =
        connection_.warmupSince() ? connection_.warmupSince()->msecsTo(now) / 1000.0 : 0;
    overlay_->setDetail(ShellTexts::warmupDetail(elapsed));
    overlay_->setFooter(ShellTexts::elapsedText(elapsed));
}

}  // namespace pexil::shell
