#pragma once

#include <QString>
#include <QTextStream>

#include <cstdint>
#include <functional>
#include <optional>

namespace pexil::cli {

// A one-line progress bar for long work, redrawn in place on standard error:
//   "get 3/12 [#####...............] 4.2 MB/s 残り 0:21"
// Only on a terminal: when the stream is not one, nothing at all is written, so what scripts
// read stays as documented. Output of the command itself goes between clear() and the next
// update(), so its lines never share a line with the bar.
//
// Threads: the one that runs the command.
class TerminalProgress {
public:
    // Seconds since the work started; the default is a monotonic clock started at
    // construction.
    using Elapsed = std::function<double()>;

    TerminalProgress(QTextStream& err, bool enabled, QString label, Elapsed elapsed = {});
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Whether `stream` writes to a terminal (pexilctl's choice for `enabled`); never for a
    // stream into a string, as in-process tests run the commands.
    static bool isTerminal(QTextStream& stream);

    // `done` of `total` items; `bytesDone` of `bytesTotal` when the sizes are known (the rate
    // and the time left are then in bytes).
    void update(std::uint64_t done, std::uint64_t total,
                std::optional<std::uint64_t> bytesDone = std::nullopt,
                std::optional<std::uint64_t> bytesTotal = std::nullopt);
    // Takes the bar off the line (nothing when none is drawn).
    void clear();

    // The bar's text: label, done/total, a bar of `width` cells, the rate once there is one
    // ("N 件/s", or bytes per second in SI units), and the time left once it can be told.
    static QString line(const QString& label, std::uint64_t done, std::uint64_t total,
                        std::optional<std::uint64_t> bytesDone,
                        std::optional<std::uint64_t> bytesTotal, double seconds, int width = 20);

private:
    QTextStream& err_;
    bool enabled_;
    QString label_;
    Elapsed elapsed_;
    bool drawn_ = false;
};

}  // namespace pexil::cli
