#include "app/base/Log.h"

#include "kit/async/WorkQueue.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <future>

namespace pexil {

namespace {

constexpr int kRuleWidth = 64;

QString stamped(const QDateTime& now, const QString& message) {
    // QDateTime::toString formats with the C locale, so the stamp keeps ASCII digits
    // whatever the user's locale: the file is read by whoever diagnoses it.
    return QLatin1Char('[') + now.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")) +
           QStringLiteral("] ") + message + QLatin1Char('\n');
}

int openForAppend(const QByteArray& nativePath) {
    for (;;) {
        // One call that creates a missing file and can never truncate an existing one: a
        // file that exists but cannot be opened (write-protected, say) must keep its
        // contents, and a second process appending at the same time must not be clobbered.
        const int fd =
            ::open(nativePath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

void writeAll(int fd, const QByteArray& bytes) {
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR) continue;
            return;  // disk full, I/O error: the rest of the line is lost, as promised
        }
        data += written;
        left -= written;
    }
}

}  // namespace

class Log::Sink {
public:
    Sink(const QString& folder, Clock clock)
        : path_(QDir::cleanPath(QDir(folder).filePath(QStringLiteral("Pexil.log")))),
          folder_(QDir::cleanPath(folder)),
          nativePath_(QFile::encodeName(path_)),
          clock_(clock ? std::move(clock) : Clock([] { return QDateTime::currentDateTime(); })),
          queue_(QStringLiteral("app.pexil.log")) {}

    const QString& path() const { return path_; }

    void write(const QString& message) { enqueue(stamped(clock_(), message)); }

    void startSession() {
        // One clock reading for both, so the banner's UTC time and its stamp agree.
        const QDateTime now = clock_();
        const QString rule(kRuleWidth, QLatin1Char('='));
        const QString banner = QLatin1Char('\n') + rule + QLatin1Char('\n') +
                               QStringLiteral("Pexil 起動  ") +
                               now.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                               QStringLiteral(" +0000\n") + rule;
        enqueue(stamped(now, banner));
    }

    void flush() {
        // A marker behind the lines already queued, rather than WorkQueue::drain(): drain
        // waits for an empty queue, which never comes while other threads keep logging.
        // The promise is shared so that it outlives set_value() even after wait() returns.
        auto done = std::make_shared<std::promise<void>>();
        std::future<void> reached = done->get_future();
        queue_.post([done] { done->set_value(); });
        reached.wait();
    }

private:
    void enqueue(const QString& line) {
        // Encoded here, so the worker touches only bytes that nobody else holds.
        queue_.post([this, bytes = line.toUtf8()] { append(bytes); });
    }

    // On the queue only.
    void append(const QByteArray& bytes) {
        int fd = openForAppend(nativePath_);
        if (fd < 0 && errno == ENOENT) {
            // The folder is missing: the first line ever, or the user removed it to clear
            // the log while the program runs. A failure shows up as the open failing again.
            QDir().mkpath(folder_);
            fd = openForAppend(nativePath_);
        }
        if (fd < 0) return;
        writeAll(fd, bytes);
        ::close(fd);
    }

    const QString path_;
    const QString folder_;
    const QByteArray nativePath_;
    const Clock clock_;
    // Last, so that it is destroyed first: its destructor runs the lines still queued,
    // and they read the members above.
    async::WorkQueue queue_;
};

Log::Log(QString folder, Clock clock) : sink_(std::make_shared<Sink>(folder, std::move(clock))) {}

QString Log::defaultFolder() {
    // A relative XDG_STATE_HOME is invalid and to be ignored, as the XDG specification says.
    const QString state = qEnvironmentVariable("XDG_STATE_HOME");
    const QString base = !state.isEmpty() && QDir::isAbsolutePath(state)
                             ? state
                             : QDir(QDir::homePath()).filePath(QStringLiteral(".local/state"));
    return QDir::cleanPath(QDir(base).filePath(QStringLiteral("Pexil")));
}

Log::~Log() = default;

void Log::write(const QString& message) {
    sink_->write(message);
}

void Log::startSession() {
    sink_->startSession();
}

QString Log::path() const {
    return sink_->path();
}

void Log::flush() {
    sink_->flush();
}

std::function<void(const QString&)> Log::writer() const {
    // Weak, because a component holding the sink may well be torn down after the Log.
    return [weak = std::weak_ptr<Sink>(sink_)](const QString& message) {
        if (const auto sink = weak.lock()) sink->write(message);
    };
}

}  // namespace pexil
