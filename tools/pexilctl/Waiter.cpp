#include "tools/pexilctl/Waiter.h"

#include "kit/async/NextSignal.h"
#include "tools/pexilctl/StopSignals.h"

namespace pexil::cli {

Waiter::Waiter(const StopSignals* stop) : stop_(stop) {
    if (!stop_ || stop_->fd() < 0) return;
    notifier_ = std::make_unique<QSocketNotifier>(stop_->fd(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        // Read, so that the notifier falls quiet until the next signal.
        stop_->drain();
        stopRequested_ = true;
        emit changed();
    });
}

async::Task<bool> Waiter::until(std::function<bool()> done, double seconds) {
    const async::Seconds limit = seconds < 0 ? async::noTimeLimit : async::Seconds(seconds);
    // Named first: g++ 12 destroys a capturing lambda written inside co_await twice.
    std::function<bool()> over = [this, &done] { return done() || stopRequested_; };
    co_await async::until(std::move(over), this, &Waiter::changed, limit);
    co_return done();
}

async::Task<bool> Waiter::pause(double seconds) {
    std::function<bool()> never = [] { return false; };
    co_await until(std::move(never), seconds);
    co_return stopRequested_;
}

}  // namespace pexil::cli
