#include "kit/cardfile/CardFile.h"

#include "kit/async/Completion.h"
#include "kit/nef/NEF.h"

#include <functional>
#include <utility>

namespace pexil::CardFile {

namespace {

// Callers build one in a variable before awaiting firstAnswer(): g++ 12 destroys twice a
// lambda that is converted to a coroutine's parameter inside a co_await expression (seen
// as a use-after-free of the captured file under ASan).
using Request = std::function<void(CardFileSource::Done)>;

// Withdraws the time-out once the call is over, also when its task is abandoned while it
// waits, so that no timer outlives the call.
class TimeoutGuard {
public:
    explicit TimeoutGuard(async::Clock& clock) : clock_(clock) {}
    TimeoutGuard(const TimeoutGuard&) = delete;
    TimeoutGuard& operator=(const TimeoutGuard&) = delete;
    ~TimeoutGuard() {
        if (id_) clock_.cancelTimer(*id_);
    }
    void set(async::TimerId id) { id_ = id; }

private:
    async::Clock& clock_;
    std::optional<async::TimerId> id_;
};

// The source's answer or the time-out, whichever comes first; the resolver's latch makes
// the loser a no-op.
async::Task<std::optional<Bytes>> firstAnswer(Request request) {
    async::Runtime& runtime = co_await async::currentRuntime();
    TimeoutGuard guard(runtime.clock());
    auto start = [&](async::Resolver<std::optional<Bytes>> resolver) {
        guard.set(runtime.clock().startTimer(async::Seconds{timeoutSeconds},
                                             [resolver] { resolver.resolve(std::nullopt); }));
        request([resolver](std::optional<Bytes> data, std::optional<TransportError> error) {
            // Bytes that come with an error may be cut short: showing them would show a
            // damaged picture, so they count as none.
            if (error) data.reset();
            resolver.resolve(std::move(data));
        });
    };
    std::optional<Bytes> answer = co_await async::waitFor<std::optional<Bytes>>(std::move(start));
    co_return answer;
}

}  // namespace

async::Task<std::optional<Bytes>> read(std::shared_ptr<CardFileSource> file, std::int64_t offset,
                                       std::int64_t length) {
    if (!file || offset < 0 || length < 0) co_return std::nullopt;
    // Some cameras read a zero length of GetPartialObject as "to the end of the file".
    if (length == 0) co_return Bytes();
    Request request = [file, offset, length](CardFileSource::Done done) {
        file->requestReadData(offset, length, std::move(done));
    };
    std::optional<Bytes> data = co_await firstAnswer(std::move(request));
    co_return data;
}

async::Task<std::optional<Bytes>> thumbnailData(std::shared_ptr<CardFileSource> file,
                                                int maxPixel) {
    if (!file || maxPixel < 1) co_return std::nullopt;
    Request request = [file, maxPixel](CardFileSource::Done done) {
        file->requestThumbnail(maxPixel, std::move(done));
    };
    std::optional<Bytes> data = co_await firstAnswer(std::move(request));
    co_return data;
}

async::Task<std::optional<int>> orientation(std::shared_ptr<CardFileSource> file) {
    const std::optional<Bytes> head = co_await read(std::move(file), 0, orientationHeadSize);
    if (!head) co_return std::nullopt;
    co_return NEF::orientation(*head);
}

async::Task<std::optional<Preview>> embeddedPreview(std::shared_ptr<CardFileSource> file) {
    const std::optional<Bytes> head = co_await read(file, 0, previewHeadSize);
    if (!head) co_return std::nullopt;
    const std::optional<int> turn = NEF::orientation(*head);
    const std::optional<NEF::Location> location = NEF::largestPreview(*head);
    if (!location || location->length < 1 || location->length > largestPreviewSize)
        co_return std::nullopt;
    std::optional<Bytes> jpeg = co_await read(file, location->offset, location->length);
    // A file that ends inside its preview would give a picture cut off half-way.
    if (!jpeg || static_cast<std::int64_t>(jpeg->size()) != location->length)
        co_return std::nullopt;
    Preview result;
    result.jpeg = std::move(*jpeg);
    result.orientation = turn;
    co_return result;
}

}  // namespace pexil::CardFile
