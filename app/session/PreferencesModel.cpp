#include "app/session/PreferencesModel.h"

namespace pexil {

PreferencesModel::PreferencesModel(std::unique_ptr<QSettings> store, QObject* parent)
    : QObject(parent), store_(store ? std::move(store) : std::make_unique<QSettings>()) {
    prefs_ = Preferences::read(*store_);
}

template <class T>
void PreferencesModel::set(T Preferences::*field, T value) {
    if (prefs_.*field == value) return;
    prefs_.*field = std::move(value);
    prefs_.write(*store_);
    store_->sync();
    emit changed();
}

void PreferencesModel::setBaseDestination(const QString& folder) {
    set(&Preferences::baseDestination, folder);
}

void PreferencesModel::setUseDateSubfolder(bool on) {
    set(&Preferences::useDateSubfolder, on);
}

void PreferencesModel::setAutoConnect(bool on) {
    set(&Preferences::autoConnect, on);
}

void PreferencesModel::setDeleteAfterDownload(bool on) {
    set(&Preferences::deleteAfterDownload, on);
}

void PreferencesModel::setAutofocusBeforeShot(bool on) {
    set(&Preferences::autofocusBeforeShot, on);
}

void PreferencesModel::setShowNewShots(bool on) {
    set(&Preferences::showNewShots, on);
}

}  // namespace pexil
