#include "tools/pexilctl/CommandLine.h"

#include <cmath>

namespace pexil::cli {

std::optional<QString> takeValue(QStringList& args, const QString& name, CommandIO io) {
    const qsizetype at = args.indexOf(name);
    if (at < 0) return QString();
    if (at + 1 >= args.size()) {
        io.err << "pexilctl: " << name << " には値が必要です\n";
        return std::nullopt;
    }
    const QString value = args.at(at + 1);
    args.remove(at, 2);
    return value;
}

std::optional<double> takeSeconds(QStringList& args, const QString& name, CommandIO io,
                                  const QString& command) {
    const auto text = takeValue(args, name, io);
    if (!text) return std::nullopt;
    if (text->isEmpty()) return -1.0;
    bool ok = false;
    const double seconds = text->toDouble(&ok);
    // A duration too large for a timespec would wrap into the past.
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 1e9) {
        io.err << "pexilctl " << command << ": " << name << " の値が正しくありません: " << *text
               << "\n";
        return std::nullopt;
    }
    return seconds;
}

std::optional<std::chrono::milliseconds> takeIoTimeout(QStringList& args, CommandIO io,
                                                       const QString& command,
                                                       std::chrono::milliseconds fallback) {
    const QString name = QStringLiteral("--io-timeout");
    const auto text = takeValue(args, name, io);
    if (!text) return std::nullopt;
    if (text->isEmpty()) return fallback;
    bool ok = false;
    const double seconds = text->toDouble(&ok);
    // Below a second a camera busy for a moment would count as lost.
    if (!ok || !std::isfinite(seconds) || seconds < 1 || seconds > 3600) {
        io.err << "pexilctl " << command << ": " << name
               << " は 1 から 3600 までの秒数で指定してください: " << *text << "\n";
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

}  // namespace pexil::cli
