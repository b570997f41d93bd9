#include "app/session/DestinationModel.h"

#include "app/card/ImportLedger.h"
#include "app/connection/CameraLink.h"
#include "app/session/Preferences.h"
#include "app/session/PreferencesModel.h"

namespace pexil {

DestinationModel::DestinationModel(async::Clock& clock, PreferencesModel& prefs,
                                   CameraLink& link, ImportLedger& ledger, QObject* parent)
    : QObject(parent), clock_(clock), prefs_(prefs), link_(link), ledger_(ledger) {
    ledger_.onProblemChanged = [this] { emit ledgerProblemChanged(); };
}

QString DestinationModel::folder(const QDateTime& date) const { return prefs_.destination(date); }

void DestinationModel::apply() {
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
