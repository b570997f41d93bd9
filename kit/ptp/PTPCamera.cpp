#include "kit/ptp/PTPCamera.h"

#include "kit/async/Completion.h"
#include "kit/async/Sleep.h"
#include "kit/device/PropFormat.h"

namespace pexil {

PTPCamera::PTPCamera(async::Runtime& runtime, std::shared_ptr<CommandTransport> device, LogFn log)
    : runtime_(runtime),
      device_(std::move(device)),
      log_(std::move(log)),
      watchdogs_(runtime),
      deliveries_(runtime) {}

PTPCamera::~PTPCamera() = default;

CameraResult<Bytes> PTPCamera::outcomeOf(Result<PTPAnswer, TransportError> answer) {
    if (!answer) return CameraError(answer.error());
    if (answer.value().code == PTP::Response::ok) return std::move(answer).value().data;
    return CameraError(PTPError::response(answer.value().code));
}

async::Task<void> PTPCamera::deliver(std::shared_ptr<CommandTransport> device, PTPRequest request,
                                     async::Resolver<CameraResult<Bytes>> resolver) {
    auto answer = co_await device->transact(std::move(request));
    resolver.resolve(outcomeOf(std::move(answer)));
}

async::Task<void> PTPCamera::watchdog(QString opText) {
    co_await async::sleep(watchdogSeconds);
    // Cancelled when the command ended; the task dies with the camera, so `this` is alive here.
    const bool cancelled = co_await async::isCancelled();
    if (cancelled) co_return;
    writeLog(QString::asprintf("PTP %s が 45 秒返らない", qUtf8Printable(opText)));
}

async::Task<CameraResult<Bytes>> PTPCamera::send(PTP::Op op, std::vector<std::uint32_t> params,
                                                 std::optional<Bytes> outData,
                                                 std::optional<double> timeout) {
    const QString opText = QString::asprintf("0x%04X", PTP::code(op));
    ++inFlight_;
    async::Runtime& runtime = runtime_;
    const auto started = runtime.clock().monotonic();
    async::TaskHandle watchdogTask;
    if (!timeout) watchdogTask = watchdogs_.spawn(watchdog(opText));

    const auto watch = lifetime_.watch();
    PTPRequest request{op, std::move(params), std::move(outData)};
    std::optional<CameraResult<Bytes>> outcome;
    if (!timeout) {
        // The transport stays for the answer even if this camera goes meanwhile.
        auto device = device_;
        auto answer = co_await device->transact(std::move(request));
        outcome.emplace(outcomeOf(std::move(answer)));
    } else {
        // The request runs as a task of its own, so that the time limit can end the wait
        // while the transport still owes the answer (then dropped). It goes with the camera;
        // the timer still answers the caller.
        std::optional<async::TimerId> timer;
        auto start = [&](async::Resolver<CameraResult<Bytes>> resolver) {
            deliveries_.spawn(deliver(device_, std::move(request), resolver));
            timer = runtime.clock().startTimer(async::Seconds(*timeout), [resolver, opText] {
                resolver.resolve(CameraResult<Bytes>(CameraError(PTPError::timedOut(opText))));
            });
        };
        auto timed = co_await async::waitFor<CameraResult<Bytes>>(std::move(start));
        if (timer) runtime.clock().cancelTimer(*timer);
        outcome.emplace(std::move(timed));
    }
    auto result = std::move(*outcome);
    if (!watch.alive()) co_return result;

    --inFlight_;
    watchdogTask.cancel();
    const double elapsed = (runtime.clock().monotonic() - started).count();
    if (elapsed > watchdogSeconds)
        writeLog(QString::asprintf("PTP %s がようやく返った（%.0f 秒）", qUtf8Printable(opText),
                                   elapsed));
    co_return result;
}

async::Task<std::optional<DeviceInfo>> PTPCamera::readDeviceInfo() {
    const auto watch = lifetime_.watch();
    auto data = co_await send(PTP::Op::getDeviceInfo);
    if (!data || !watch.alive()) co_return std::nullopt;
    auto info = DeviceInfo::parse(data.value());
    if (!info) co_return std::nullopt;
    info_ = *info;
    capabilities_.emplace(*info);
    co_return info;
}

}  // namespace pexil
