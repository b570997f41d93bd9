#include "tools/pexilctl/EventLoop.h"

#include "kit/async/Executor.h"
#include "kit/async/Sleep.h"
#include "kit/async/Spawn.h"

#include <QEventLoop>

#include <csignal>

namespace pexil::cli {

namespace {

bool stopSignalPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGINT) || sigismember(&pending, SIGTERM);
}

async::Task<void> finish(async::Task<int> work, int& status, QEventLoop& loop) {
    status = co_await std::move(work);
    loop.quit();
}

}  // namespace

async::Task<bool> pollUntil(std::function<bool()> done, double seconds) {
    async::Runtime& runtime = co_await async::currentRuntime();
    const auto deadline = runtime.clock().monotonic() + async::Seconds(seconds);
    for (;;) {
        if (done()) co_return true;
        if (stopSignalPending() || (seconds >= 0 && runtime.clock().monotonic() >= deadline)) co_return false;
        co_await async::sleep(0.02);
    }
}

int runOnEventLoop(CommandIO io, std::function<async::Task<int>(async::Runtime&)> work) {
    QObject context;
    async::QtExecutor executor(&context);
    async::SystemClock clock;
    async::Runtime runtime(executor, clock, [io](const QString& text) mutable { io.err << text << "\n"; });
    QEventLoop loop;
    int status = exitFailed;
    {
        async::Scope scope(runtime);
        scope.spawn(finish(work(runtime), status, loop));
        loop.exec();
    }
    io.out.flush();
    return status;
}

}  // namespace pexil::cli
