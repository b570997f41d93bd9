#pragma once

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>
#include <set>

namespace pexil {

// Which card pictures were imported already, across launches, so that the card browser marks
// them and "import all new" skips them even when the copy has left the destination. A
// picture is keyed "SERIAL|NAME|SIZE|SECONDS" (seconds since 1970 UTC, truncated; 0 without a
// capture time); the set is kept as a JSON array of strings in <folder>/imported.json.
//
// Threads: main thread only; each new key rewrites the small file synchronously and
// atomically. Failures: a file that cannot be written costs one log line per new key; the
// key stays known for the rest of the run.
class ImportLedger {
public:
    using LogFn = std::function<void(const QString&)>;

    // Loads <folder>/imported.json (creating `folder` with its parents). A missing file starts
    // empty; a damaged one too, but it is moved aside to imported.json.damaged before anything
    // is written over it, so the history it holds can still be recovered by hand.
    ImportLedger(QString folder, LogFn log);

    // <application-support>/Pexil.
    static QString defaultFolder();
    static QString key(const QString& serial, const QString& name, qint64 size,
                       const std::optional<QDateTime>& captured);

    const std::set<QString>& keys() const { return keys_; }
    bool contains(const QString& key) const { return keys_.count(key) > 0; }
    QString path() const { return path_; }

    void record(const QString& serial, const QString& name, qint64 size,
                const std::optional<QDateTime>& captured);

private:
    void load();

    QString path_;
    LogFn log_;
    std::set<QString> keys_;
    bool damaged_ = false;  // the file on disk is not ours to overwrite until moved aside
};

}  // namespace pexil
