#include "app/liveview/FocusStack.h"

#include "app/liveview/LiveViewModel.h"
#include "kit/async/NextSignal.h"

#include <algorithm>

namespace pexil {

namespace {
// Live view comes back within a second or two after a shot; a body that takes longer has
// failed to restart it.
constexpr double liveViewReturnSeconds = 10;
}  // namespace

FocusStack::FocusStack(LiveViewModel& live, std::function<async::Task<bool>()> shoot,
                       std::function<async::Task<bool>()> autofocus, QObject* parent)
    : QObject(parent),
      live_(live),
      shoot_(std::move(shoot)),
      autofocus_(std::move(autofocus)),
      scope_(live.runtime()) {}

void FocusStack::start(Plan plan) {
    auto whole = [](FocusStack* self, Plan p) -> async::Task<void> {
        const QString summary = co_await self->run(p);
        emit self->finished(summary);
    };
    scope_.spawn(whole(this, plan));
}

async::Task<QString> FocusStack::run(Plan plan) {
    if (running_) co_return QString::fromUtf8("フォーカスシフト撮影はもう動いています。");
    if (live_.state() != NikonLiveView::State::on)
        co_return QString::fromUtf8("フォーカスシフト撮影はライブビュー中に始めてください。");
    if (!live_.canDriveFocus())
        co_return QString::fromUtf8(
            "この機種ではピントを手動で送れないため、フォーカスシフト撮影はできません。");
    running_ = true;
    cancelled_ = false;
    taken_ = 0;
    total_ = std::clamp(plan.shots, 1, maxShots);
    emit progressChanged();
    QString summary = co_await steps(plan);
    running_ = false;
    emit progressChanged();
    co_return summary;
}

async::Task<QString> FocusStack::steps(Plan plan) {
    const auto stopped = [this] {
        return QString::fromUtf8("フォーカスシフト撮影を中止しました（%1 / %2 枚）。")
            .arg(taken_)
            .arg(total_);
    };
    if (plan.autofocusFirst && autofocus_) {
        const bool focused = co_await autofocus_();
        (void)focused;  // a stack that begins out of focus still steps through the scene
    }
    for (;;) {
        if (cancelled_) co_return stopped();
        const bool saved = co_await shoot_();
        if (!saved)
            co_return QString::fromUtf8(
                "フォーカスシフト撮影: %1 枚目を撮れなかったので止めました（%2 / %3 枚）。")
                .arg(taken_ + 1)
                .arg(taken_)
                .arg(total_);
        ++taken_;
        emit progressChanged();
        if (taken_ == total_)
            co_return QString::fromUtf8("フォーカスシフト撮影: %1 枚撮りました。").arg(taken_);
        if (cancelled_) co_return stopped();
        // Shots pause live view; the drive needs it back.
        auto back = [this] { return live_.state() == NikonLiveView::State::on; };
        const bool live = co_await async::until(back, &live_, &LiveViewModel::stateChanged,
                                                async::Seconds(liveViewReturnSeconds));
        if (!live)
            co_return QString::fromUtf8(
                "フォーカスシフト撮影: ライブビューが戻らないので止めました（%1 / %2 枚）。")
                .arg(taken_)
                .arg(total_);
        const auto failure = co_await live_.driveFocus(plan.direction, plan.step);
        if (failure == LiveViewModel::lensEndText())
            co_return QString::fromUtf8(
                "フォーカスシフト撮影: レンズの端に達したので %1 枚で止めました。")
                .arg(taken_);
        if (failure)
            co_return QString::fromUtf8("フォーカスシフト撮影: %1（%2 / %3 枚）")
                .arg(*failure)
                .arg(taken_)
                .arg(total_);
    }
}

}  // namespace pexil
