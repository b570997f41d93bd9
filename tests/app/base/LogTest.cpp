#include "app/base/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace pexil {
namespace {

const QString kStamp = QStringLiteral(R"(\[\d{2}:\d{2}:\d{2}\.\d{3}\] )");
const QString kRule(64, QLatin1Char('='));

// 14:03:27.512 local time: an afternoon hour, so a 12-hour clock would show.
QDateTime afternoon() {
    return QDateTime(QDate(2024, 5, 1), QTime(14, 3, 27, 512));
}

Log::Clock fixedAt(const QDateTime& now) {
    return [now] { return now; };
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Root (or CAP_DAC_OVERRIDE) writes through permission bits, so a permission test proves
// nothing there; asks the kernel with the effective ids rather than guessing from geteuid().
bool permissionsBind(const QString& path) {
    return ::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), W_OK, AT_EACCESS) != 0;
}

class LogTest : public ::testing::Test {
protected:
    QString home() const { return dir_.path() + QStringLiteral("/state/Pexil"); }
    QString logPath() const { return home() + QStringLiteral("/Pexil.log"); }

    QTemporaryDir dir_;
};

// The log's place on Linux: the XDG state folder, else ~/.local/state; a relative
// XDG_STATE_HOME is invalid and ignored.
TEST_F(LogTest, TheLogLivesInTheUsersStateFolder) {
    const QByteArray home = qgetenv("HOME"), state = qgetenv("XDG_STATE_HOME");
    qputenv("HOME", "/home/a");
    const struct {
        const char* state;  // null: unset
        const char* folder;
    } cases[] = {
        {nullptr, "/home/a/.local/state/Pexil"},
        {"/var/tmp/s", "/var/tmp/s/Pexil"},
        {"relative/s", "/home/a/.local/state/Pexil"},
        {"", "/home/a/.local/state/Pexil"},
    };
    for (const auto& c : cases) {
        if (c.state)
            qputenv("XDG_STATE_HOME", c.state);
        else
            qunsetenv("XDG_STATE_HOME");
        EXPECT_EQ(Log::defaultFolder(), QString::fromUtf8(c.folder))
            << (c.state ? c.state : "(unset)");
    }
    EXPECT_EQ(Log().path(), QStringLiteral("/home/a/.local/state/Pexil/Pexil.log"));
    qputenv("HOME", home);
    if (state.isNull())
        qunsetenv("XDG_STATE_HOME");
    else
        qputenv("XDG_STATE_HOME", state);
}

TEST_F(LogTest, FirstLineCreatesTheFolderAndAFileHoldingExactlyThatLine) {
    ASSERT_TRUE(dir_.isValid());
    Log log(home(), fixedAt(afternoon()));
    EXPECT_EQ(log.path(), logPath());
    // Naming the location must not touch the disk: the folder comes with the first line.
    EXPECT_FALSE(QFileInfo::exists(dir_.path() + QStringLiteral("/state")));

    log.write(QStringLiteral("hello"));
    log.flush();

    EXPECT_TRUE(QFileInfo(home()).isDir());
    EXPECT_EQ(readAll(logPath()), QByteArray("[14:03:27.512] hello\n"));
}

TEST_F(LogTest, LineFormat) {
    {
        SCOPED_TRACE("two writes from one thread: call order, each on its own stamped line");
        // The second time has single-digit fields: the stamp pads them.
        auto times = std::make_shared<std::vector<QDateTime>>(
            std::vector<QDateTime>{afternoon(), QDateTime(QDate(2024, 5, 1), QTime(9, 5, 7, 4))});
        Log log(home(), [times] {
            const QDateTime next = times->front();
            times->erase(times->begin());
            return next;
        });
        log.write(QStringLiteral("first"));
        log.write(QStringLiteral("second"));
        log.flush();
        EXPECT_EQ(readAll(logPath()), QByteArray("[14:03:27.512] first\n[09:05:07.004] second\n"));
    }
    QFile::remove(logPath());
    {
        SCOPED_TRACE("empty message: the stamp, its blank, the line feed");
        Log log(home(), fixedAt(afternoon()));
        log.write(QString());
        log.flush();
        EXPECT_EQ(readAll(logPath()), QByteArray("[14:03:27.512] \n"));
    }
    QFile::remove(logPath());
    {
        SCOPED_TRACE("embedded line feeds are written as they are, stamped once");
        Log log(home(), fixedAt(afternoon()));
        log.write(QStringLiteral("a\nb\n"));
        log.flush();
        EXPECT_EQ(readAll(logPath()), QByteArray("[14:03:27.512] a\nb\n\n"));
    }
    QFile::remove(logPath());
    {
        SCOPED_TRACE("the system clock gives the same shape");
        Log log(home());
        log.write(QStringLiteral("now"));
        log.flush();
        const QString text = QString::fromUtf8(readAll(logPath()));
        EXPECT_TRUE(QRegularExpression(QLatin1Char('^') + kStamp + QStringLiteral("now\n$"))
                        .match(text)
                        .hasMatch())
            << text.toStdString();
    }
}

TEST_F(LogTest, StampIsTakenOnTheCallersThreadAtTheCall) {
    // Stamping on the writer queue would date a line by when the disk got to it.
    auto mutex = std::make_shared<std::mutex>();
    auto threads = std::make_shared<std::vector<std::thread::id>>();
    Log log(home(), [mutex, threads] {
        std::lock_guard lock(*mutex);
        threads->push_back(std::this_thread::get_id());
        return afternoon();
    });
    log.write(QStringLiteral("one"));
    log.startSession();
    log.writer()(QStringLiteral("two"));
    log.flush();
    std::lock_guard lock(*mutex);
    ASSERT_FALSE(threads->empty());
    for (const auto& id : *threads) EXPECT_EQ(id, std::this_thread::get_id());
}

TEST_F(LogTest, SessionBanner) {
    {
        SCOPED_TRACE("exact shape, date converted to UTC");
        // 14:03:27 at +09:00 is 05:03:27 UTC; the stamp stays in the process's local time.
        QDateTime tokyo(QDate(2024, 5, 1), QTime(14, 3, 27, 512), QTimeZone(9 * 3600));
        Log log(home(), fixedAt(tokyo));
        log.write(QStringLiteral("before"));
        log.startSession();
        log.flush();
        const QString stamp = QLatin1Char('[') +
                              tokyo.toLocalTime().toString(QStringLiteral("HH:mm:ss.zzz")) +
                              QStringLiteral("] ");
        const QString expected = stamp + QStringLiteral("before\n") + stamp + QLatin1Char('\n') +
                                 kRule + QLatin1Char('\n') +
                                 QStringLiteral("Pexil 起動  2024-05-01 05:03:27 +0000\n") + kRule +
                                 QLatin1Char('\n');
        EXPECT_EQ(QString::fromUtf8(readAll(logPath())), expected);
    }
    QFile::remove(logPath());
    {
        SCOPED_TRACE("system clock: a stamped empty line, the rules, a UTC date");
        Log log(home());
        log.startSession();
        log.flush();
        const QString text = QString::fromUtf8(readAll(logPath()));
        const QRegularExpression shape(
            QLatin1Char('^') + kStamp + QLatin1Char('\n') + kRule +
            QStringLiteral(R"(\nPexil 起動  \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} \+0000\n)") +
            kRule + QStringLiteral("\n$"));
        EXPECT_TRUE(shape.match(text).hasMatch()) << text.toStdString();
    }
}

TEST_F(LogTest, JapaneseTextRoundTripsAsUtf8) {
    const QString message = QStringLiteral("接続: ニコン Z 6（ptpcamerad 経由） 📷 ✓");
    Log log(home(), fixedAt(afternoon()));
    log.write(message);
    log.flush();
    const QByteArray bytes = readAll(logPath());
    EXPECT_EQ(bytes, QByteArray("[14:03:27.512] ") + message.toUtf8() + '\n');
    EXPECT_EQ(QString::fromUtf8(bytes), QStringLiteral("[14:03:27.512] ") + message + u'\n');
}

TEST_F(LogTest, ExistingLogIsAppendedToNeverTruncated) {
    const QByteArray earlier("[08:00:00.000] from yesterday\n");
    writeFile(logPath(), earlier);
    {
        Log log(home(), fixedAt(afternoon()));
        log.write(QStringLiteral("today"));
    }  // the destructor, not flush(), finishes the line
    EXPECT_EQ(readAll(logPath()), earlier + "[14:03:27.512] today\n");
}

TEST_F(LogTest, WriteProtectedLogKeepsItsContents) {
    // Recreating a file that failed to open would wipe it; so would replacing it.
    const QByteArray earlier("[08:00:00.000] kept\n");
    writeFile(logPath(), earlier);
    ASSERT_TRUE(
        QFile::setPermissions(logPath(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    if (!permissionsBind(logPath()))
        GTEST_SKIP() << "running as root: chmod 0444 does not stop writes";
    {
        Log log(home(), fixedAt(afternoon()));
        log.write(QStringLiteral("lost"));
        log.startSession();
        log.writer()(QStringLiteral("lost too"));
        log.flush();
    }
    EXPECT_EQ(readAll(logPath()), earlier);
    EXPECT_EQ(QFileInfo(logPath()).permissions() &
                  (QFile::WriteOwner | QFile::WriteGroup | QFile::WriteOther),
              QFile::Permissions());
}

TEST_F(LogTest, FolderThatCannotBeCreatedLosesLinesQuietly) {
    ASSERT_TRUE(QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::ExeOwner));
    const bool binds = permissionsBind(dir_.path());
    if (binds) {
        Log log(home(), fixedAt(afternoon()));
        log.write(QStringLiteral("nowhere to go"));
        log.flush();
        EXPECT_FALSE(QFileInfo::exists(dir_.path() + QStringLiteral("/state")));
    }
    // Restored before any skip, or QTemporaryDir could not clean up.
    QFile::setPermissions(dir_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    if (!binds) GTEST_SKIP() << "running as root: a read-only folder does not stop mkdir";
}

TEST_F(LogTest, FolderRemovedWhileRunningIsCreatedAgain) {
    Log log(home(), fixedAt(afternoon()));
    log.write(QStringLiteral("before"));
    log.flush();
    ASSERT_TRUE(QDir(dir_.path() + QStringLiteral("/state")).removeRecursively());
    log.write(QStringLiteral("after"));
    log.flush();
    EXPECT_EQ(readAll(logPath()), QByteArray("[14:03:27.512] after\n"));
}

TEST_F(LogTest, ConcurrentWritersNeverInterleaveInsideALine) {
    constexpr int kThreads = 8;
    constexpr int kLines = 400;
    // Long lines, so that a torn write would show in the middle of one.
    const QString padding(200, QLatin1Char('x'));
    {
        Log log(home());
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            // Half go through the sink other components keep.
            threads.emplace_back([&log, &padding, t, sink = log.writer()] {
                for (int n = 0; n < kLines; ++n) {
                    const QString message = QStringLiteral("t%1 n%2 %3").arg(t).arg(n).arg(padding);
                    if (t % 2 == 0) {
                        log.write(message);
                    } else {
                        sink(message);
                    }
                }
            });
        }
        for (auto& thread : threads) thread.join();
    }

    const QList<QByteArray> lines = readAll(logPath()).split('\n');
    ASSERT_EQ(lines.size(), kThreads * kLines + 1);  // the split leaves "" after the last \n
    EXPECT_TRUE(lines.last().isEmpty());
    const QRegularExpression shape(QLatin1Char('^') + kStamp +
                                   QStringLiteral(R"(t(\d+) n(\d+) x{200}$)"));
    std::vector<int> next(kThreads, 0);
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const auto match = shape.match(QString::fromUtf8(lines[i]));
        ASSERT_TRUE(match.hasMatch()) << "line " << i << ": " << lines[i].toStdString();
        const int t = match.captured(1).toInt();
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(match.captured(2).toInt(), next[t]) << "thread " << t << " out of order";
        ++next[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[t], kLines) << "thread " << t;
}

TEST_F(LogTest, DestructionFinishesQueuedLinesAndLaterSinkCallsAreDropped) {
    std::function<void(const QString&)> sink;
    {
        Log log(home(), fixedAt(afternoon()));
        sink = log.writer();
        for (int n = 0; n < 300; ++n) log.write(QString::number(n));
    }
    const QByteArray written = readAll(logPath());
    EXPECT_EQ(written.count('\n'), 300);
    EXPECT_TRUE(written.endsWith("] 299\n"));

    sink(QStringLiteral("after the log is gone"));  // must neither crash nor write
    EXPECT_EQ(readAll(logPath()), written);
}

TEST_F(LogTest, WriteReturnsWhileTheFileBlocks) {
    // A FIFO in place of the file: opening it for writing blocks until a reader comes. The
    // reader only comes after write() has returned, so a write() that touched the file on
    // the caller's thread would never return (the test's time-out reports it).
    ASSERT_TRUE(QDir().mkpath(home()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(logPath()).constData(), 0644), 0);
    Log log(home(), fixedAt(afternoon()));
    log.write(QStringLiteral("through the pipe"));

    const int fd = ::open(QFile::encodeName(logPath()).constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    QByteArray received;
    char buffer[256];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) received.append(buffer, n);
    ::close(fd);  // EOF came: the writer closed the file after its one line
    EXPECT_EQ(received, QByteArray("[14:03:27.512] through the pipe\n"));
}

}  // namespace
}  // namespace pexil
