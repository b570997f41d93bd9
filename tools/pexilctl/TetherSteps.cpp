#include "tools/pexilctl/TetherSteps.h"

#include "app/capture/CaptureModel.h"
#include "app/capture/ExposureBracket.h"
#include "app/capture/Intervalometer.h"
#include "app/capture/SeriesCamera.h"
#include "app/liveview/FocusStack.h"
#include "app/liveview/LiveViewModel.h"
#include "app/session/SessionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "tools/pexilctl/LineText.h"
#include "tools/pexilctl/Waiter.h"

#include <QPointF>

#include <cstdlib>

namespace pexil::cli {

namespace {

// Starts a series and waits for it to end, Ctrl+C cancelling it after the shot in progress,
// then says "PREFIX: SUMMARY". True when it took `wanted` shots. The end is listened for
// before the start: a series refused at once ends inside start().
template <class Series>
async::Task<bool> runSeries(Series& series, std::function<void()> start, Waiter& waiter, int wanted,
                            QString prefix, std::function<void(const QString&)> line) {
    std::optional<QString> summary;
    QObject::connect(&series, &Series::finished, [&summary, &waiter](const QString& text) {
        summary = text;
        waiter.poke();
    });
    start();
    std::function<bool()> ended = [&summary] { return summary.has_value(); };
    const bool done = co_await waiter.until(ended, -1);
    if (!done && waiter.stopRequested()) {
        series.cancel();
        waiter.clearStop();
        co_await waiter.until(ended, -1);
    }
    line(prefix + QStringLiteral(": ") + lineSafe(summary.value_or(QStringLiteral("?"))));
    co_return series.taken() == wanted;
}

}  // namespace

async::Task<std::optional<QString>> applySetting(SessionModel& model, Waiter& waiter,
                                                 QString assignment) {
    const qsizetype eq = assignment.indexOf(u'=');
    const QString label = assignment.left(eq).trimmed();
    const QString text = assignment.mid(eq + 1).trimmed();
    for (const auto& [prop, desc] : model.settings().props()) {
        if (PTP::label(prop) != label) continue;
        if (!model.settings().isWritable(prop))
            co_return label + QString::fromUtf8(" は変更できません");
        if (!desc.choiceTexts().contains(text))
            co_return label + QString::fromUtf8(" に「") + text +
                QString::fromUtf8("」はありません");
        model.clearLastError();
        model.settings().setText(prop, text);
        const PTP::Prop wanted = prop;
        // Named first: g++ 12 destroys by-copy captures twice inside a co_await expression.
        std::function<bool()> taken = [&model, wanted, &text] {
            return model.settings().text(wanted) == text || model.lastError().has_value();
        };
        co_await waiter.until(std::move(taken), 30);
        if (model.lastError()) co_return *model.lastError();
        co_return std::nullopt;
    }
    co_return QString::fromUtf8("そのような設定はありません: ") + label;
}

async::Task<bool> focusFromLiveView(LiveViewModel& liveView, Waiter& waiter,
                                    const TetherRequest& request,
                                    std::function<void(const QString&)> line) {
    bool allWell = true;
    if (request.afAt) {
        // The picture's geometry comes with the first frame's header.
        std::function<bool()> placed = [&liveView] { return liveView.header().has_value(); };
        co_await waiter.until(std::move(placed), 10);
        const QPointF at = *request.afAt;
        const auto failure = co_await liveView.moveAfArea(at);
        line(QStringLiteral("af-area: %1,%2 ").arg(at.x()).arg(at.y()) +
             lineSafe(failure.value_or(QStringLiteral("OK"))));
        allWell = allWell && !failure;
    }
    for (const TetherRequest::Drive& drive : request.drives) {
        const auto failure = co_await liveView.driveFocus(drive.direction, drive.steps);
        line(QStringLiteral("mf: ") + drive.text + QStringLiteral(" ") +
             lineSafe(failure.value_or(QStringLiteral("OK"))));
        allWell = allWell && !failure;
    }
    co_return allWell;
}

async::Task<bool> focusStack(SessionModel& model, Waiter& waiter, const TetherRequest& request,
                             std::function<void(const QString&)> line) {
    LiveViewModel& liveView = model.liveView();
    FocusStack stack(
        liveView, [&model] { return model.capture().shootAndWait(false); },
        [&liveView] { return liveView.autofocus(); });
    FocusStack::Plan plan;
    plan.shots = request.stackShots;
    plan.step = std::abs(request.stackStep);
    plan.direction =
        request.stackStep < 0 ? PTPCamera::FocusDirection::near : PTPCamera::FocusDirection::far;
    plan.autofocusFirst = request.autofocus;
    std::function<void()> start = [&stack, plan] { stack.start(plan); };
    const bool taken = co_await runSeries(stack, std::move(start), waiter, request.stackShots,
                                          QStringLiteral("focus-stack"), std::move(line));
    co_return taken;
}

async::Task<bool> intervalSeries(SessionModel& model, Waiter& waiter, const TetherRequest& request,
                                 std::function<void(const QString&)> line) {
    CaptureModel& capture = model.capture();
    CameraSettingsModel& settings = model.settings();
    const bool autofocus = request.autofocus;
    Intervalometer series(
        model.runtime(), [&capture, autofocus] { return capture.shootAndWait(autofocus); },
        SeriesCamera::bufferFull(settings, capture));
    SeriesCamera::followBuffer(settings, capture, &series);
    QObject::connect(&series, &Intervalometer::shotTaken, [line](int, const QDateTime& at) {
        line(QStringLiteral("shot: OK ") +
             at.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")));
    });
    bool waitingSaid = false;
    QObject::connect(&series, &Intervalometer::progressChanged, [&series, &waitingSaid, line] {
        if (series.waitingForBuffer() && !waitingSaid)
            line(QStringLiteral("interval: カメラのバッファが空くのを待っています"));
        waitingSaid = series.waitingForBuffer();
    });
    const Intervalometer::Plan plan{request.interval, request.shots, request.delay};
    std::function<void()> start = [&series, plan] { series.start(plan); };
    const bool taken = co_await runSeries(series, std::move(start), waiter, request.shots,
                                          QStringLiteral("interval"), std::move(line));
    co_return taken;
}

async::Task<bool> bracketSeries(SessionModel& model, Waiter& waiter, const TetherRequest& request,
                                std::function<void(const QString&)> line) {
    CaptureModel& capture = model.capture();
    CameraSettingsModel& settings = model.settings();
    const bool autofocus = request.autofocus;
    ExposureBracket bracket(
        model.runtime(),
        SeriesCamera::forBracket(settings, capture, [autofocus] { return autofocus; }));
    SeriesCamera::followBuffer(settings, capture, &bracket);
    QObject::connect(&bracket, &ExposureBracket::shotTaken, [line](int, const QString& offset) {
        line(QStringLiteral("shot: OK ") + offset);
    });
    const ExposureBracket::Plan plan{request.bracketShots, request.bracketStep};
    std::function<void()> start = [&bracket, plan] { bracket.start(plan); };
    const bool taken = co_await runSeries(bracket, std::move(start), waiter, request.bracketShots,
                                          QStringLiteral("bracket"), std::move(line));
    co_return taken;
}

}  // namespace pexil::cli
