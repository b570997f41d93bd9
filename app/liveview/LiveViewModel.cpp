#include "app/liveview/LiveViewModel.h"

#include "app/base/Log.h"
#include "app/base/Preferences.h"
#include "app/shots/JpegDecoder.h"
#include "kit/async/WorkQueue.h"
#include "kit/ptp/PTPCamera.h"

#include <QTransform>

#include <algorithm>

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
    view_->onHeader = [this](const LiveViewHeader& header) { incomingHeader_ = header; };
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
    if (view_->state() == NikonLiveView::State::on && !zoomDesc_) scope_.spawn(readBodyZoom());
    if (!live && zoomDesc_) {
        zoomDesc_.reset();
        emit bodyZoomChanged();
    }
    emit stateChanged();
}

async::Task<void> LiveViewModel::readBodyZoom() {
    // DSLRs list their own properties apart from DeviceInfo: the body is simply asked.
    const std::shared_ptr<PTPCamera> camera = camera_;
    if (!camera) co_return;
    const std::uint64_t generation = generation_;
    auto desc = co_await camera->describe(PTP::Prop::nikonLiveViewZoom);
    if (generation != generation_ || !isLive_ || !desc || !desc->writable ||
        desc->choices.size() < 2)
        co_return;
    zoomDesc_ = std::move(desc);
    emit bodyZoomChanged();
}

int LiveViewModel::bodyZoomMax() const {
    if (!zoomDesc_) return 0;
    return static_cast<int>(
        *std::max_element(zoomDesc_->choices.begin(), zoomDesc_->choices.end()));
}

async::Task<std::optional<QString>> LiveViewModel::setBodyZoom(int step) {
    if (auto refused =
            focusRefusal(zoomDesc_.has_value(), "この機種ではライブビューを拡大できません。"))
        co_return refused;
    const std::shared_ptr<PTPCamera> camera = camera_;
    const PropDesc desc = *zoomDesc_;
    const std::uint64_t generation = generation_;
    auto written = co_await camera->write(desc, std::clamp(step, 0, bodyZoomMax()));
    if (!written)
        co_return QString::fromUtf8("ライブビューを拡大できませんでした（%1）。")
            .arg(describe(written.error()));
    if (generation == generation_ && zoomDesc_) {
        zoomDesc_->current = std::clamp(step, 0, bodyZoomMax());
        emit bodyZoomChanged();
    }
    co_return std::nullopt;
}

void LiveViewModel::requestBodyZoom(int step) {
    auto run = [](LiveViewModel* self, int to) -> async::Task<void> {
        const auto failure = co_await self->setBodyZoom(to);
        if (failure) emit self->failed(*failure);
    };
    scope_.spawn(run(this, step));
}

void LiveViewModel::setLive(bool live) {
    if (isLive_ == live) return;
    isLive_ = live;
    emit isLiveChanged();
}

void LiveViewModel::clearFrames() {
    header_.reset();
    incomingHeader_.reset();
    analysis_ = {};
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
    auto header = std::exchange(incomingHeader_, std::nullopt);
    if (frameInFlight_) return;  // one frame decodes at a time; the rest are dropped, not queued
    frameInFlight_ = true;
    // The view into the frame is valid only during this call.
    QByteArray bytes(reinterpret_cast<const char*>(frame.data()),
                     static_cast<qsizetype>(frame.size()));
    scope_.spawn(decodeFrame(std::move(bytes), std::move(header)));
}

async::Task<void> LiveViewModel::decoderFree() {
    if (!frameInFlight_) co_return;
    auto wait = [this](async::Resolver<Done> resolver) {
        decoderWaiters_.push_back(std::move(resolver));
    };
    co_await async::waitFor<Done>(std::move(wait));
}

async::Task<void> LiveViewModel::decodeFrame(QByteArray bytes,
                                             std::optional<LiveViewHeader> header) {
    struct Decoded {
        QImage image;
        FrameAnalysis analysis;
    };
    const int turns = header ? LiveViewGeometry(*header).quarterTurns() : 0;
    auto decode = [bytes = std::move(bytes), turns, aids = aids_,
                   colour = peakingColour_]() -> std::optional<Decoded> {
        auto image = JpegDecoder::decode(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                         static_cast<std::size_t>(bytes.size()));
        if (!image) return std::nullopt;
        Decoded out;
        out.image =
            turns == 0 ? std::move(*image) : image->transformed(QTransform().rotate(90.0 * turns));
        out.analysis = analyseFrame(out.image, aids, colour);
        return out;
    };
    auto decoded = co_await async::runOn(frameQueue_, std::move(decode));
    frameInFlight_ = false;
    for (const auto& waiter : std::exchange(decoderWaiters_, {})) waiter.resolve(Done{});
    if (!isLive_ || !decoded) co_return;  // live view ended meanwhile, or an undecodable frame
    frame_ = std::move(decoded->image);
    analysis_ = std::move(decoded->analysis);
    header_ = std::move(header);
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

// --- Focusing ---

bool LiveViewModel::canMoveAfArea() const {
    return camera_ && camera_->offers(PTP::Op::nikonChangeAfArea);
}

bool LiveViewModel::canDriveFocus() const {
    return camera_ && camera_->offers(PTP::Op::nikonMfDrive);
}

std::optional<QRectF> LiveViewModel::afArea() const {
    if (!header_) return std::nullopt;
    const QRectF area = LiveViewGeometry(*header_).afArea();
    if (area.isEmpty()) return std::nullopt;
    return area;
}

QString LiveViewModel::lensEndText() {
    return QString::fromUtf8("レンズの端に達しました。");
}

std::optional<QString> LiveViewModel::focusRefusal(bool offered, const char* notOffered) const {
    if (!camera_ || !view_) return QString::fromUtf8("カメラがつながっていません。");
    if (!offered) return QString::fromUtf8(notOffered);
    if (view_->state() != NikonLiveView::State::on)
        return QString::fromUtf8("ライブビュー中だけ使えます。");
    return std::nullopt;
}

async::Task<std::optional<QString>> LiveViewModel::moveAfArea(QPointF shown) {
    if (auto refused = focusRefusal(canMoveAfArea(), "この機種では AF エリアを動かせません。"))
        co_return refused;
    if (!header_) co_return QString::fromUtf8("ライブビューの映像がまだ来ていません。");
    const QPoint whole = LiveViewGeometry(*header_).toWhole(shown);
    const std::shared_ptr<PTPCamera> camera = camera_;
    auto moved = co_await camera->changeAfArea(whole);
    if (moved) {
        log_.write(
            QString::fromUtf8("ライブビュー: AF エリアを %1,%2 へ").arg(whole.x()).arg(whole.y()));
        co_return std::nullopt;
    }
    co_return QString::fromUtf8("AF エリアを動かせませんでした（%1）。")
        .arg(describe(moved.error()));
}

async::Task<std::optional<QString>> LiveViewModel::driveFocus(PTPCamera::FocusDirection direction,
                                                              int steps) {
    if (auto refused = focusRefusal(canDriveFocus(), "この機種ではピントを手動で送れません。"))
        co_return refused;
    const std::shared_ptr<PTPCamera> camera = camera_;
    auto driven = co_await camera->driveFocus(direction, steps);
    if (driven) co_return std::nullopt;
    if (responseCodeOf(driven.error()) == PTP::Response::nikonMfDriveStepEnd)
        co_return lensEndText();
    co_return QString::fromUtf8("ピントを送れませんでした（%1）。").arg(describe(driven.error()));
}

async::Task<bool> LiveViewModel::autofocus() {
    if (!camera_) co_return false;
    const std::shared_ptr<PTPCamera> camera = camera_;
    const auto focused = co_await camera->autofocus();
    co_return focused.value_or(false);
}

void LiveViewModel::requestAfArea(QPointF shown, std::function<void()> then) {
    auto run = [](LiveViewModel* self, QPointF at,
                  std::function<void()> next) -> async::Task<void> {
        const auto failure = co_await self->moveAfArea(at);
        if (failure)
            emit self->failed(*failure);
        else if (next)
            next();
    };
    scope_.spawn(run(this, shown, std::move(then)));
}

void LiveViewModel::requestFocusDrive(PTPCamera::FocusDirection direction, int steps) {
    auto run = [](LiveViewModel* self, PTPCamera::FocusDirection towards,
                  int amount) -> async::Task<void> {
        const auto failure = co_await self->driveFocus(towards, amount);
        if (failure) emit self->failed(*failure);
    };
    scope_.spawn(run(this, direction, steps));
}

void LiveViewModel::setAids(const LiveAids& aids) {
    if (aids == aids_) return;
    aids_ = aids;
    // The frame shown keeps what was worked out for it until the next one comes.
    if (!aids_.analyses()) analysis_ = {};
    emit aidsChanged();
}

}  // namespace pexil
