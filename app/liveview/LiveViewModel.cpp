#include "app/liveview/LiveViewModel.h"

#include "app/session/Log.h"
#include "app/session/Preferences.h"
#include "app/shots/JpegDecoder.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/PTPCamera.h"

namespace pexil {

LiveViewModel::LiveViewModel(async::Runtime& runtime, Log& log, async::Executor& frameQueue,
                             QString memoryFile, QObject* parent)
    : QObject(parent),
      runtime_(runtime),
      log_(log),
      frameQueue_(frameQueue),
      memoryFile_(std::move(memoryFile)),
      scope_(runtime) {}

LiveViewModel::~LiveViewModel() {
    // Tasks first: none may resume into the view destroyed below.
    scope_.cancelAll();
    view_.reset();
}

void LiveViewModel::attach(const std::shared_ptr<PTPCamera>& camera, const QString& identifier) {
    drop();
    const bool nikon1 = camera->capabilities() && camera->capabilities()->isNikon1;
    if (!camera->speaksNikon() || nikon1) return;
    camera_ = camera;
    view_ = std::make_unique<NikonLiveView>(
        *camera, identifier, std::make_shared<StoredLiveViewMemory>(memoryFile_), log_.writer());
    view_->onChange = [this] { viewChanged(); };
    view_->onFrame = [this](ByteView frame) { frameArrived(frame); };
    view_->shouldPauseFrames = [this] { return shouldPauseFrames && shouldPauseFrames(); };
    view_->readyForFrame = [this] { return decoderFree(); };
}

void LiveViewModel::forget() {
    if (view_) view_->forget();
}

void LiveViewModel::clear() {
    drop();
    setLive(false);
    clearFrames();
}

void LiveViewModel::drop() {
    view_.reset();
    camera_.reset();
    ++generation_;
}

void LiveViewModel::toggle() {
    if (!view_) {
        emit failed(QString::fromUtf8("この機種ではライブビューを使えません。"));
        return;
    }
    scope_.spawn(run(view_->state() == NikonLiveView::State::off));
}

async::Task<void> LiveViewModel::run(bool start) {
    // The view is replaced when a new camera is ready: keep talking to the one we meant.
    NikonLiveView* view = view_.get();
    if (!view) co_return;
    const std::uint64_t generation = generation_;
    if (!start) {
        co_await view->stop(QString::fromUtf8("ボタン"));
        co_return;
    }
    const auto message = co_await view->start();
    if (generation == generation_ && message) emit failed(*message);
}

async::Task<void> LiveViewModel::stopIfActive(QString why) {
    if (view_ && view_->isActive()) co_await view_->stop(std::move(why));
}

void LiveViewModel::viewChanged() {
    if (!view_) return;
    const bool live = view_->state() != NikonLiveView::State::off;
    setLive(live);
    if (!live) clearFrames();
    emit stateChanged();
}

void LiveViewModel::setLive(bool live) {
    if (isLive_ == live) return;
    isLive_ = live;
    emit isLiveChanged();
}

void LiveViewModel::clearFrames() {
    if (!frame_.isNull()) {
        frame_ = QImage();
        emit frameChanged();
    }
    if (fps_ != 0) {
        fps_ = 0;
        emit fpsChanged();
    }
    frameTimes_.clear();
}

void LiveViewModel::frameArrived(ByteView frame) {
    if (onFrameBytes) onFrameBytes(frame);
    if (frameInFlight_) return;  // one frame decodes at a time; the rest are dropped, not queued
    frameInFlight_ = true;
    // The view into the frame is valid only during this call.
    QByteArray bytes(reinterpret_cast<const char*>(frame.data()),
                     static_cast<qsizetype>(frame.size()));
    scope_.spawn(decodeFrame(std::move(bytes)));
}

async::Task<void> LiveViewModel::decoderFree() {
    if (!frameInFlight_) co_return;
    auto wait = [this](async::Resolver<Done> resolver) {
        decoderWaiters_.push_back(std::move(resolver));
    };
    co_await async::waitFor<Done>(std::move(wait));
}

async::Task<void> LiveViewModel::decodeFrame(QByteArray bytes) {
    auto decode = [bytes = std::move(bytes)] {
        return JpegDecoder::decode(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size()));
    };
    auto image = co_await async::runOn(frameQueue_, std::move(decode));
    frameInFlight_ = false;
    for (const auto& waiter : std::exchange(decoderWaiters_, {})) waiter.resolve(Done{});
    if (!isLive_ || !image) co_return;  // live view ended meanwhile, or an undecodable frame
    frame_ = std::move(*image);
    emit frameChanged();
    const double now = runtime_.clock().monotonic().count();
    frameTimes_.push_back(now);
    while (!frameTimes_.empty() && now - frameTimes_.front() > 1.0) frameTimes_.pop_front();
    const int fps = static_cast<int>(frameTimes_.size());
    if (fps != fps_) {
        fps_ = fps;
        emit fpsChanged();
    }
}

}  // namespace pexil
