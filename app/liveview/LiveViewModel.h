#pragma once

#include "kit/async/Completion.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/liveview/NikonLiveView.h"
#include "kit/ptp/Result.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace pexil {

class Log;
class PTPCamera;
namespace async {
class Executor;
}

// Live view of the camera held: whether the body offers it, starting and stopping it, and its
// frames, decoded on the frame queue one at a time (those that come meanwhile are dropped, not
// queued), with the rate at which they are shown.
//
// Threads: main thread only, every call and every signal.
// Lifetime: destroying the model abandons its tasks and sends nothing to the camera.
class LiveViewModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isLive READ isLive NOTIFY isLiveChanged)
    Q_PROPERTY(QImage frame READ frame NOTIFY frameChanged)
    Q_PROPERTY(int fps READ fps NOTIFY fpsChanged)

public:
    // `memoryFile` is where the bodies that need their memory for live view are remembered
    // (empty: the preference store).
    LiveViewModel(async::Runtime& runtime, Log& log, async::Executor& frameQueue,
                  QString memoryFile, QObject* parent = nullptr);
    ~LiveViewModel() override;
    Q_DISABLE_COPY_MOVE(LiveViewModel)

    // A prepared camera: Nikon bodies other than the Nikon 1 offer live view. `identifier`
    // names the body in what live view remembers.
    void attach(const std::shared_ptr<PTPCamera>& camera, const QString& identifier);
    // The camera went away: nothing can be stopped or put back on it any more.
    void forget();
    // No camera: live view off, no frame, no rate.
    void clear();

    // Starts or stops it; failed() tells why a start did not happen.
    void toggle();
    // Stops it when it runs or starts, e.g. before the session is closed.
    async::Task<void> stopIfActive(QString why);

    bool available() const { return view_ != nullptr; }
    NikonLiveView::State state() const {
        return view_ ? view_->state() : NikonLiveView::State::off;
    }
    bool isLive() const { return isLive_; }
    const QImage& frame() const { return frame_; }  // null: none
    int fps() const { return fps_; }
    // The running view, for a shot taken while it runs; null without one.
    NikonLiveView* view() const { return view_.get(); }

    // Whether frames should wait (the owner is writing settings); may be empty.
    std::function<bool()> shouldPauseFrames;
    // Each frame as the camera sent it (a JPEG), before decoding; the bytes are valid only
    // during the call. For tools that keep the frames themselves.
    std::function<void(ByteView)> onFrameBytes;

signals:
    void isLiveChanged();
    // The view's own state (starting, on, stopping, off) changed.
    void stateChanged();
    void frameChanged();
    void fpsChanged();
    // A start that did not happen, in the user's words.
    void failed(const QString& message);

private:
    friend struct LiveViewModelProbe;  // tests feed frames without a camera

    void viewChanged();
    void drop();
    void setLive(bool live);
    void clearFrames();
    void frameArrived(ByteView frame);
    async::Task<void> run(bool start);
    async::Task<void> decodeFrame(QByteArray bytes);
    // Ends once no frame is decoding.
    async::Task<void> decoderFree();

    async::Runtime& runtime_;
    Log& log_;
    async::Executor& frameQueue_;
    QString memoryFile_;
    bool isLive_ = false;
    QImage frame_;
    int fps_ = 0;
    std::deque<double> frameTimes_;  // monotonic seconds of frames shown, the last second's
    bool frameInFlight_ = false;
    std::vector<async::Resolver<Done>> decoderWaiters_;
    // The view talks to this camera by reference: it stays alive as long as the view.
    std::shared_ptr<PTPCamera> camera_;
    std::unique_ptr<NikonLiveView> view_;
    std::uint64_t generation_ = 0;  // bumped whenever view_ is replaced or dropped
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
