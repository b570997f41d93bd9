#pragma once

#include "kit/async/Completion.h"
#include "kit/async/Lifetime.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/device/CameraCapabilities.h"
#include "kit/device/DeviceInfo.h"
#include "kit/device/ExposureLayout.h"
#include "kit/device/PropDesc.h"
#include "kit/ptp/CommandTransport.h"
#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace pexil {

template <class T>
using CameraResult = Result<T, CameraError>;

// The one object through which the program talks PTP to an open camera. Around each
// command it counts the commands in flight and logs commands that take longer than 45 s.
// Harmful commands are kept off the wire below it, by the session's capability gate, whose
// refusals come back as the refusal's response code.
//
// Threads: main thread only; the transport may answer on any thread. Several commands may
// be outstanding at once; send() does not serialize them (the transport does).
// Lifetime: a coroutine still waiting when the camera is destroyed gets its answer but
// touches nothing of the destroyed object.
class PTPCamera {
public:
    using LogFn = std::function<void(const QString&)>;

    static constexpr double watchdogSeconds = 45;

    PTPCamera(async::Runtime& runtime, std::shared_ptr<CommandTransport> device, LogFn log);
    ~PTPCamera();
    PTPCamera(const PTPCamera&) = delete;
    PTPCamera& operator=(const PTPCamera&) = delete;

    // Sends one command and gives its data phase (empty when it has none) or the error:
    // the camera's response code (or the gate's refusal), the transport's error, or
    // timedOut("0x%04X") when `timeout` seconds pass first (the late answer is dropped).
    // Without a timeout it waits as long as the camera takes.
    async::Task<CameraResult<Bytes>> send(PTP::Op op, std::vector<std::uint32_t> params = {},
                                          std::optional<Bytes> outData = std::nullopt,
                                          std::optional<double> timeout = std::nullopt);

    const std::optional<DeviceInfo>& info() const { return info_; }
    const std::optional<CameraCapabilities>& capabilities() const { return capabilities_; }
    int inFlight() const { return inFlight_; }
    void setLog(LogFn log) { log_ = std::move(log); }
    async::Runtime& runtime() const { return runtime_; }
    // The vendor whose conventions this camera follows (DeviceInfo::effectiveVendor()); 0
    // before its DeviceInfo was read.
    std::uint32_t vendor() const { return info_ ? info_->effectiveVendor() : 0; }
    // This camera announced Nikon's vendor extension in its DeviceInfo.
    bool speaksNikon() const { return info_ && info_->isNikon(); }

    // Reads DeviceInfo and installs it (capabilities, the vendor). None when the
    // command fails or the dataset does not parse; nothing changes then.
    async::Task<std::optional<DeviceInfo>> readDeviceInfo();

    // --- Camera control. None where a result may be missing: the error is swallowed. ---
    // Values read in this camera's vendor conventions (PropDesc::vendor).
    async::Task<std::optional<PropDesc>> describe(PTP::Prop prop);
    // One after the other; properties that fail are left out.
    async::Task<Descriptors> describeAll(std::vector<PTP::Prop> props);
    // Sets a property, encoded in the width of its datatype; string properties fail with
    // ParameterNotSupported without sending.
    async::Task<CameraResult<Done>> write(PropDesc desc, std::int64_t value);
    // A 1-, 2- or 4-byte property value, sign- or zero-extended.
    async::Task<std::optional<std::int64_t>> integer(PTP::Prop prop, bool isSigned);
    // The Nikon light meter in EV.
    async::Task<std::optional<double>> lightMeter();
    // True when focus was found, false when the camera says out of focus, none
    // when the AF command itself failed (logged).
    async::Task<std::optional<bool>> autofocus();
    // Whether the camera announced `op` in its DeviceInfo.
    bool offers(PTP::Op op) const {
        return capabilities_ && capabilities_->operations.count(PTP::code(op)) > 0;
    }
    // Moves a Nikon's AF area (live view only) to `whole`, a point of the live view's whole
    // image area. Retried while the body is busy, as the shutter is.
    async::Task<CameraResult<Done>> changeAfArea(QPoint whole);
    // Drives a Nikon's lens by `steps` (1 to 32767) towards near or far (live view, lens in
    // AF), retried while busy, then waits until the drive ends. A drive that stopped at the
    // end of the lens's range fails with nikonMfDriveStepEnd.
    enum class FocusDirection : std::uint32_t { near = 1, far = 2 };
    async::Task<CameraResult<Done>> driveFocus(FocusDirection direction, int steps);
    // Polls a Nikon until it stops being busy: OK when ready, the busy code at the
    // deadline, another response code, or 0 for any other failure. Non-Nikon: 0.3 s pause.
    async::Task<std::uint16_t> waitUntilReady(double seconds);
    // InitiateCapture with up to 5 attempts while busy, then Nikon capture as fallback.
    async::Task<CameraResult<Done>> releaseShutter();
    async::Task<std::optional<QDateTime>> cameraClock();
    async::Task<CameraResult<Done>> setCameraClock(QDateTime date);

    // The PTP DateTime form "yyyyMMdd'T'HHmmss" in the computer's time zone.
    static QString formatClock(const QDateTime& date);
    static std::optional<QDateTime> parseClock(const QString& text);

private:
    // Parameter lists for send() inside coroutines: g++ 12 miscompiles a braced list whose
    // backing array lives across a co_await ("array used as initializer").
    template <class... A>
    static std::vector<std::uint32_t> args(A... a) {
        std::vector<std::uint32_t> out;
        (out.push_back(static_cast<std::uint32_t>(a)), ...);
        return out;
    }
    // One command sent again while the body answers busy (up to five times).
    async::Task<CameraResult<Bytes>> sendPatiently(PTP::Op op, std::vector<std::uint32_t> params);
    async::Task<void> watchdog(QString opText);
    static CameraResult<Bytes> outcomeOf(Result<PTPAnswer, TransportError> answer);
    // Runs one request on the transport and hands its outcome to `resolver`.
    static async::Task<void> deliver(std::shared_ptr<CommandTransport> device, PTPRequest request,
                                     async::Resolver<CameraResult<Bytes>> resolver);
    void writeLog(const QString& line) const {
        if (log_) log_(line);
    }

    async::Runtime& runtime_;
    std::shared_ptr<CommandTransport> device_;
    LogFn log_;
    std::optional<DeviceInfo> info_;
    std::optional<CameraCapabilities> capabilities_;
    int inFlight_ = 0;
    async::Lifetime lifetime_;
    async::Scope watchdogs_;
    async::Scope deliveries_;  // requests with a time limit
};

}  // namespace pexil
