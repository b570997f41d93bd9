#pragma once

#include "app/naming/PictureNamer.h"
#include "kit/async/Clock.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace pexil {

class CameraLink;
class ImportLedger;
class PreferencesModel;

// Where pictures go and what went wrong putting them there: the destination folder of the
// preferences (handed to the link), the names tethered pictures are saved under, whether the
// folder takes files, the pictures that could not be saved this session, and trouble with
// the import record. The warning strip and the settings window show it.
//
// Threads: main thread only, every call and every signal.
class DestinationModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(std::optional<QString> problem READ problem NOTIFY problemChanged)
    Q_PROPERTY(QStringList failedTransfers READ failedTransfers NOTIFY failedTransfersChanged)
    Q_PROPERTY(std::optional<QString> ledgerProblem READ ledgerProblem NOTIFY ledgerProblemChanged)

public:
    DestinationModel(async::Clock& clock, PreferencesModel& prefs, CameraLink& link,
                     ImportLedger& ledger, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(DestinationModel)

    // Where a picture taken at `date` is saved.
    QString folder(const QDateTime& date) const;
    // The folder of now.
    QString folderNow() const { return folder(clock_.now()); }
    // Hands the folder of now to the link and checks that it takes files.
    void apply();
    // Why the folder of now takes no files; none when it does.
    std::optional<QString> check() const;

    // The camera's model for {model}; set by the session.
    std::function<QString()> cameraModel;
    // The camera's `cameraName` was saved under the name it was given: the counter moves on.
    void pictureSaved(const QString& cameraName);
    // The name the next shot would get, for the settings window: an example camera name
    // taken now.
    QString nextName() const;

    const std::optional<QString>& problem() const { return problem_; }
    const QStringList& failedTransfers() const { return failedTransfers_; }
    // The import record is damaged (and set aside) or cannot be written; none while all is well.
    const std::optional<QString>& ledgerProblem() const;

    // A new session: earlier failures are over.
    void clearFailures();
    // `name` could not be saved for `reason`. A read the camera broke off says nothing of the
    // folder; the settings window would otherwise send the photographer to choose another
    // destination for a cable fault.
    void transferFailed(const QString& name, const QString& reason, bool fromCamera);

signals:
    void problemChanged();
    void failedTransfersChanged();
    void ledgerProblemChanged();
    // The name the next shot gets has changed: a picture was saved under the counter.
    void nextNameChanged();

private:
    void setProblem(std::optional<QString> problem);

    async::Clock& clock_;
    PreferencesModel& prefs_;
    CameraLink& link_;
    ImportLedger& ledger_;
    std::optional<QString> problem_;
    QStringList failedTransfers_;
    PictureNamer namer_;
    QString lastCameraName_;  // the last picture saved, as the camera named it
};

}  // namespace pexil
