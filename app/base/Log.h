#pragma once

#include <QDateTime>
#include <QDir>
#include <QString>

#include <functional>
#include <memory>

namespace pexil {

// The application's diagnostic log: one plain-text file, Pexil.log in the user's state folder
// (defaultFolder()),
// to which every subsystem appends one time-stamped line per noteworthy event, so that a
// user whose connection fails can hand the file over. No levels, no filtering, no console.
//
// Threads: write(), startSession(), path(), flush() and the callable from writer() may be
// called from any thread at once. Each line is stamped on the caller's thread at the call;
// all file access happens on one serial worker queue ("app.pexil.log"), so lines never
// interleave and lines from one thread keep their call order.
//
// Blocking: write() and startSession() never wait for the file; flush() and the destructor
// wait for the queue.
//
// Failure: none is reported. A folder that cannot be created, or a file that cannot be
// opened or written, loses the line. The file is opened for appending (created when
// missing, mode 0644 before the umask), written and closed for every line: an external
// viewer sees each line at once, and an existing file is never truncated or replaced.
class Log final {
public:
    // Local date and time "now". Called on the thread that writes the line, so it must be
    // safe to call from any thread. Tests pass a fixed clock; empty means the system clock.
    using Clock = std::function<QDateTime()>;

    // The log in `folder` (tests give a folder of their own).
    explicit Log(QString folder = defaultFolder(), Clock clock = {});
    // Finishes every line already written, then returns.
    ~Log();
    Q_DISABLE_COPY_MOVE(Log)

    // Appends "[HH:mm:ss.zzz] " (local time at the call) + message + "\n". A message with
    // line feeds of its own is written as it is; only its first line carries the stamp.
    void write(const QString& message);

    // Writes the banner that opens one connection attempt, as a single line: "\n", 64 "=",
    // "\n", "Pexil 起動  " + the UTC date and time "yyyy-MM-dd HH:mm:ss +0000", "\n", 64 "=".
    void startSession();

    // Where a log belongs on Linux: $XDG_STATE_HOME/Pexil when that is an absolute path,
    // else ~/.local/state/Pexil.
    static QString defaultFolder();

    // <folder>/Pexil.log. Touches nothing on disk: the folder is created when the first line
    // is appended (and again should it vanish while the program runs).
    QString path() const;

    // Blocks until every line written before the call, from any thread, is in the file
    // (handed to the kernel, not synced to the device). Lines written meanwhile by other
    // threads do not prolong the wait.
    void flush();

    // A sink for components that take a log callback (the PTP camera object, for one).
    // Callable from any thread. Once this Log is destroyed the callable drops its lines
    // instead of crashing. A call racing with the destruction still lands its line, and
    // then that caller, not the destructor, waits for the queue to finish.
    std::function<void(const QString&)> writer() const;

private:
    class Sink;
    std::shared_ptr<Sink> sink_;
};

}  // namespace pexil
