#pragma once

#include "app/base/Preferences.h"

#include <QDateTime>
#include <QObject>
#include <QSettings>
#include <QString>

#include <memory>

namespace pexil {

// The user's preferences as the windows and the session see them: read from the store once,
// each change written back at once and announced with changed().
// Threads: main thread only.
class PreferencesModel final : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString baseDestination READ baseDestination WRITE setBaseDestination NOTIFY changed)
    Q_PROPERTY(bool useDateSubfolder READ useDateSubfolder WRITE setUseDateSubfolder NOTIFY changed)
    Q_PROPERTY(bool autoConnect READ autoConnect WRITE setAutoConnect NOTIFY changed)
    Q_PROPERTY(bool deleteAfterDownload READ deleteAfterDownload WRITE setDeleteAfterDownload NOTIFY
                   changed)
    Q_PROPERTY(bool autofocusBeforeShot READ autofocusBeforeShot WRITE setAutofocusBeforeShot NOTIFY
                   changed)
    Q_PROPERTY(bool showNewShots READ showNewShots WRITE setShowNewShots NOTIFY changed)
    Q_PROPERTY(QString sessionName READ sessionName NOTIFY changed)
    Q_PROPERTY(QString nameTemplate READ nameTemplate NOTIFY changed)
    Q_PROPERTY(QString backupFolder READ backupFolder WRITE setBackupFolder NOTIFY changed)

public:
    // `store` null: QSettings with the application's names.
    explicit PreferencesModel(std::unique_ptr<QSettings> store, QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(PreferencesModel)

    const QString& baseDestination() const { return prefs_.baseDestination; }
    bool useDateSubfolder() const { return prefs_.useDateSubfolder; }
    bool autoConnect() const { return prefs_.autoConnect; }
    bool deleteAfterDownload() const { return prefs_.deleteAfterDownload; }
    bool autofocusBeforeShot() const { return prefs_.autofocusBeforeShot; }
    bool showNewShots() const { return prefs_.showNewShots; }
    const QString& sessionName() const { return prefs_.sessionName; }
    const QString& nameTemplate() const { return prefs_.nameTemplate; }
    const QString& backupFolder() const { return prefs_.backupFolder; }

    void setBaseDestination(const QString& folder);
    void setUseDateSubfolder(bool on);
    void setAutoConnect(bool on);
    void setDeleteAfterDownload(bool on);
    void setAutofocusBeforeShot(bool on);
    void setShowNewShots(bool on);
    // Empty: no backup copy.
    void setBackupFolder(const QString& folder);
    // Take the name or template when valid and answer none; else keep the one before and
    // answer why (the photographer's text).
    std::optional<QString> setSessionName(const QString& name);
    std::optional<QString> setNameTemplate(const QString& text);

    // Where a picture taken at `date` is saved.
    QString destination(const QDateTime& date) const { return prefs_.destinationFor(date); }
    // The store the preferences live in, for what else the application keeps there.
    QSettings& store() { return *store_; }

signals:
    void changed();

private:
    template <class T>
    void set(T Preferences::*field, T value);

    std::unique_ptr<QSettings> store_;
    Preferences prefs_;
};

}  // namespace pexil
