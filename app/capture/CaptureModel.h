#pragma once

#include "app/connection/ConnectionState.h"
#include "app/shots/Shot.h"
#include "kit/async/Spawn.h"
#include "kit/async/Task.h"
#include "kit/ptp/PTPCamera.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace pexil {

class CameraLink;
class CameraSettingsModel;
class LiveViewModel;
class PreferencesModel;
namespace camera {
class CameraFile;
}

// The shutter and autofocus of the camera held. One release at a time: busy from the press
// until the camera's answer (and, in live view, until its picture is announced); the picture
// between the shutter and the disk; the autofocus result, shown for two seconds.
//
// Answers that come back for a camera no longer attached are dropped here.
// Threads: main thread only.
class CaptureModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(pexil::AFState afState READ afState NOTIFY afStateChanged)

public:
    using CameraPtr = std::shared_ptr<PTPCamera>;

    // What a release asks of the rest of the session.
    struct Session {
        // How many new pictures the camera has announced so far, on either channel.
        std::function<int()> announcements;
        // Whether this camera tells of new pictures only in the answer to CheckEvent; then
        // `poll` asks once while a shot is stored with live view down.
        std::function<bool(const PTPCamera&)> announcesByPolling;
        std::function<async::Task<bool>(CameraPtr)> poll;
    };

    CaptureModel(async::Runtime& runtime, CameraLink& link, CameraSettingsModel& settings,
                 LiveViewModel& live, PreferencesModel& prefs, Session session,
                 QObject* parent = nullptr);
    ~CaptureModel() override;
    Q_DISABLE_COPY_MOVE(CaptureModel)

    void attach(CameraPtr camera);
    // The camera is gone: idle, nothing on its way, and answers still coming are dropped.
    void clear();

    bool busy() const { return busy_; }
    const AFState& afState() const { return afState_; }
    // The picture the camera is making or sending; none when nothing is on its way.
    const std::optional<IncomingShot>& incoming() const { return incoming_; }
    // How long a release may take to bring its picture: the exposure time twice, plus 15 s.
    double captureWaitSeconds() const;

    // Releases the shutter, after autofocus when the preferences ask for it.
    void shoot();
    // One shot as shoot() takes it, for series that go on once each picture is in: true once
    // the picture it made is saved; false when it could not be taken (busy, no camera, the
    // release refused) or its picture did not come within the time a shot may take.
    async::Task<bool> shootAndWait(bool autofocusFirst);
    void autofocus();

    // What the link tells of pictures: bytes arriving; a picture saved or failed, so nothing
    // is on its way; one saved (counted when a release of this session made it).
    void pictureProgress(const QString& name, quint64 received, quint64 total);
    void pictureEnded();
    void pictureSaved(const QString& path, const camera::CameraFile* file);

signals:
    void busyChanged();
    void afStateChanged();
    void incomingChanged();
    // A saved picture that one of this session's releases made.
    void releasedShotSaved(const QString& path);
    // A release the camera refused, or a shot abandoned, in the program's words.
    void failed(const QString& message);

private:
    using CameraWeak = std::weak_ptr<PTPCamera>;

    bool current(const CameraWeak& camera) const;
    async::Task<void> capture(bool autofocusFirst);
    async::Task<bool> release(CameraPtr camera, bool autofocusFirst);
    async::Task<bool> releaseThenPoll(CameraPtr camera, bool autofocusFirst,
                                      std::shared_ptr<bool> storing, CameraWeak weak);
    async::Task<void> pollWhileStoring(CameraWeak camera, std::shared_ptr<bool> storing);
    async::Task<void> runAutofocus(CameraPtr camera);
    // Takes back the wait for a released picture that never came.
    async::Task<void> giveUpIncoming(double seconds);
    void setBusy(bool busy);
    void setIncoming(std::optional<IncomingShot> incoming);
    void setAFState(AFState state);

    CameraLink& link_;
    CameraSettingsModel& settings_;
    LiveViewModel& live_;
    PreferencesModel& prefs_;
    Session session_;
    CameraPtr camera_;
    bool busy_ = false;
    bool lastReleased_ = false;  // whether the last release went out
    int releasedSaved_ = 0;      // pictures of this session's releases saved
    std::optional<IncomingShot> incoming_;
    AFState afState_;
    std::uint64_t afGeneration_ = 0;
    // Last, so its tasks are abandoned before any member they use goes away.
    async::Scope scope_;
};

}  // namespace pexil
