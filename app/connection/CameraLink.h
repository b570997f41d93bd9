#pragma once

#include "app/base/Log.h"
#include "camera/service/CameraDevice.h"
#include "camera/service/CameraFile.h"
#include "camera/service/DeviceBrowser.h"
#include "camera/usb/UsbCameraWatcher.h"
#include "kit/async/Lifetime.h"
#include "kit/async/Runtime.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/ptp/PTPCamera.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/Result.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace pexil {

// The one object through which the application reaches a camera: it watches the camera
// service for a camera, opens and closes its session when the owner asks, prepares the
// session (DeviceInfo, camera clock, object count) before declaring it ready, forwards the
// camera's events, keeps the catalogue of the card and saves every fresh shot into the
// destination folder, one at a time and in the order they were taken.
//
// Threads: main thread only: construction, every call, every signal. The camera service
// answers on the main thread too.
// Signals: none is emitted from inside open(), close() or the constructor.
// Lifetime: destroying the link abandons its tasks (preparation, settle timer, downloads
// waiting for their transfer); nothing of it runs afterwards.
class CameraLink final : public QObject, private camera::CameraDeviceListener {
    Q_OBJECT
public:
    struct Phase {
        enum class Kind { closed, searching, detected, opening, preparing, ready, reconnecting };
        Kind kind = Kind::closed;
        QString name;     // the camera's name for detected, opening, preparing, ready, reconnecting
        QDateTime since;  // detected: when the camera appeared on USB; reconnecting: the next try

        static Phase closed() { return {}; }
        static Phase searching() { return {Kind::searching, {}, {}}; }
        static Phase detected(QString name, QDateTime since) {
            return {Kind::detected, std::move(name), std::move(since)};
        }
        static Phase opening(QString name) { return {Kind::opening, std::move(name), {}}; }
        static Phase preparing(QString name) { return {Kind::preparing, std::move(name), {}}; }
        static Phase ready(QString name) { return {Kind::ready, std::move(name), {}}; }
        static Phase reconnecting(QString name, QDateTime next) {
            return {Kind::reconnecting, std::move(name), std::move(next)};
        }
        friend bool operator==(const Phase&, const Phase&) = default;
    };

    // Why a download saved nothing: the camera's side or the destination's; message() is
    // the complete user-facing description.
    using DownloadFailure = camera::DownloadError;
    // The path of the saved file, or why nothing was saved.
    using DownloadResult = Result<QString, DownloadFailure>;
    using CameraFilePtr = std::shared_ptr<camera::CameraFile>;

    // Browses `sources` for cameras (only the first reported is used until it is removed)
    // and starts `usb`, which may be null: it only tells the user what is plugged in while
    // the camera service is not yet reporting it. `log` must outlive the link.
    CameraLink(async::Runtime& runtime, Log& log,
               std::vector<std::unique_ptr<camera::DeviceSource>> sources,
               std::unique_ptr<camera::UsbCameraWatcher> usb);
    ~CameraLink();
    CameraLink(const CameraLink&) = delete;
    CameraLink& operator=(const CameraLink&) = delete;

    // The owner wants a session whenever a camera is available.
    void open();
    // The owner no longer wants a session; an open one is closed (errors only logged).
    void close();
    // A camera on the network that was lost is tried again after 1, 2, 5, 10 and 30 s, then
    // every 30 s, while the owner wants a session (phase reconnecting, with the time of the
    // next try). This tries at once.
    void reconnectNow();
    static constexpr std::array<double, 5> reconnectDelays{1, 2, 5, 10, 30};

    const Phase& phase() const { return phase_; }
    // The address of the camera held, when it is reached over the network.
    std::optional<QString> networkAddress() const;
    // None outside a prepared or preparing session.
    const std::shared_ptr<PTPCamera>& camera() const { return camera_; }
    // Asks a Nikon for the events it queued; they arrive as cameraEvent like the others (and
    // new pictures are saved as such), then are given back here in the camera's order.
    async::Task<Result<std::vector<PTPEvent>, CameraError>> pollEvents();

    // Where fresh shots go (read when each save starts); the owner sets it before open().
    QString destination;
    // The name a fresh shot is saved under in `folder` (the photographer's naming); read once
    // per file, when its save starts. Empty, or answering empty: the camera's name.
    std::function<QString(const camera::CameraFile& file, const QString& folder)> nameFor;
    // Whether fresh shots leave the card once they are safely on disk (read per file).
    bool deleteAfterDownload = false;
    // Whether a picture on the card was saved before, by an earlier run into the destination
    // (the import record knows it): such a picture is never saved again as a fresh shot. May
    // be empty.
    std::function<bool(const camera::CameraFile& file)> alreadySaved;

    // A release is being sent: the objects the camera announces as new from now on are what
    // it made, saved whatever the camera's clock says of them. Each call starts a new release.
    void expectRelease();
    // Whether `file` was announced after a release of this session, i.e. made by one.
    bool madeByRelease(const camera::CameraFile& file) const;
    // Whether `file` is a fresh shot the link has taken on: waiting, saving or saved. It
    // counts as imported from that moment; a save that fails gives it up again.
    bool isClaimed(const camera::CameraFile& file) const;

    // Whether the service's catalogue-complete notice settles the catalogue at once when the
    // camera's object count agrees; off, only 1.5 s without reports after the notice does.
    bool settleOnCatalogComplete = true;

    // The card catalogue of the current session: key "FOLDER/NAME" ("/NAME" without folder).
    const std::map<QString, CameraFilePtr>& cardFiles() const { return cardFiles_; }
    // Whether the catalogue has been judged complete in this session.
    bool cardSettled() const { return cardSettled_; }
    // Objects (files and folders) the camera counts; none while unknown or when counting failed.
    std::optional<int> cardExpected() const { return cardExpected_; }
    // Transfers in flight, fresh shots and card imports together.
    int downloading() const { return downloading_; }
    // Camera clock behind ours, in seconds (negative when ahead), measured when the session was
    // prepared; none before or when the camera's clock could not be read.
    std::optional<double> clockDrift() const { return clockDrift_; }
    // When the USB watcher saw the camera now plugged in appear; none without one.
    std::optional<QDateTime> usbCameraSince() const;

    // Saves `file` (not null) into `folder` (created with its parents) under the camera's name
    // made safe (savedNameFor), or NAME-1.EXT, NAME-2.EXT … when taken; optionally removes it
    // from the card once it is on disk. Never leaves a partial file under a real name; the
    // folder, the name and the disk are the camera service's business, off the main thread.
    // Answers once, on the main thread; there is no time-out of its own (the transfer ends with
    // the session at worst). When only the deletion failed, the file counts as saved and the
    // log says so.
    // `progress`, when given, hears of the bytes received on the main thread. `name`, when
    // given, is saved under instead of the camera's.
    using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;
    async::Task<DownloadResult> download(CameraFilePtr file, QString folder, bool deleteFromCard,
                                         Progress progress = {}, QString name = {});

    // The name a camera file is saved under: the camera's own, except that characters that
    // would leave the folder or hide the file (separators, NUL, a leading dot) become "_",
    // and an empty name becomes "_". The camera is outside data; its names are not trusted.
    static QString savedNameFor(const QString& cameraName) {
        return camera::safeFileName(cameraName);
    }

signals:
    void phaseChanged(const pexil::CameraLink::Phase& phase);
    // The session is prepared; the camera may be driven.
    void cameraReady(const std::shared_ptr<pexil::PTPCamera>& camera);
    // A live or starting session ended without the owner asking; the text, when there is
    // one, is for the user.
    void cameraLost(const std::optional<QString>& reason);
    void cameraEvent(const pexil::PTPEvent& event);
    // A fresh shot was saved at `path`.
    void fileSaved(const QString& path, const pexil::CameraLink::CameraFilePtr& file);
    // A fresh shot could not be saved; fromCamera tells a failed read from the camera (the
    // destination is not to blame) from a destination that refused the file.
    void downloadFailed(const QString& name, const QString& message, bool fromCamera);
    // A fresh shot is on its way to the disk: its name, bytes received and the size the
    // camera announced; first with 0 received when its transfer starts.
    void shotProgress(const QString& name, quint64 received, quint64 total);
    // The card catalogue changed; coalesced to at most one per 0.3 s.
    void cardChanged();
    // The catalogue was judged complete (cardSettled() turned true), at once.
    void cardSettledNow();
    // downloading() changed.
    void downloadingChanged();

private:
    using DevicePtr = std::shared_ptr<camera::CameraDevice>;

    void setPhase(Phase phase);
    Phase waitingPhase() const;
    void write(const QString& line) const { log_.write(line); }
    void begin(const DevicePtr& device);
    void resetSession();
    void deviceAdded(const DevicePtr& device);
    void deviceRemoved(const DevicePtr& device);
    void sessionOpened(const DevicePtr& device, std::optional<TransportError> error) override;
    void sessionClosed(const DevicePtr& device, std::optional<TransportError> error) override;
    void itemsAdded(const DevicePtr& device, const camera::CameraItems& items) override;
    void catalogComplete(const DevicePtr& device) override;
    void ptpEvent(const DevicePtr& device, const PTPEvent& event) override;
    async::Task<void> prepare(std::shared_ptr<PTPCamera> cam, double t0);
    void scheduleReconnect(const QString& name);
    async::Task<void> reconnectAfter(double seconds);
    void stopReconnecting();

    // Catalogue and classification.
    void cardFilesArrived(const std::vector<CameraFilePtr>& files);
    void ingest(const std::vector<CameraFilePtr>& files, bool added);
    bool isFresh(const camera::CameraFile& file) const;
    static QString shotKey(const camera::CameraFile& file);
    void scheduleSettle();
    async::Task<void> settle();
    void settleNow();
    async::Task<void> countObjects(std::shared_ptr<PTPCamera> cam);
    void notifyCardChanged();
    async::Task<void> deliverCardChanged();

    // Downloads of fresh shots.
    async::Task<void> drainQueue();
    async::Task<void> save(CameraFilePtr file);
    void fail(const QString& name, const QString& message, bool fromCamera);

    async::Runtime& runtime_;
    Log& log_;
    Phase phase_;
    std::shared_ptr<PTPCamera> camera_;
    std::map<QString, CameraFilePtr> cardFiles_;
    bool cardSettled_ = false;
    std::optional<int> cardExpected_;
    bool serviceCatalogComplete_ = false;
    std::optional<async::TaskHandle> settleTask_;
    bool cardNotifyPending_ = false;
    int downloading_ = 0;
    std::unique_ptr<camera::DeviceBrowser> browser_;
    std::unique_ptr<camera::UsbCameraWatcher> usb_;
    DevicePtr device_;
    bool wantsSession_ = false;
    std::optional<QDateTime> openedAt_;
    // Reconnection: tries so far, the timer, and since when pictures count as fresh, carried
    // over from the lost session so that shots taken while away are saved.
    int reconnects_ = 0;
    bool reconnecting_ = false;
    std::optional<async::TaskHandle> reconnectTask_;
    std::optional<QDateTime> freshSince_;
    QString lostName_;
    std::optional<double> clockDrift_;
    QString modelName_;  // a network camera's model, once its DeviceInfo is read
    bool classifyReady_ = false;
    std::vector<CameraFilePtr> pendingFiles_;
    std::set<QString> seenNames_;
    std::set<QString> savedFiles_;
    std::set<QString> claimed_;  // shotKey of this session's fresh shots queued, saving or saved
    std::optional<int> openRelease_;  // the release whose products arrive now
    int releases_ = 0;
    std::map<QString, int> madeBy_;  // shotKey → release, this session
    std::deque<CameraFilePtr> queue_;
    bool draining_ = false;
    async::Lifetime lifetime_;
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
