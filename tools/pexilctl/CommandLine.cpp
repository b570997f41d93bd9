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

std::optional<double> takeSeconds(QStringList& args, const QString& name, CommandIO io, const QString& command) {
    const auto text = takeValue(args, name, io);
    if (!text) return std::nullopt;
    if (text->isEmpty()) return -1.0;
    bool ok = false;
    const double seconds = text->toDouble(&ok);
    // A duration too large for a timespec would wrap into the past.
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 1e9) {
        io.err << "pexilctl " << command << ": " << name << " の値が正しくありません: " << *text << "\n";
        return std::nullopt;
    }
    return seconds;
}

}  // namespace pexil::cli
