#include "tools/pexilctl/TerminalProgress.h"

#include <QFile>
#include <QTemporaryFile>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

namespace pexil::cli {
namespace {

TEST(TerminalProgress, LineShowsCountBarRateAndTimeLeft) {
    struct Case {
        std::uint64_t done, total;
        std::optional<std::uint64_t> bytesDone, bytesTotal;
        double seconds;
        const char* expected;
    };
    const std::vector<Case> cases = {
        // Nothing done yet: no rate to tell, so no time left either.
        {0, 4, std::nullopt, std::nullopt, 0, "get 0/4 [..........]"},
        {1, 4, std::nullopt, std::nullopt, 2, "get 1/4 [##........] 0.5 件/s 残り 0:06"},
        // With sizes the bar, the rate and the time left follow the bytes, not the count.
        {1, 2, 9'000'000, 10'000'000, 3, "get 1/2 [#########.] 3.0 MB/s 残り 0:01"},
        {2, 2, 10'000'000, 10'000'000, 4, "get 2/2 [##########] 2.5 MB/s"},
        {3, 3, 900, 900, 1, "get 3/3 [##########] 900 B/s"},
        {1, 1000, std::nullopt, std::nullopt, 5, "get 1/1000 [..........] 0.2 件/s 残り 1:23:15"},
        // Counts past the total (a miscounting caller) never draw past the end.
        {5, 4, std::nullopt, std::nullopt, 1, "get 4/4 [##########] 4.0 件/s"},
        {0, 0, std::nullopt, std::nullopt, 1, "get 0/0 [##########]"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TerminalProgress::line(QStringLiteral("get"), c.done, c.total, c.bytesDone,
                                         c.bytesTotal, c.seconds, 10)
                      .toStdString(),
                  c.expected);
}

TEST(TerminalProgress, RedrawsInPlaceOnATerminalAndWritesNothingElsewhere) {
    double now = 0;
    QString terminal, pipe;
    QTextStream toTerminal(&terminal), toPipe(&pipe);
    {
        TerminalProgress onTerminal(toTerminal, true, QStringLiteral("apply"), [&] { return now; });
        TerminalProgress onPipe(toPipe, false, QStringLiteral("apply"), [&] { return now; });
        for (auto* p : {&onTerminal, &onPipe}) p->update(0, 2);
        now = 1;
        for (auto* p : {&onTerminal, &onPipe}) {
            p->clear();
            p->update(2, 2);
        }
    }  // the bar is taken off the line when the work ends
    toTerminal.flush();
    toPipe.flush();
    EXPECT_TRUE(pipe.isEmpty());
    const QString bar0 = QStringLiteral("apply 0/2 [") + QString(20, u'.') + u']';
    const QString bar2 =
        QStringLiteral("apply 2/2 [") + QString(20, u'#') + QStringLiteral("] 2.0 件/s");
    EXPECT_EQ(terminal, QStringLiteral("\r") + bar0 + QStringLiteral("\x1b[K\r\x1b[K\r") + bar2 +
                            QStringLiteral("\x1b[K\r\x1b[K"));
}

TEST(TerminalProgress, OnlyAStreamOnATerminalCounts) {
    QString text;
    QTextStream toString(&text);
    EXPECT_FALSE(TerminalProgress::isTerminal(toString));
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    QTextStream toFile(&file);
    EXPECT_FALSE(TerminalProgress::isTerminal(toFile));
    // A pseudo-terminal stands for the user's terminal.
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    QFile terminal;
    const int slave = ::open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    ASSERT_TRUE(terminal.open(slave, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle));
    QTextStream toTerminal(&terminal);
    EXPECT_TRUE(TerminalProgress::isTerminal(toTerminal));
    ::close(master);
}

}  // namespace
}  // namespace pexil::cli
