#include "kit/liveview/NikonLiveView.h"

#include "kit/async/Sleep.h"
#include "kit/liveview/LiveViewJpeg.h"
#include "kit/ptp/Localized.h"
#include "kit/ptp/PTP.h"

#include <QStringList>

#include <algorithm>
#include <string_view>

namespace pexil {

namespace {

constexpr int maxStartAttempts = 8;
constexpr int maxFirstFrameFetches = 15;
constexpr int maxLoopFailures = 5;
// A body that gave the same picture again has no new one yet: ask again after about a frame
// of the fastest live view (60 a second).
constexpr double repeatWaitSeconds = 1.0 / 60;

template <class... A>
std::vector<std::uint32_t> args(A... a) {
    std::vector<std::uint32_t> out;
    (out.push_back(static_cast<std::uint32_t>(a)), ...);
    return out;
}

QString hex32(std::uint32_t value) {
    return QString::asprintf("0x%08X", value);
}

}  // namespace

NikonLiveView::NikonLiveView(PTPCamera& camera, QString cameraIdentifier,
                             std::shared_ptr<LiveViewMemory> memory, LogFn log)
    : camera_(camera),
      rememberKey_(QStringLiteral("liveViewNeedsSDRAM.") + cameraIdentifier),
      log_(std::move(log)),
      memory_(std::move(memory)),
      tasks_(camera.runtime()) {}

NikonLiveView::~NikonLiveView() = default;

std::optional<ByteView> NikonLiveView::jpeg(ByteView in) {
    return liveViewJpeg(in);
}

QString NikonLiveView::explanation(std::optional<std::uint32_t> prohibition) {
    if (!prohibition) {
        return localized(
            "ライブビューを開始できませんでした。レリーズモードダイヤルが Lv "
            "になっていないか確認してください。");
    }
    const std::uint32_t p = *prohibition;
    if (p & 0x100u) return localized("カメラの電池が足りないため、ライブビューを開始できません。");
    if (p & 0x20000u) {
        return localized(
            "カメラの温度が上がっているため、ライブビューを開始できません。"
            "しばらく休ませてください。");
    }
    if (p & 0x1C4000u) {
        return localized(
            "カードを確認してください（入っていない、書き込み禁止、エラー、"
            "未フォーマットのいずれか）。");
    }
    if (p & 0x80000000u) return localized("撮影モードを P・A・S・M のいずれかにしてください。");
    if (p & 0x200000u) return localized("バルブではライブビューを使えません。");
    if (p & 0x10u) return localized("シャッターボタンが押されたままです。");
    if (p & 0x400000u) return localized("ミラーアップ中はライブビューを使えません。");
    return localized(
               "ライブビューを開始できませんでした（%1）。レリーズモードダイヤルが Lv "
               "になっていないか確認してください。")
        .arg(hex32(p));
}

QString NikonLiveView::describeError(const Error& error) {
    if (const auto* camera = std::get_if<CameraError>(&error)) return describe(*camera);
    switch (std::get<Failure>(error)) {
        case Failure::noFrames:
            return QString::fromUtf8("ライブビューの映像が来ない");
        case Failure::stopped:
            return QString::fromUtf8("停止が求められた");
        case Failure::gone:
            break;
    }
    return QString::fromUtf8("カメラが切り離された");
}

bool NikonLiveView::isFailure(const Error& error, Failure failure) {
    const auto* f = std::get_if<Failure>(&error);
    return f && *f == failure;
}

// --- Preferences, state ---

bool NikonLiveView::rememberedSDRAM() const {
    return memory_->needsSDRAM(rememberKey_);
}

void NikonLiveView::rememberSDRAM() const {
    memory_->rememberNeedsSDRAM(rememberKey_);
}

void NikonLiveView::setState(State state) {
    if (state_ == state) return;
    state_ = state;
    if (onChange) onChange();
}

void NikonLiveView::setSuspended(bool suspended) {
    if (suspended_ == suspended) return;
    suspended_ = suspended;
    if (onChange) onChange();
}

bool NikonLiveView::deliver(ByteView answer, bool* repeated) {
    const auto picture = jpeg(answer);
    if (!picture) return false;
    const std::size_t hash = std::hash<std::string_view>()(
        std::string_view(reinterpret_cast<const char*>(picture->data()), picture->size()));
    const bool same = hash == lastFrameHash_;
    if (repeated) *repeated = same;
    if (same) return true;
    lastFrameHash_ = hash;
    if (onHeader) {
        const auto headerSize = static_cast<std::size_t>(picture->data() - answer.data());
        if (const auto header = LiveViewHeader::parse(answer.first(headerSize))) onHeader(*header);
    }
    if (onFrame) onFrame(*picture);
    return true;
}

// --- Camera helpers ---

async::Task<QString> NikonLiveView::cameraState() {
    // The view (and with it the camera reference) may go while a read is out: its owner
    // drops it when the session ends, also in the middle of a start.
    const auto watch = lifetime_.watch();
    const auto status = co_await camera_.integer(PTP::Prop::nikonLiveViewStatus, false);
    if (!watch.alive()) co_return QString();
    const auto media = co_await camera_.integer(PTP::Prop::nikonRecordingMedia, false);
    if (!watch.alive()) co_return QString();
    const auto prohibition = co_await camera_.integer(PTP::Prop::nikonLiveViewProhibit, false);
    const QString unknown = QString::fromUtf8("?");
    co_return QString::fromUtf8("[LV=") + (status ? QString::number(*status) : unknown) +
        QString::fromUtf8(" 記録先=") + (media ? QString::number(*media) : unknown) +
        QString::fromUtf8(" 禁止=") +
        (prohibition ? hex32(static_cast<std::uint32_t>(*prohibition)) : unknown) +
        QString::fromUtf8("]");
}

async::Task<CameraResult<Done>> NikonLiveView::writeMedia(bool sdram) {
    Bytes data(1, sdram ? 1 : 0);
    auto sent =
        co_await camera_.send(PTP::Op::setDevicePropValue,
                              args(PTP::code(PTP::Prop::nikonRecordingMedia)), std::move(data));
    if (!sent) co_return sent.error();
    co_return Done{};
}

async::Task<CameraResult<Done>> NikonLiveView::setMedia(bool sdram) {
    const auto watch = lifetime_.watch();
    auto written = co_await writeMedia(sdram);
    if (!written || !watch.alive()) co_return written;
    switchedToSDRAM_ = sdram;
    writeLog(QString::fromUtf8("ライブビュー: 記録先を ") +
             QString::fromUtf8(sdram ? "SDRAM" : "カード") + QString::fromUtf8(" に"));
    co_return written;
}

// --- Start ---

async::Task<std::optional<QString>> NikonLiveView::start() {
    if (state_ != State::off) co_return std::nullopt;
    const auto watch = lifetime_.watch();
    const auto generation = generation_;
    setState(State::starting);
    stopRequested_ = false;
    const QString cameraText = co_await cameraState();
    if (gone(watch, generation)) co_return std::nullopt;
    writeLog(QString::fromUtf8("ライブビュー: 開始 ") + cameraText);

    auto started = co_await startSequence();
    if (gone(watch, generation)) co_return std::nullopt;
    if (started) {
        setState(State::on);
        startLoop();
        co_return std::nullopt;
    }
    const Error error = started.error();
    // forget() came in between: the camera is gone, so there is nothing to clean up.
    if (isFailure(error, Failure::gone)) co_return std::nullopt;
    std::optional<QString> message;
    if (!isFailure(error, Failure::stopped)) {
        message = co_await explain(error);
        if (gone(watch, generation)) co_return std::nullopt;
        writeLog(QString::fromUtf8("ライブビュー: 開始できない ") + *message);
    }
    co_await teardown();
    if (gone(watch, generation)) co_return std::nullopt;
    pauseCount_ = 0;
    setState(State::off);
    co_return message;
}

async::Task<NikonLiveView::Outcome<Done>> NikonLiveView::startSequence() {
    const auto watch = lifetime_.watch();
    const auto generation = generation_;
    auto control = co_await camera_.send(PTP::Op::nikonChangeCameraMode, args(1));
    if (gone(watch, generation)) co_return Error(Failure::gone);
    if (!control) {
        if (responseCodeOf(control.error()) != PTP::Response::nikonChangeCameraModeFailed)
            co_return Error(control.error());
        writeLog(QString::fromUtf8("ライブビュー: 制御権 ChangeCameraModeFailed（続行）"));
    }
    tookControl_ = true;
    if (stopRequested_) co_return Error(Failure::stopped);

    const bool remembered = rememberedSDRAM();
    if (remembered) {
        auto media = co_await setMedia(true);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        if (!media) co_return Error(media.error());
    }
    auto first = co_await beginAndWaitForFrame();
    if (gone(watch, generation)) co_return Error(Failure::gone);
    if (!first) co_return first.error();
    if (first.value()) {
        if (stopRequested_) co_return Error(Failure::stopped);
        co_return Done{};
    }
    if (stopRequested_) co_return Error(Failure::stopped);
    if (remembered) co_return Error(Failure::noFrames);

    // Some bodies show no picture while recording to the card; they do once recording goes
    // to their memory, and will need that every time.
    writeLog(
        QString::fromUtf8("ライブビュー: カードのままでは映像が来ない。SDRAM に切り替えて再試行"));
    auto ended = co_await camera_.send(PTP::Op::nikonEndLiveView);
    (void)ended;
    if (gone(watch, generation)) co_return Error(Failure::gone);
    auto media = co_await setMedia(true);
    if (gone(watch, generation)) co_return Error(Failure::gone);
    if (!media) co_return Error(media.error());
    auto second = co_await beginAndWaitForFrame();
    if (gone(watch, generation)) co_return Error(Failure::gone);
    if (!second) co_return second.error();
    if (!second.value()) co_return Error(stopRequested_ ? Failure::stopped : Failure::noFrames);
    rememberSDRAM();
    if (stopRequested_) co_return Error(Failure::stopped);
    co_return Done{};
}

async::Task<NikonLiveView::Outcome<bool>> NikonLiveView::beginAndWaitForFrame() {
    const auto watch = lifetime_.watch();
    const auto generation = generation_;
    co_await camera_.waitUntilReady(3);
    if (gone(watch, generation)) co_return Error(Failure::gone);
    if (stopRequested_) co_return Error(Failure::stopped);

    for (int attempt = 0;;) {
        auto started = co_await camera_.send(PTP::Op::nikonStartLiveView);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        if (started) {
            if (stopRequested_) co_return Error(Failure::stopped);
            break;
        }
        const auto code = responseCodeOf(started.error());
        if (!code) co_return Error(started.error());
        // Busy right after the command: the camera is starting live view already.
        if (*code == PTP::Response::deviceBusy) {
            if (stopRequested_) co_return Error(Failure::stopped);
            break;
        }
        const auto prohibition = co_await camera_.integer(PTP::Prop::nikonLiveViewProhibit, false);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        writeLog(QString::fromUtf8("ライブビュー: 開始命令を拒否された ") +
                 PTP::responseName(*code) + QString::fromUtf8("（") + QString::number(attempt + 1) +
                 QString::fromUtf8(" 回目）"));
        if (!prohibition || attempt == maxStartAttempts - 1) co_return false;
        const auto bits = static_cast<std::uint32_t>(*prohibition);
        if (bits & 0x1u) {
            // Bit 0 says the destination is the card; a body that forgot the SDRAM
            // setting gets it again, and is retried unless another reason stands.
            if (!switchedToSDRAM_) co_return false;
            auto rewritten = co_await writeMedia(true);
            (void)rewritten;
            if (gone(watch, generation)) co_return Error(Failure::gone);
            if (bits & ~0x8001u) co_return false;
        } else if (bits != 0 && bits != 0x8000u) {
            co_return false;
        }
        co_await async::sleep(0.5);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        co_await camera_.waitUntilReady(2);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        ++attempt;
        if (stopRequested_) co_return Error(Failure::stopped);
    }
    co_await camera_.waitUntilReady(5);
    if (gone(watch, generation)) co_return Error(Failure::gone);

    for (int tries = 0;; ++tries) {
        if (stopRequested_) co_return Error(Failure::stopped);
        auto frame = co_await camera_.send(PTP::Op::nikonGetLiveViewImg);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        if (frame) {
            lastFrameHash_ = 0;  // a first frame is always shown
            if (deliver(frame.value())) co_return true;
        } else {
            const auto code = responseCodeOf(frame.error());
            if (code != PTP::Response::nikonNotLiveView && code != PTP::Response::deviceBusy)
                co_return Error(frame.error());
        }
        co_await async::sleep(0.15);
        if (gone(watch, generation)) co_return Error(Failure::gone);
        if (tries == maxFirstFrameFetches - 1) co_return false;
    }
}

async::Task<QString> NikonLiveView::explain(Error error) {
    writeLog(QString::fromUtf8("ライブビュー: 失敗の元 ") + describeError(error));
    const auto prohibition = co_await camera_.integer(PTP::Prop::nikonLiveViewProhibit, false);
    if (!prohibition) co_return explanation(std::nullopt);
    co_return explanation(static_cast<std::uint32_t>(*prohibition));
}

// --- Frame loop ---

void NikonLiveView::startLoop() {
    // A new scope replaces (and destroys) the previous loop.
    loop_ = std::make_unique<async::Scope>(camera_.runtime());
    loop_->spawn(runLoop());
}

async::Task<void> NikonLiveView::runLoop() {
    const auto watch = lifetime_.watch();
    int failures = 0;
    for (;;) {
        if (!watch.alive()) co_return;
        const bool cancelled = co_await async::isCancelled();
        if (cancelled) co_return;
        const bool paused = pauseCount_ >= 1 || (shouldPauseFrames && shouldPauseFrames());
        if (paused) {
            co_await async::sleep(0.06);
            continue;
        }
        auto frame = co_await camera_.send(PTP::Op::nikonGetLiveViewImg);
        if (!watch.alive()) co_return;
        const bool cancelledMeanwhile = co_await async::isCancelled();
        if (cancelledMeanwhile) co_return;
        if (frame) {
            if (readyForFrame) {
                auto ready = readyForFrame();
                co_await std::move(ready);
                if (!watch.alive()) co_return;
                const bool cancelledWhileHeld = co_await async::isCancelled();
                if (cancelledWhileHeld) co_return;
            }
            bool repeated = false;
            deliver(frame.value(), &repeated);
            failures = 0;
            if (repeated) co_await async::sleep(repeatWaitSeconds);
            continue;
        }
        const auto code = responseCodeOf(frame.error());
        if (code == PTP::Response::nikonNotLiveView) {
            if (pauseCount_ != 0) continue;
            writeLog(QString::fromUtf8("ライブビュー: カメラ側で止まった。開き直す"));
            auto reopened = co_await beginAndWaitForFrame();
            if (!watch.alive()) co_return;
            if (reopened && reopened.value()) continue;
            // stop() drops this loop's scope; it runs as a task of its own so that the
            // clean-up is not destroyed with the loop.
            tasks_.spawn(stop(QString::fromUtf8("カメラ側で止まり、開き直せなかった")));
            co_return;
        }
        if (code == PTP::Response::deviceBusy) {
            co_await async::sleep(0.04);
            continue;
        }
        ++failures;
        if (failures < maxLoopFailures) {
            co_await async::sleep(0.1);
            continue;
        }
        tasks_.spawn(stop(QString::fromUtf8("コマ取りが続けて失敗: ") + describe(frame.error())));
        co_return;
    }
}

// --- Stop, clean-up, forget ---

async::Task<void> NikonLiveView::stop(QString reason) {
    if (state_ == State::starting) {
        stopRequested_ = true;
        co_return;
    }
    if (state_ != State::on) co_return;
    const auto watch = lifetime_.watch();
    const auto generation = generation_;
    setState(State::stopping);
    // A restart in flight (after a shot) must not start live view again behind the clean-up.
    stopRequested_ = true;
    loop_.reset();
    writeLog(QString::fromUtf8("ライブビュー: 停止（") + reason + QString::fromUtf8("）"));
    co_await teardown();
    if (gone(watch, generation)) co_return;
    pauseCount_ = 0;
    setState(State::off);
}

async::Task<void> NikonLiveView::teardown() {
    const auto watch = lifetime_.watch();
    QStringList notes;
    const auto note = [](const char* what, const CameraResult<Bytes>& result) {
        return QString::fromUtf8(what) + (result
                                              ? QString::fromUtf8(" OK")
                                              : QString::fromUtf8(" ") + describe(result.error()));
    };
    auto ended = co_await camera_.send(PTP::Op::nikonEndLiveView);
    if (!watch.alive()) co_return;
    notes << note("終了", ended);
    co_await camera_.waitUntilReady(3);
    if (!watch.alive()) co_return;
    if (switchedToSDRAM_) {
        auto card = co_await writeMedia(false);
        if (!watch.alive()) co_return;
        notes << QString::fromUtf8("カードへ") +
                     (card ? QString::fromUtf8(" OK")
                           : QString::fromUtf8(" ") + describe(card.error()));
        switchedToSDRAM_ = false;
    }
    if (tookControl_) {
        auto returned = co_await camera_.send(PTP::Op::nikonChangeCameraMode, args(0));
        if (!watch.alive()) co_return;
        notes << note("制御権を返す", returned);
        tookControl_ = false;
    }
    writeLog(QString::fromUtf8("ライブビュー: 後始末 ") + notes.join(QString::fromUtf8(" / ")));
}

void NikonLiveView::forget() {
    loop_.reset();
    ++generation_;
    tookControl_ = false;
    switchedToSDRAM_ = false;
    stopRequested_ = true;
    pauseCount_ = 0;
    setState(State::off);
}

// --- Pause around a shot ---

async::Task<std::optional<QString>> NikonLiveView::whileSuspended(
    std::function<int()> shotCount, double waitSeconds, std::function<async::Task<bool>()> body) {
    if (state_ != State::on) {
        const bool fired = co_await body();
        (void)fired;
        co_return std::nullopt;
    }
    const auto watch = lifetime_.watch();
    ++pauseCount_;
    setSuspended(true);
    std::optional<QString> result;
    std::exception_ptr failure;
    try {
        result = co_await pausedShot(std::move(shotCount), waitSeconds, std::move(body));
    } catch (...) {
        failure = std::current_exception();
    }
    if (watch.alive()) {
        setSuspended(false);
        pauseCount_ = std::max(0, pauseCount_ - 1);
    }
    if (failure) std::rethrow_exception(failure);
    co_return result;
}

async::Task<std::optional<QString>> NikonLiveView::pausedShot(
    std::function<int()> shotCount, double waitSeconds, std::function<async::Task<bool>()> body) {
    const auto watch = lifetime_.watch();
    const auto generation = generation_;
    auto ended = co_await camera_.send(PTP::Op::nikonEndLiveView);
    if (gone(watch, generation)) co_return std::nullopt;
    if (!ended)
        writeLog(QString::fromUtf8("ライブビュー: 終了命令 失敗 ") + describe(ended.error()));
    co_await camera_.waitUntilReady(3);
    if (gone(watch, generation)) co_return std::nullopt;

    if (switchedToSDRAM_) {
        // The shot goes to the card; switchedToSDRAM_ stays set so live view returns to SDRAM.
        auto card = co_await writeMedia(false);
        if (gone(watch, generation)) co_return std::nullopt;
        if (!card) {
            writeLog(QString::fromUtf8("ライブビュー: 記録先をカードに戻せない ") +
                     describe(card.error()));
            co_await stop(QString::fromUtf8("記録先をカードに戻せない"));
            co_return localized("記録先をカードに戻せなかったため、撮影をやめました。");
        }
    }

    const int before = shotCount();
    const bool fired = co_await body();
    if (gone(watch, generation)) co_return std::nullopt;
    if (fired) {
        async::Clock& clock = camera_.runtime().clock();
        const auto deadline = clock.monotonic() + async::Seconds(waitSeconds);
        while (shotCount() == before && clock.monotonic() < deadline && state_ == State::on) {
            co_await async::sleep(0.1);
            if (gone(watch, generation)) co_return std::nullopt;
        }
    }
    co_await camera_.waitUntilReady(60);
    if (gone(watch, generation) || state_ != State::on) co_return std::nullopt;

    bool restarted = false;
    bool mediaOK = true;
    if (switchedToSDRAM_) {
        auto sdram = co_await writeMedia(true);
        if (gone(watch, generation)) co_return std::nullopt;
        if (!sdram) {
            mediaOK = false;
            writeLog(QString::fromUtf8("ライブビュー: 撮影後の再開で失敗 ") +
                     describe(sdram.error()));
        }
    }
    if (mediaOK) {
        auto begun = co_await beginAndWaitForFrame();
        if (gone(watch, generation)) co_return std::nullopt;
        if (begun) {
            restarted = begun.value();
        } else if (isFailure(begun.error(), Failure::stopped)) {
            // A stop arrived meanwhile and has cleaned up already.
            co_return std::nullopt;
        } else {
            writeLog(QString::fromUtf8("ライブビュー: 撮影後の再開で失敗 ") +
                     describeError(begun.error()));
        }
    }
    if (restarted) co_return std::nullopt;
    setSuspended(false);
    pauseCount_ = 0;
    co_await stop(QString::fromUtf8("撮影後に開き直せなかった"));
    co_return std::nullopt;
}

// --- Repair ---

async::Task<void> NikonLiveView::restoreIfInterrupted(PTPCamera& camera, LogFn log) {
    const auto write = [&log](const char* line) {
        if (log) log(QString::fromUtf8(line));
    };
    const auto status = co_await camera.integer(PTP::Prop::nikonLiveViewStatus, false);
    if (status == 1) {
        auto ended = co_await camera.send(PTP::Op::nikonEndLiveView);
        (void)ended;
        auto returned = co_await camera.send(PTP::Op::nikonChangeCameraMode, args(0));
        (void)returned;
        write("前回のライブビューが残っていたので止めた");
    }
    const auto media = co_await camera.integer(PTP::Prop::nikonRecordingMedia, false);
    if (media == 1) {
        Bytes card(1, 0);
        auto written =
            co_await camera.send(PTP::Op::setDevicePropValue,
                                 args(PTP::code(PTP::Prop::nikonRecordingMedia)), std::move(card));
        (void)written;
        write("記録先が SDRAM のまま残っていたのでカードに戻した");
    }
}

}  // namespace pexil
