#pragma once

#include "kit/async/Lifetime.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/liveview/LiveViewHeader.h"
#include "kit/liveview/LiveViewMemory.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCamera.h"
#include "kit/ptp/PTPError.h"
#include "kit/ptp/Result.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <variant>

namespace pexil {

// The live picture of a Nikon DSLR over PTP, one object per camera session. start() takes
// control of the camera and makes it start live view (recording to the camera's memory when
// the card destination yields no picture, and remembering that for this camera); a loop then
// fetches frames back to back and hands each JPEG to onFrame. whileSuspended() pauses live
// view around a shot; the clean-up always ends live view, sets the recording destination
// back to the card and returns control to the camera.
//
// Threads: main thread only. Every command goes through `camera`, which must outlive this
// object; the frame loop is a task of this object and ends with it. Tasks still running in a
// caller's coroutine when the object is destroyed resume into nothing of it and end quietly.
// Time: all waits are on the camera's runtime clock.
class NikonLiveView {
public:
    enum class State { off, starting, on, stopping };
    using LogFn = std::function<void(const QString&)>;

    // `cameraIdentifier` names the camera in `memory`, which remembers that it needs SDRAM
    // (key "liveViewNeedsSDRAM." + identifier); `memory` is not null.
    NikonLiveView(PTPCamera& camera, QString cameraIdentifier,
                  std::shared_ptr<LiveViewMemory> memory, LogFn log = {});
    ~NikonLiveView();
    NikonLiveView(const NikonLiveView&) = delete;
    NikonLiveView& operator=(const NikonLiveView&) = delete;

    // Every change of state() or suspended().
    std::function<void()> onChange;
    // One JPEG frame; the view is valid only during the call (no copy is made).
    std::function<void(ByteView)> onFrame;
    // What the header in front of each frame says, just before onFrame; frames whose header
    // does not parse come without it.
    std::function<void(const LiveViewHeader&)> onHeader;
    // Asked before every frame fetch; true skips the fetch (polled every 0.06 s).
    std::function<bool()> shouldPauseFrames;
    // Awaited between fetching a frame and delivering it: a consumer still busy with the
    // previous frame holds this one back instead of dropping it, while the next fetch waits
    // behind it. The camera's transfer of a frame thus overlaps the decoding of the one
    // before. Empty: every frame is delivered as soon as it arrives.
    std::function<async::Task<void>()> readyForFrame;

    State state() const { return state_; }
    bool isActive() const { return state_ != State::off; }
    bool suspended() const { return suspended_; }
    const QString& rememberKey() const { return rememberKey_; }

    // None when live view is on, when it was already running or starting, or when stop()
    // or forget() cancelled the start; otherwise the reason, for the user, why it did not
    // start. Ends with state() on, or off after the clean-up.
    async::Task<std::optional<QString>> start();
    // Ends live view (`reason` goes into the log). While starting it only asks the start to
    // give up at its next step; off or stopping: nothing.
    async::Task<void> stop(QString reason);
    // Runs `body` (the shot; true when a shot was triggered) with live view paused: ends live
    // view and records to the card for the shot, waits up to `waitSeconds` for shotCount()
    // to change and for the camera to be ready (at most 60 s), then restarts live view.
    // Text only when the shot was abandoned because the card could not be restored.
    async::Task<std::optional<QString>> whileSuspended(std::function<int()> shotCount,
                                                       double waitSeconds,
                                                       std::function<async::Task<bool>()> body);
    // The camera is gone: drops all state without sending anything; a start in progress
    // ends without clean-up.
    void forget();

    // Repairs a camera a previous run left in live view or recording to SDRAM. `camera`
    // must stay alive until the task ends.
    static async::Task<void> restoreIfInterrupted(PTPCamera& camera, LogFn log);
    // The JPEG of a GetLiveViewImg answer, as a view into `in` (see liveViewJpeg).
    static std::optional<ByteView> jpeg(ByteView in);
    // The user's message for a refused start, from the prohibition bits (none: unreadable).
    static QString explanation(std::optional<std::uint32_t> prohibition);

private:
    enum class Failure { noFrames, stopped, gone };
    using Error = std::variant<Failure, CameraError>;
    template <class T>
    using Outcome = Result<T, Error>;

    static QString describeError(const Error& error);
    static bool isFailure(const Error& error, Failure failure);

    // Whether the coroutine that took `watch` in generation `generation` may go on.
    bool gone(const async::Lifetime::Watch& watch, std::uint64_t generation) const {
        return !watch.alive() || generation != generation_;
    }

    async::Task<Outcome<Done>> startSequence();
    async::Task<Outcome<bool>> beginAndWaitForFrame();
    async::Task<void> runLoop();
    void startLoop();
    async::Task<void> teardown();
    async::Task<QString> explain(Error error);
    async::Task<QString> cameraState();
    async::Task<CameraResult<Done>> writeMedia(bool sdram);
    async::Task<CameraResult<Done>> setMedia(bool sdram);
    async::Task<std::optional<QString>> pausedShot(std::function<int()> shotCount,
                                                   double waitSeconds,
                                                   std::function<async::Task<bool>()> body);

    bool rememberedSDRAM() const;
    void rememberSDRAM() const;
    void setState(State state);
    void setSuspended(bool suspended);
    // Hands on the picture of a GetLiveViewImg answer; false when it holds none. A body that
    // answers faster than its sensor sends the same picture again: that one is not handed
    // on (`repeated` tells), so nothing downstream works twice on one frame.
    bool deliver(ByteView answer, bool* repeated = nullptr);
    void writeLog(const QString& line) const {
        if (log_) log_(line);
    }

    PTPCamera& camera_;
    QString rememberKey_;
    LogFn log_;
    std::shared_ptr<LiveViewMemory> memory_;
    State state_ = State::off;
    bool suspended_ = false;
    bool tookControl_ = false;
    bool switchedToSDRAM_ = false;
    bool stopRequested_ = false;
    int pauseCount_ = 0;
    std::size_t lastFrameHash_ = 0;
    // Bumped by forget(): coroutines of an earlier generation talk to the camera no more.
    std::uint64_t generation_ = 0;
    async::Lifetime lifetime_;
    // The frame loop in a scope of its own: dropping it destroys the loop wherever it waits,
    // so a stopped loop never sends another command.
    std::unique_ptr<async::Scope> loop_;
    async::Scope tasks_;
};

}  // namespace pexil
