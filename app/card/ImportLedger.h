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
// Several processes may share the file (the application and pexilctl, two imports at once):
// each new key is written under an exclusive lock on <folder>/imported.json.lock, after
// reading the file again and keeping every key another process wrote meanwhile.
//
// Threads: main thread only; each new key rewrites the small file synchronously and
// atomically. Failures: a file that cannot be written costs one log line per new key and
// sets problem(); the key stays known for the rest of the run.
class ImportLedger {
public:
    using LogFn = std::function<void(const QString&)>;

    // Loads <folder>/imported.json (creating `folder` with its parents). A missing file starts
    // empty; a damaged one too (problem() says so), and it is moved aside before anything is
    // written over it, to imported.json.damaged or, when that holds an earlier damaged copy,
    // imported.json.damaged.2, .3 …: every damaged copy keeps the history it holds.
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

    // The latest thing the user must hear of (a damaged record, set aside or not yet; a
    // record that cannot be written), in the program's words; none while all is well.
    const std::optional<QString>& problem() const { return problem_; }
    // Called on the main thread whenever problem() changes. May be empty.
    std::function<void()> onProblemChanged;

private:
    enum class Disk { missing, read, damaged };
    // Reads the file into `into`; damaged when it exists but is not an array of strings.
    Disk read(std::set<QString>& into) const;
    // Moves the damaged file aside under the first free numbered name; the name, or none.
    std::optional<QString> setAside();
    void setProblem(std::optional<QString> problem);

    QString path_;
    LogFn log_;
    std::set<QString> keys_;
    std::optional<QString> problem_;
    bool unwritten_ = false;  // problem_ is a failure to write, which the next write ends
};

}  // namespace pexil
