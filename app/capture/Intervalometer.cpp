#include "app/capture/Intervalometer.h"

#include "app/capture/SeriesBuffer.h"
#include "kit/async/NextSignal.h"

namespace pexil {

Intervalometer::Intervalometer(async::Runtime& runtime, std::function<async::Task<bool>()> shoot,
                               std::function<bool()> bufferFull, QObject* parent)
    : QObject(parent),
      runtime_(runtime),
      shoot_(std::move(shoot)),
      bufferFull_(std::move(bufferFull)),
      scope_(runtime) {}

std::optional<QString> Intervalometer::check(const Plan& plan) {
    if (!(plan.interval >= minInterval) || plan.interval > 24 * 3600)
        return QString::fromUtf8("撮影間隔は %1 秒から 24 時間までにしてください").arg(minInterval);
    if (plan.shots < 0 || plan.shots > maxShots)
        return QString::fromUtf8("枚数は 1〜%1 枚（0 は止めるまで）にしてください").arg(maxShots);
    if (!(plan.delay >= 0) || plan.delay > 24 * 3600)
        return QString::fromUtf8("開始までの時間は 0 秒から 24 時間までにしてください");
    return std::nullopt;
}

void Intervalometer::start(Plan plan) {
    auto whole = [](Intervalometer* self, Plan p) -> async::Task<void> {
        const QString summary = co_await self->run(p);
        emit self->finished(summary);
    };
    scope_.spawn(whole(this, plan));
}

void Intervalometer::cancel() {
    if (!running_) return;
    cancelled_ = true;
    // Wakes a wait for the buffer; a sleep until the next release is cut short below.
    emit bufferMayHaveChanged();
    emit cancelRequested();
}

async::Task<QString> Intervalometer::run(Plan plan) {
    if (running_) co_return QString::fromUtf8("インターバル撮影はもう動いています。");
    if (auto problem = check(plan)) co_return *problem;
    running_ = true;
    cancelled_ = false;
    taken_ = 0;
    total_ = plan.shots;
    emit progressChanged();
    QString summary = co_await series(plan);
    running_ = false;
    setNext(std::nullopt, false);
    co_return summary;
}

async::Task<QString> Intervalometer::series(Plan plan) {
    async::Clock& clock = runtime_.clock();
    const double first = clock.monotonic().count() + plan.delay;
    const auto stopped = [this] {
        return total_ > 0
                   ? QString::fromUtf8("インターバル撮影を止めました（%1 / %2 枚）。")
                         .arg(taken_)
                         .arg(total_)
                   : QString::fromUtf8("インターバル撮影を止めました（%1 枚）。").arg(taken_);
    };
    for (int n = 0; total_ == 0 || n < total_; ++n) {
        const double due = first + n * plan.interval;
        for (;;) {
            const double left = due - clock.monotonic().count();
            if (cancelled_) co_return stopped();
            if (left <= 0) break;
            setNext(clock.now().addMSecs(static_cast<qint64>(left * 1000)), false);
            // Woken early by cancel(): the loop looks again.
            auto asked = co_await async::NextSignal(this, &Intervalometer::cancelRequested,
                                                    async::Seconds(left));
            (void)asked;
        }
        if (bufferFull_ && bufferFull_()) {
            setNext(std::nullopt, true);
            auto room = [this] { return cancelled_ || !bufferFull_(); };
            const bool free =
                co_await async::until(room, this, &Intervalometer::bufferMayHaveChanged,
                                      async::Seconds(seriesBufferWaitSeconds));
            if (cancelled_) co_return stopped();
            if (!free)
                co_return QString::fromUtf8(
                    "インターバル撮影: カメラのバッファが空かないので止めました（%1 枚）。")
                    .arg(taken_);
        }
        setNext(std::nullopt, false);
        const QDateTime at = clock.now();
        const bool saved = co_await shoot_();
        if (!saved)
            co_return QString::fromUtf8(
                "インターバル撮影: %1 枚目を撮れなかったので止めました（%2 枚撮影）。")
                .arg(n + 1)
                .arg(taken_);
        ++taken_;
        emit shotTaken(taken_, at);
        emit progressChanged();
    }
    co_return QString::fromUtf8("インターバル撮影: %1 枚撮りました。").arg(taken_);
}

void Intervalometer::setNext(std::optional<QDateTime> at, bool waitingForBuffer) {
    if (nextAt_ == at && waitingForBuffer_ == waitingForBuffer) return;
    nextAt_ = std::move(at);
    waitingForBuffer_ = waitingForBuffer;
    emit progressChanged();
}

QString Intervalometer::progressText() const {
    if (!running_) return {};
    QString text = total_ > 0
                       ? QStringLiteral("インターバル撮影 %1 / %2 枚").arg(taken_).arg(total_)
                       : QStringLiteral("インターバル撮影 %1 枚").arg(taken_);
    if (waitingForBuffer_) return text + QStringLiteral("　カメラのバッファが空くのを待っています");
    if (nextAt_)
        return text + QStringLiteral("　次 ") +
               nextAt_->toLocalTime().toString(QStringLiteral("HH:mm:ss"));
    return text;
}

}  // namespace pexil
