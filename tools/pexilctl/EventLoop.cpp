#include "tools/pexilctl/EventLoop.h"

#include "kit/async/Executor.h"
#include "kit/async/Spawn.h"

#include <QEventLoop>

namespace pexil::cli {

namespace {

async::Task<void> finish(async::Task<int> work, int& status, QEventLoop& loop) {
    status = co_await std::move(work);
    loop.quit();
}

}  // namespace

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
