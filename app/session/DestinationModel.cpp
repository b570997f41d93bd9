#include "app/session/DestinationModel.h"

#include "app/base/Preferences.h"
#include "app/base/PreferencesModel.h"
#include "app/card/ImportLedger.h"
#include "app/connection/CameraLink.h"

#include <QFileInfo>

namespace pexil {

DestinationModel::DestinationModel(async::Clock& clock, PreferencesModel& prefs, CameraLink& link,
                                   ImportLedger& ledger, QObject* parent)
    : QObject(parent),
      clock_(clock),
      prefs_(prefs),
      link_(link),
      ledger_(ledger),
      namer_(prefs.store()) {
    ledger_.onProblemChanged = [this] { emit ledgerProblemChanged(); };
    link_.nameFor = [this](const camera::CameraFile& file, const QString& folder) {
        const QDateTime taken = file.creationDate().value_or(clock_.now());
        return namer_.nameFor(file.name(), taken, cameraModel ? cameraModel() : QString(), folder);
    };
}

QString DestinationModel::nextName() const {
    // A copy: a preview must not take the pending name of a shot on its way.
    PictureNamer preview = namer_;
    // The extension the camera saves now (JPEG or raw), once a picture told it.
    const QString suffix = QFileInfo(lastCameraName_).suffix();
    return preview.nameFor(
        QStringLiteral("DSC_0001.") + (suffix.isEmpty() ? QStringLiteral("NEF") : suffix),
        clock_.now(),
        cameraModel && !cameraModel().isEmpty() ? cameraModel() : QStringLiteral("D850"),
        folderNow());
}

void DestinationModel::pictureSaved(const QString& cameraName) {
    namer_.saved(cameraName);
    lastCameraName_ = cameraName;
    emit nextNameChanged();
}

QString DestinationModel::folder(const QDateTime& date) const { return prefs_.destination(date); }

void DestinationModel::apply() {
    // The preferences hold only templates that parse.
    auto parsed = NameTemplate::parse(prefs_.nameTemplate());
    namer_.configure(parsed ? parsed.value() : NameTemplate(), prefs_.sessionName());
    link_.destination = folderNow();
    setProblem(check());
}

std::optional<QString> DestinationModel::check() const {
    return Preferences::checkDestination(folderNow());
}

const std::optional<QString>& DestinationModel::ledgerProblem() const { return ledger_.problem(); }

void DestinationModel::clearFailures() {
    if (failedTransfers_.isEmpty()) return;
    failedTransfers_.clear();
    emit failedTransfersChanged();
}

void DestinationModel::transferFailed(const QString& name, const QString& reason,
                                      bool fromCamera) {
    failedTransfers_ << name;
    emit failedTransfersChanged();
    if (!fromCamera) setProblem(reason);
}

void DestinationModel::setProblem(std::optional<QString> problem) {
    if (problem_ == problem) return;
    problem_ = std::move(problem);
    emit problemChanged();
}

}  // namespace pexil
