// Focus, readiness and the shutter.
#include "kit/async/Sleep.h"
#include "kit/device/PropFormat.h"
#include "kit/ptp/PTPCamera.h"

namespace pexil {

namespace {
constexpr int captureAttempts = 5;
}  // namespace

async::Task<std::optional<bool>> PTPCamera::autofocus() {
    const auto watch = lifetime_.watch();
    auto drive = co_await send(PTP::Op::nikonAfDrive);
    if (!watch.alive()) co_return std::nullopt;
    if (!drive) {
        writeLog(QString::fromUtf8("AF 命令が通らない: ") + pexil::describe(drive.error()));
        co_return std::nullopt;
    }
    // A camera still busy at the deadline has usually focused; only "out of focus" means it could not.
    const std::uint16_t code = co_await waitUntilReady(5);
    co_return code != PTP::Response::nikonOutOfFocus;
}

async::Task<std::uint16_t> PTPCamera::waitUntilReady(double seconds) {
    if (!speaksNikon()) {
        co_await async::sleep(0.3);
        co_return PTP::code(PTP::Response::ok);
    }
    async::Clock& clock = runtime_.clock();
    const auto deadline = clock.monotonic() + async::Seconds(seconds);
    for (;;) {
        auto ready = co_await send(PTP::Op::nikonDeviceReady);
        if (ready) co_return PTP::code(PTP::Response::ok);
        const auto code = responseCodeOf(ready.error());
        if (!code) co_return 0;
        if (*code != PTP::Response::deviceBusy && *code != PTP::Response::nikonBusy) co_return *code;
        if (clock.monotonic() >= deadline) co_return *code;
        co_await async::sleep(0.1);
    }
}

async::Task<CameraResult<Done>> PTPCamera::releaseShutter() {
    const auto watch = lifetime_.watch();
    for (int attempt = 1;; ++attempt) {
        auto sent = co_await send(PTP::Op::initiateCapture, args(0, 0));
        if (!watch.alive())
            co_return sent ? CameraResult<Done>(Done{}) : CameraResult<Done>(sent.error());
        if (sent) {
            writeLog(QString::fromUtf8("リモートシャッター 0x100E: OK"));
            co_return Done{};
        }
        if (responseCodeOf(sent.error()) == PTP::Response::deviceBusy) {
            if (attempt == captureAttempts) co_return CameraError(PTPError::response(PTP::Response::deviceBusy));
            writeLog(QString::fromUtf8("リモートシャッター 0x100E: DeviceBusy（待って送り直す）"));
            co_await waitUntilReady(2);
            if (!watch.alive()) co_return CameraError(PTPError::response(PTP::Response::deviceBusy));
            continue;
        }
        // Bodies that refuse the standard capture (or fail it) still take Nikon's own.
        writeLog(QString::fromUtf8("リモートシャッター 0x100E 失敗: ") +
                 pexil::describe(sent.error()));
        auto fallback = co_await send(PTP::Op::nikonCapture, args(0xFFFFFFFF));
        if (!fallback) co_return fallback.error();
        if (watch.alive()) writeLog(QString::fromUtf8("リモートシャッター 0x90C0: OK"));
        co_return Done{};
    }
}

}  // namespace pexil
