#include "app/base/PreferencesModel.h"

#include "app/naming/NameTemplate.h"

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

void PreferencesModel::setBackupFolder(const QString& folder) {
    set(&Preferences::backupFolder, folder);
}

std::optional<QString> PreferencesModel::setSessionName(const QString& name) {
    if (auto problem = Preferences::checkSessionName(name)) return problem;
    set(&Preferences::sessionName, name);
    return std::nullopt;
}

std::optional<QString> PreferencesModel::setNameTemplate(const QString& text) {
    auto parsed = NameTemplate::parse(text);
    if (!parsed) return parsed.error();
    set(&Preferences::nameTemplate, text);
    return std::nullopt;
}

}  // namespace pexil
