#pragma once

#include "kit/async/Clock.h"
#include "kit/async/Executor.h"

#include <QString>

#include <functional>

namespace pexil::async {

// What every task runs on: the main executor (where coroutines resume), the clock, and
// where an exception nobody awaited is reported. Outlives every task spawned on it.
class Runtime {
public:
    using Reporter = std::function<void(const QString&)>;

    // Without a reporter, escaped exceptions go to qCritical.
    Runtime(Executor& main, Clock& clock, Reporter reportUnhandled = {});
    Runtime(const Runtime&) = delete;
    Runtime& operator=(const Runtime&) = delete;

    Executor& main() const { return main_; }
    Clock& clock() const { return clock_; }
    void reportUnhandled(const QString& text) const;
    // The application points this at its diagnostic log once the log exists.
    void setReporter(Reporter reporter) { reporter_ = std::move(reporter); }

private:
    Executor& main_;
    Clock& clock_;
    Reporter reporter_;
};

}  // namespace pexil::async
