#pragma once

#include "tools/pexilctl/CommandIO.h"

#include <QStringList>

#include <chrono>
#include <optional>

namespace pexil::cli {

// Takes "--name VALUE" out of `args`: the value, an empty string when absent, none (with
// one line on err) when the value is missing.
std::optional<QString> takeValue(QStringList& args, const QString& name, CommandIO io);

// Takes "--name SECONDS" (a duration, 0 or more) out of `args`: -1 when absent, none (with
// one line on err, naming `command`) when the value is missing or not a duration.
std::optional<double> takeSeconds(QStringList& args, const QString& name, CommandIO io,
                                  const QString& command);

// Takes "--io-timeout SECONDS" out of `args`: how long a camera transaction may go without
// progress before the camera is given up; `fallback` when absent, none (with one line on
// err, naming `command`) when the value is not a number of seconds from 1 to 3600.
std::optional<std::chrono::milliseconds> takeIoTimeout(QStringList& args, CommandIO io,
                                                       const QString& command,
                                                       std::chrono::milliseconds fallback);

}  // namespace pexil::cli
