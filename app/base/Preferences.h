#pragma once

#include "kit/liveview/LiveViewMemory.h"

#include <QDateTime>
#include <QSettings>
#include <QString>

#include <memory>
#include <optional>

namespace pexil {

// The user's choices for tethering, as the per-user store keeps them, and the
// destination folder derived from them.
struct Preferences {
    QString baseDestination = defaultBaseDestination();
    bool useDateSubfolder = false;
    bool autoConnect = true;
    bool deleteAfterDownload = false;
    bool autofocusBeforeShot = true;
    // A new shot takes the preview; off, it waits in the filmstrip with a mark.
    bool showNewShots = true;
    // A folder under the destination (after the date folder) and the {session} of the file
    // names; empty: none.
    QString sessionName;
    // How tethered pictures are named (NameTemplate); empty: the camera's names.
    QString nameTemplate;
    // A second folder, on another disk, that every saved picture is copied into; empty: none.
    QString backupFolder;

    // Absent keys give the defaults above; a non-Boolean "autoConnect", "autofocusBeforeShot"
    // or "showNewShots" reads as true (they default to on).
    static Preferences read(const QSettings& store);
    // A Boolean as the store keeps it; none when absent or not a Boolean.
    static std::optional<bool> storedBool(const QSettings& store, const QString& key);
    // All keys at once.
    void write(QSettings& store) const;

    // <Pictures>/Pexil.
    static QString defaultBaseDestination();

    // The base folder, or its "yyyy-MM-dd" subfolder of `date` (local time) when date
    // subfolders are on; then the session's folder when there is a session.
    QString destinationFor(const QDateTime& date) const;

    // Why `name` cannot name a session (a folder); none when it can. Empty is no session.
    static std::optional<QString> checkSessionName(const QString& name);

    // Creates `folder` with its parents and proves it takes a file (".pexil-write-test",
    // removed again); none when usable, else the user's text saying why not.
    static std::optional<QString> checkDestination(const QString& folder);

    friend bool operator==(const Preferences&, const Preferences&) = default;
};

// Live view's memory of bodies that need SDRAM, kept in the per-user store: the
// application's (QSettings with its names) when `iniFile` is empty, else that INI file.
// Each question reads the store afresh, so a change by another instance is seen.
class StoredLiveViewMemory final : public LiveViewMemory {
public:
    explicit StoredLiveViewMemory(QString iniFile = {}) : iniFile_(std::move(iniFile)) {}
    bool needsSDRAM(const QString& key) const override;
    void rememberNeedsSDRAM(const QString& key) override;

private:
    std::unique_ptr<QSettings> open() const;
    QString iniFile_;
};

}  // namespace pexil
