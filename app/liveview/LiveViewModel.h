#pragma once

#include "app/base/LiveAids.h"
#include "app/shots/FrameAnalysis.h"
#include "kit/async/Completion.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/liveview/NikonLiveView.h"
#include "kit/ptp/Result.h"

#include <QImage>
#include <QObject>
#include <QString>

#include <QPointF>
#include <QRectF>

#include <array>
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
// queued) and turned upright, with the rate at which they are shown. Focusing from the
// picture: the AF area the body reports, moving it, driving the lens by hand. The aids
// chosen (peaking, histogram, clipping) are worked out on the frame queue with each frame.
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
    async::Runtime& runtime() const { return runtime_; }
    NikonLiveView::State state() const {
        return view_ ? view_->state() : NikonLiveView::State::off;
    }
    bool isLive() const { return isLive_; }
    const QImage& frame() const { return frame_; }  // null: none
    int fps() const { return fps_; }
    // The running view, for a shot taken while it runs; null without one.
    NikonLiveView* view() const { return view_.get(); }

    // --- Focusing from the live picture ---
    // Whether the body offers moving the AF area, and driving the lens.
    bool canMoveAfArea() const;
    bool canDriveFocus() const;
    // The header of the frame shown; none before one came, or when the body sends none.
    const std::optional<LiveViewHeader>& header() const { return header_; }
    // The AF area on the picture shown, in fractions of its width and height.
    std::optional<QRectF> afArea() const;
    FocusJudgement judgement() const { return header_ ? header_->judgement : FocusJudgement::none; }
    // Moves the AF area to `shown` (fractions of the picture shown). None when it moved,
    // else the user's text why not.
    async::Task<std::optional<QString>> moveAfArea(QPointF shown);
    // Drives the lens `steps` towards near or far; none when it moved the whole way, else
    // the user's text (at the end of the lens's range: "レンズの端に達しました。").
    async::Task<std::optional<QString>> driveFocus(PTPCamera::FocusDirection direction, int steps);
    // AF at the AF area: true when the body found focus.
    async::Task<bool> autofocus();
    // As above for the window: failures come through failed(); `then` runs after a move.
    void requestAfArea(QPointF shown, std::function<void()> then = {});
    void requestFocusDrive(PTPCamera::FocusDirection direction, int steps);
    // The body's own live-view zoom: its largest step (0 when it has none, or before live
    // view runs) and the step it is at; a step shows a part of the sensor around the AF area.
    int bodyZoomMax() const;
    int bodyZoom() const { return zoomDesc_ ? static_cast<int>(zoomDesc_->current) : 0; }
    async::Task<std::optional<QString>> setBodyZoom(int step);
    void requestBodyZoom(int step);
    // The three step sizes offered, small to large, in drive steps.
    static constexpr std::array<int, 3> focusSteps{20, 100, 500};
    static QString lensEndText();

    // --- Aids over the picture ---
    const LiveAids& aids() const { return aids_; }
    void setAids(const LiveAids& aids);
    void setPeakingColour(QRgb colour) { peakingColour_ = colour; }
    // What was worked out for the frame shown (empty parts for aids that are off).
    const FrameAnalysis& analysis() const { return analysis_; }

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
    void aidsChanged();
    // bodyZoomMax() or bodyZoom() changed.
    void bodyZoomChanged();
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
    async::Task<void> decodeFrame(QByteArray bytes, std::optional<LiveViewHeader> header);
    async::Task<void> readBodyZoom();
    // Why focusing cannot be asked for now (`offered`: the body has the operation); none
    // when it can.
    std::optional<QString> focusRefusal(bool offered, const char* notOffered) const;
    // Ends once no frame is decoding.
    async::Task<void> decoderFree();

    async::Runtime& runtime_;
    Log& log_;
    async::Executor& frameQueue_;
    QString memoryFile_;
    bool isLive_ = false;
    QImage frame_;
    std::optional<LiveViewHeader> header_;          // the frame shown's
    std::optional<PropDesc> zoomDesc_;              // the body's zoom, read once live view runs
    std::optional<LiveViewHeader> incomingHeader_;  // the next frame's, from the view
    LiveAids aids_;
    QRgb peakingColour_ = 0xFFFFD60A;
    FrameAnalysis analysis_;
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
