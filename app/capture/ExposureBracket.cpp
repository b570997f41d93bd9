#include "app/capture/ExposureBracket.h"

#include "app/capture/SeriesBuffer.h"
#include "kit/async/NextSignal.h"

#include <cmath>
#include <optional>

namespace pexil {

namespace {

constexpr std::int64_t manualProgram = 1;
// How far the value a camera offers may lie from the step asked for. Under half of the
// smallest step, so two steps never land on one value; a camera set to ½-stop increments
// cannot make ⅓ steps and says so rather than bracket unevenly.
constexpr double toleranceEv = 0.15;

// A shutter value in seconds; none for Bulb, Time, x200 and values that say nothing.
std::optional<double> shutterSeconds(PTP::Prop prop, std::int64_t value) {
    if (prop == PTP::Prop::nikonExposureTime) {
        const auto low = static_cast<std::uint32_t>(value);
        const std::uint32_t numerator = low >> 16;
        const std::uint32_t denominator = low & 0xFFFFU;
        if (static_cast<std::int32_t>(low) < 0 || numerator == 0 || denominator == 0)
            return std::nullopt;
        return static_cast<double>(numerator) / denominator;
    }
    if (value < 1 || value >= 0xFFFF0000) return std::nullopt;
    return static_cast<double>(value) / 10000.0;
}

// The choice of `desc` nearest to `target` by `distance`; none when none is within tolerance.
template <class Distance>
std::optional<std::int64_t> nearest(const PropDesc& desc, Distance distance) {
    std::optional<std::int64_t> best;
    double bestDistance = toleranceEv;
    for (const std::int64_t choice : desc.choices) {
        const std::optional<double> d = distance(choice);
        if (d && *d <= bestDistance) {
            best = choice;
            bestDistance = *d;
        }
    }
    return best;
}

bool oneOf(double step, std::initializer_list<double> allowed) {
    for (const double a : allowed)
        if (std::abs(step - a) < 1e-6) return true;
    return false;
}

}  // namespace

ExposureBracket::ExposureBracket(async::Runtime& runtime, Camera camera, QObject* parent)
    : QObject(parent), camera_(std::move(camera)), scope_(runtime) {}

QString ExposureBracket::offsetText(double ev) {
    if (std::abs(ev) < 1e-6) return QStringLiteral("±0");
    const QString sign = ev > 0 ? QStringLiteral("+") : QString(QChar(0x2212));
    const double magnitude = std::abs(ev);
    const int whole = static_cast<int>(std::floor(magnitude + 1e-6));
    const double rest = magnitude - whole;
    QString fraction;
    for (const auto& [value, text] :
         {std::pair{1.0 / 3, "1/3"}, std::pair{0.5, "1/2"}, std::pair{2.0 / 3, "2/3"}})
        if (std::abs(rest - value) < 1e-3) fraction = QString::fromLatin1(text);
    if (fraction.isEmpty() && rest > 1e-3) return sign + QString::number(magnitude, 'f', 1) + " EV";
    const QString number = whole == 0           ? fraction
                           : fraction.isEmpty() ? QString::number(whole)
                                                : QString::number(whole) + u' ' + fraction;
    return sign + number + QStringLiteral(" EV");
}

Result<ExposureBracket::Resolved, QString> ExposureBracket::resolve(const Descriptors& props,
                                                                    const Plan& plan) {
    if (plan.shots < 3 || plan.shots > maxShots || plan.shots % 2 == 0)
        return QString::fromUtf8("枚数は 3、5、7、9 枚のどれかにしてください");
    if (!oneOf(plan.step, {1.0 / 3, 0.5, 1.0}))
        return QString::fromUtf8("刻みは 1/3、1/2、1 段のどれかにしてください");
    const auto program = props.find(PTP::Prop::exposureProgram);
    const bool manual = program != props.end() && program->second.current == manualProgram;
    Resolved out;
    out.prop = manual ? ExposureLayout::shutter(props) : PTP::Prop::exposureBias;
    const QString what =
        manual ? QString::fromUtf8("シャッタースピード") : QString::fromUtf8("露出補正");
    const auto found = props.find(out.prop);
    if (found == props.end() || !found->second.writable || found->second.choices.empty())
        return what + QString::fromUtf8(" を変更できないので、ブラケット撮影はできません");
    const PropDesc& desc = found->second;
    out.original = desc.current;
    const std::optional<double> seconds = shutterSeconds(out.prop, desc.current);
    if (manual && !seconds)
        return QString::fromUtf8("シャッタースピードが %1 のままではブラケット撮影はできません")
            .arg(desc.currentText());
    for (int i = 0; i < plan.shots; ++i) {
        // 0, −1, +1, −2, +2…
        const int rank = (i + 1) / 2;
        const double ev = (i % 2 == 1 ? -rank : rank) * plan.step;
        std::optional<std::int64_t> value;
        if (manual) {
            const double target = std::log2(*seconds) + ev;
            value = nearest(desc, [&](std::int64_t choice) -> std::optional<double> {
                const auto s = shutterSeconds(out.prop, choice);
                if (!s) return std::nullopt;
                return std::abs(std::log2(*s) - target);
            });
        } else {
            const double target = static_cast<double>(desc.current) / 1000.0 + ev;
            value = nearest(desc, [&](std::int64_t choice) -> std::optional<double> {
                return std::abs(static_cast<double>(choice) / 1000.0 - target);
            });
        }
        if (!value)
            return what + u' ' + offsetText(ev) +
                   QString::fromUtf8(
                       " に当たる値がこのカメラにありません（範囲か刻みの設定を確かめてください）");
        PropDesc shown = desc;
        shown.current = *value;
        out.steps.push_back({ev, *value, shown.currentText()});
    }
    return out;
}

void ExposureBracket::start(Plan plan) {
    auto whole = [](ExposureBracket* self, Plan p) -> async::Task<void> {
        const QString summary = co_await self->run(p);
        emit self->finished(summary);
    };
    scope_.spawn(whole(this, plan));
}

void ExposureBracket::cancel() {
    if (!running_) return;
    cancelled_ = true;
    emit bufferMayHaveChanged();  // wakes a wait for the buffer
}

async::Task<QString> ExposureBracket::run(Plan plan) {
    if (running_) co_return QString::fromUtf8("ブラケット撮影はもう動いています。");
    auto resolved = resolve(camera_.props(), plan);
    if (!resolved) co_return resolved.error();
    running_ = true;
    cancelled_ = false;
    taken_ = 0;
    total_ = plan.shots;
    emit progressChanged();
    const PTP::Prop prop = resolved.value().prop;
    const std::int64_t original = resolved.value().original;
    QString summary = co_await shots(std::move(resolved).value());
    // Whatever ended the bracket, the photographer's own setting comes back.
    const bool restored = co_await camera_.write(prop, original);
    if (!restored)
        summary +=
            QString::fromUtf8("元の%1に戻せませんでした。カメラで確かめてください。")
                .arg(prop == PTP::Prop::exposureBias ? QString::fromUtf8("露出補正")
                                                     : QString::fromUtf8("シャッタースピード"));
    running_ = false;
    setNext({}, false);
    co_return summary;
}

async::Task<QString> ExposureBracket::shots(Resolved bracket) {
    const auto stopped = [this] {
        return QString::fromUtf8("ブラケット撮影を止めました（%1 / %2 枚）。")
            .arg(taken_)
            .arg(total_);
    };
    for (const Step& step : bracket.steps) {
        if (cancelled_) co_return stopped();
        const QString offset = offsetText(step.ev);
        setNext(offset, false);
        if (camera_.bufferFull && camera_.bufferFull()) {
            setNext(offset, true);
            auto room = [this] { return cancelled_ || !camera_.bufferFull(); };
            const bool free =
                co_await async::until(room, this, &ExposureBracket::bufferMayHaveChanged,
                                      async::Seconds(seriesBufferWaitSeconds));
            if (cancelled_) co_return stopped();
            if (!free)
                co_return QString::fromUtf8(
                    "ブラケット撮影: カメラのバッファが空かないので止めました（%1 / %2 枚）。")
                    .arg(taken_)
                    .arg(total_);
            setNext(offset, false);
        }
        const bool set = co_await camera_.write(bracket.prop, step.value);
        if (!set)
            co_return QString::fromUtf8(
                "ブラケット撮影: %1 にできなかったので止めました（%2 / %3 枚）。")
                .arg(step.text)
                .arg(taken_)
                .arg(total_);
        if (cancelled_) co_return stopped();  // asked while the value was being set
        const bool saved = co_await camera_.shoot();
        if (!saved)
            co_return QString::fromUtf8(
                "ブラケット撮影: %1 枚目（%2）を撮れなかったので止めました。")
                .arg(taken_ + 1)
                .arg(offset);
        ++taken_;
        emit shotTaken(taken_, offset);
        emit progressChanged();
    }
    co_return QString::fromUtf8("ブラケット撮影: %1 枚撮りました（%2 刻み）。")
        .arg(taken_)
        .arg(offsetText(bracket.steps.size() > 1 ? std::abs(bracket.steps[1].ev) : 0).mid(1));
}

void ExposureBracket::setNext(QString next, bool waitingForBuffer) {
    if (next_ == next && waitingForBuffer_ == waitingForBuffer) return;
    next_ = std::move(next);
    waitingForBuffer_ = waitingForBuffer;
    emit progressChanged();
}

QString ExposureBracket::progressText() const {
    if (!running_) return {};
    const QString text = QStringLiteral("露出ブラケット %1 / %2 枚").arg(taken_).arg(total_);
    if (waitingForBuffer_) return text + QStringLiteral("　カメラのバッファが空くのを待っています");
    if (!next_.isEmpty()) return text + QStringLiteral("　次 ") + next_;
    return text;
}

}  // namespace pexil
