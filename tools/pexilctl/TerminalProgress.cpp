#include "tools/pexilctl/TerminalProgress.h"

#include <QElapsedTimer>
#include <QFile>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <memory>

namespace pexil::cli {

namespace {

QString bytesPerSecond(double rate) {
    static constexpr const char* units[] = {"B/s", "kB/s", "MB/s", "GB/s"};
    int unit = 0;
    while (rate >= 1000 && unit < 3) {
        rate /= 1000;
        ++unit;
    }
    return QString::number(rate, 'f', unit == 0 ? 0 : 1) + u' ' + QLatin1String(units[unit]);
}

QString duration(double seconds) {
    const auto whole = static_cast<long long>(std::ceil(seconds));
    const long long h = whole / 3600, m = whole / 60 % 60, s = whole % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}

}  // namespace

TerminalProgress::TerminalProgress(QTextStream& err, bool enabled, QString label, Elapsed elapsed)
    : err_(err), enabled_(enabled), label_(std::move(label)), elapsed_(std::move(elapsed)) {
    if (!elapsed_) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        elapsed_ = [timer] { return static_cast<double>(timer->nsecsElapsed()) / 1e9; };
    }
}

TerminalProgress::~TerminalProgress() {
    clear();
}

bool TerminalProgress::isTerminal(QTextStream& stream) {
    const auto* file = qobject_cast<QFile*>(stream.device());
    return file && file->handle() >= 0 && ::isatty(file->handle()) == 1;
}

void TerminalProgress::update(std::uint64_t done, std::uint64_t total,
                              std::optional<std::uint64_t> bytesDone,
                              std::optional<std::uint64_t> bytesTotal) {
    if (!enabled_) return;
    // Carriage return and erase-to-end-of-line: the new bar replaces the old one in place.
    err_ << '\r' << line(label_, done, total, bytesDone, bytesTotal, elapsed_()) << "\x1b[K";
    err_.flush();
    drawn_ = true;
}

void TerminalProgress::clear() {
    if (!drawn_) return;
    err_ << "\r\x1b[K";
    err_.flush();
    drawn_ = false;
}

QString TerminalProgress::line(const QString& label, std::uint64_t done, std::uint64_t total,
                               std::optional<std::uint64_t> bytesDone,
                               std::optional<std::uint64_t> bytesTotal, double seconds, int width) {
    done = std::min(done, total);
    const bool bytes = bytesDone && bytesTotal && *bytesTotal > 0;
    const double fraction = bytes ? static_cast<double>(std::min(*bytesDone, *bytesTotal)) /
                                        static_cast<double>(*bytesTotal)
                            : total > 0 ? static_cast<double>(done) / static_cast<double>(total)
                                        : 1.0;
    const int filled = static_cast<int>(std::floor(fraction * width));
    QString out = QStringLiteral("%1 %2/%3 [%4%5]")
                      .arg(label)
                      .arg(done)
                      .arg(total)
                      .arg(QString(filled, u'#'), QString(width - filled, u'.'));
    const double amount = bytes ? static_cast<double>(*bytesDone) : static_cast<double>(done);
    if (seconds <= 0 || amount <= 0) return out;
    const double rate = amount / seconds;
    out += u' ' +
           (bytes ? bytesPerSecond(rate) : QString::number(rate, 'f', 1) + QStringLiteral(" 件/s"));
    const double remaining =
        bytes ? static_cast<double>(*bytesTotal - std::min(*bytesDone, *bytesTotal))
              : static_cast<double>(total - done);
    if (remaining > 0) out += QStringLiteral(" 残り ") + duration(remaining / rate);
    return out;
}

}  // namespace pexil::cli
