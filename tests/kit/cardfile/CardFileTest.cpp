#include "kit/cardfile/CardFile.h"

#include "kit/async/Spawn.h"
#include "kit/async/VirtualRuntime.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace pexil {
namespace {

using async::Seconds;

// A card file whose requests the test answers by hand, from whichever thread it likes, or
// that answers each read at once from `content`.
class FakeFile final : public CardFileSource {
public:
    struct Request {
        bool thumbnail = false;
        std::int64_t offset = 0;
        std::int64_t length = 0;
        int maxPixel = 0;
        Done done;
    };

    explicit FakeFile(Bytes content = {}, bool answerAtOnce = false)
        : content_(std::move(content)), answerAtOnce_(answerAtOnce) {}

    void requestReadData(std::int64_t offset, std::int64_t length, Done done) override {
        if (answerAtOnce_) {
            done(slice(offset, length), std::nullopt);
            std::lock_guard lock(mutex_);
            requests_.push_back({false, offset, length, 0, {}});
            return;
        }
        std::lock_guard lock(mutex_);
        requests_.push_back({false, offset, length, 0, std::move(done)});
    }
    void requestThumbnail(int maxPixel, Done done) override {
        std::lock_guard lock(mutex_);
        requests_.push_back({true, 0, 0, maxPixel, std::move(done)});
    }

    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    // What the card holds in that range: fewer bytes at the end of the file.
    Bytes slice(std::int64_t offset, std::int64_t length) const {
        const auto size = static_cast<std::int64_t>(content_.size());
        const auto from = std::min(offset, size);
        const auto to = std::min(size, offset + length);
        return Bytes(content_.begin() + from, content_.begin() + to);
    }
    // Answers request `i` with its slice of the content.
    void answer(std::size_t i) const {
        const Request r = requests().at(i);
        r.done(slice(r.offset, r.length), std::nullopt);
    }

private:
    Bytes content_;
    bool answerAtOnce_;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
};

template <class T>
struct Outcome {
    bool done = false;
    std::optional<T> value;
    double at = -1;  // virtual seconds when it finished
};

template <class T>
async::Task<void> capture(async::Task<std::optional<T>> task, Outcome<T>& out) {
    out.value = co_await std::move(task);
    async::Runtime& runtime = co_await async::currentRuntime();
    out.at = runtime.clock().monotonic().count();
    out.done = true;
}

Bytes pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    for (auto& b : out) {
        seed = seed * 1664525U + 1013904223U;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return out;
}

void putLE16(Bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void putLE32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

constexpr std::uint32_t kPreviewAt = 0x1000;

// A little-endian TIFF whose IFD0 gives Orientation `turn` and a JPEG of `announced`
// bytes at kPreviewAt, of which the file holds `present` (a JPEG-looking pattern).
Bytes tiffFile(std::uint16_t turn, std::uint32_t announced, std::uint32_t present) {
    Bytes file(kPreviewAt + present, 0);
    file[0] = 'I';
    file[1] = 'I';
    putLE16(file, 2, 42);
    putLE32(file, 4, 8);
    putLE16(file, 8, 3);
    auto entry = [&](int i, std::uint16_t tag, std::uint16_t type, std::uint32_t value) {
        const std::size_t at = 10 + static_cast<std::size_t>(i) * 12;
        putLE16(file, at, tag);
        putLE16(file, at + 2, type);
        putLE32(file, at + 4, 1);
        if (type == 3)
            putLE16(file, at + 8, static_cast<std::uint16_t>(value));
        else
            putLE32(file, at + 8, value);
    };
    entry(0, 274, 3, turn);
    entry(1, 513, 4, kPreviewAt);
    entry(2, 514, 4, announced);
    const Bytes jpeg = pattern(present, 7);
    std::copy(jpeg.begin(), jpeg.end(), file.begin() + kPreviewAt);
    if (present >= 4) {
        file[kPreviewAt] = 0xFF;
        file[kPreviewAt + 1] = 0xD8;
        file[kPreviewAt + present - 2] = 0xFF;
        file[kPreviewAt + present - 1] = 0xD9;
    }
    return file;
}

class CardFileTest : public ::testing::Test {
protected:
    template <class T>
    void start(async::Task<std::optional<T>> task, Outcome<T>& out) {
        scope.spawn(capture(std::move(task), out));
        rt.runReady();
    }

    async::VirtualRuntime rt;
    async::Scope scope{rt.runtime()};
};

TEST_F(CardFileTest, ReadDeliversTheRangeAnsweredFromAnotherThreadAndLeavesNoTimer) {
    auto file = std::make_shared<FakeFile>(pattern(10000, 1));
    Outcome<Bytes> out;
    start(CardFile::read(file, 100, 50), out);
    ASSERT_EQ(file->requests().size(), 1U);
    EXPECT_EQ(file->requests()[0].offset, 100);
    EXPECT_EQ(file->requests()[0].length, 50);
    EXPECT_FALSE(out.done);

    std::thread answering([&] { file->answer(0); });
    EXPECT_TRUE(rt.waitUntil([&] { return out.done; }));
    answering.join();
    ASSERT_TRUE(out.value);
    EXPECT_EQ(*out.value, file->slice(100, 50));
    EXPECT_FALSE(rt.clock().hasTimers()) << "the time-out must be withdrawn with the answer";
    EXPECT_EQ(out.at, 0.0);
}

TEST_F(CardFileTest, AStalledReadGivesNoneAfterSixtySecondsAndALateAnswerChangesNothing) {
    auto file = std::make_shared<FakeFile>(pattern(100, 2));
    Outcome<Bytes> out;
    start(CardFile::read(file, 0, 100), out);
    rt.runFor(Seconds{59.9});
    EXPECT_FALSE(out.done);
    rt.runFor(Seconds{1.1});
    ASSERT_TRUE(out.done);
    EXPECT_FALSE(out.value);
    EXPECT_DOUBLE_EQ(out.at, 60.0);

    // The camera finally answers at 61 s, from its own thread.
    std::thread([&] { file->answer(0); }).join();
    rt.runFor(Seconds{5});
    EXPECT_FALSE(out.value);
    EXPECT_TRUE(rt.unhandled().isEmpty());
}

TEST_F(CardFileTest, AnAnswerJustBeforeTheTimeOutWins) {
    auto file = std::make_shared<FakeFile>(pattern(100, 3));
    Outcome<Bytes> out;
    start(CardFile::read(file, 10, 20), out);
    rt.runFor(Seconds{59.5});
    file->answer(0);
    rt.runReady();
    ASSERT_TRUE(out.done);
    ASSERT_TRUE(out.value);
    EXPECT_EQ(*out.value, file->slice(10, 20));
    rt.runFor(Seconds{10});
    EXPECT_EQ(*out.value, file->slice(10, 20)) << "the withdrawn time-out must not fire";
}

TEST_F(CardFileTest, ErrorsAndMissingDataGiveNone) {
    const TransportError error{QString::fromUtf8("切断")};
    const std::vector<std::pair<std::optional<Bytes>, std::optional<TransportError>>> answers = {
        {std::nullopt, std::nullopt},
        {std::nullopt, error},
        {Bytes(10, 1), error},  // bytes that came with an error may be cut short
    };
    for (const auto& [data, err] : answers) {
        auto file = std::make_shared<FakeFile>();
        Outcome<Bytes> out;
        start(CardFile::read(file, 0, 10), out);
        file->requests().at(0).done(data, err);
        rt.runReady();
        ASSERT_TRUE(out.done);
        EXPECT_FALSE(out.value) << "data: " << data.has_value() << " error: " << err.has_value();
    }
}

TEST_F(CardFileTest, RangesTheCameraCannotTakeAreNotSent) {
    auto file = std::make_shared<FakeFile>(pattern(100, 4), true);
    Outcome<Bytes> negativeOffset, negativeLength, empty;
    start(CardFile::read(file, -1, 10), negativeOffset);
    start(CardFile::read(file, 0, -10), negativeLength);
    start(CardFile::read(file, 50, 0), empty);
    ASSERT_TRUE(negativeOffset.done && negativeLength.done && empty.done);
    EXPECT_FALSE(negativeOffset.value);
    EXPECT_FALSE(negativeLength.value);
    ASSERT_TRUE(empty.value);
    EXPECT_TRUE(empty.value->empty());
    EXPECT_TRUE(file->requests().empty());
}

TEST_F(CardFileTest, ThumbnailAsksForTheSizeAndTimesOutLikeARead) {
    auto file = std::make_shared<FakeFile>();
    Outcome<Bytes> answered, stalled, noSize;
    start(CardFile::thumbnailData(file, 320), answered);
    start(CardFile::thumbnailData(file, 160), stalled);
    start(CardFile::thumbnailData(file, 0), noSize);
    const auto requests = file->requests();
    ASSERT_EQ(requests.size(), 2U) << "a thumbnail of no size is not asked for";
    EXPECT_TRUE(requests[0].thumbnail);
    EXPECT_EQ(requests[0].maxPixel, 320);
    EXPECT_EQ(requests[1].maxPixel, 160);
    EXPECT_TRUE(noSize.done);
    EXPECT_FALSE(noSize.value);

    const Bytes jpeg{0xFF, 0xD8, 0xFF, 0xD9};
    std::thread([&] { requests[0].done(jpeg, std::nullopt); }).join();
    rt.runReady();
    ASSERT_TRUE(answered.value);
    EXPECT_EQ(*answered.value, jpeg);
    EXPECT_FALSE(stalled.done);
    rt.runFor(Seconds{60});
    EXPECT_TRUE(stalled.done);
    EXPECT_FALSE(stalled.value);
}

TEST_F(CardFileTest, OutstandingCallsEachGetTheirOwnAnswerInAnyOrder) {
    auto file = std::make_shared<FakeFile>(pattern(5000, 5));
    std::vector<Outcome<Bytes>> outs(4);
    for (std::size_t i = 0; i < outs.size(); ++i)
        start(CardFile::read(file, static_cast<std::int64_t>(i) * 1000, 700), outs[i]);
    ASSERT_EQ(file->requests().size(), 4U);
    std::vector<std::thread> threads;
    for (std::size_t i = outs.size(); i-- > 0;)
        threads.emplace_back([&file, i] { file->answer(i); });
    EXPECT_TRUE(rt.waitUntil([&] {
        return std::all_of(outs.begin(), outs.end(), [](const auto& o) { return o.done; });
    }));
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < outs.size(); ++i) {
        ASSERT_TRUE(outs[i].value);
        EXPECT_EQ(*outs[i].value, file->slice(static_cast<std::int64_t>(i) * 1000, 700));
    }
}

TEST_F(CardFileTest, OrientationReadsTheFirst2048Bytes) {
    auto tiff = std::make_shared<FakeFile>(tiffFile(8, 100, 100), true);
    Outcome<int> turned;
    start(CardFile::orientation(tiff), turned);
    rt.runReady();
    ASSERT_TRUE(turned.value);
    EXPECT_EQ(*turned.value, 8);
    ASSERT_EQ(tiff->requests().size(), 1U);
    EXPECT_EQ(tiff->requests()[0].offset, 0);
    EXPECT_EQ(tiff->requests()[0].length, 2048);

    auto jpeg =
        std::make_shared<FakeFile>(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0, 8, 'E', 'x', 'i', 'f'}, true);
    Outcome<int> none;
    start(CardFile::orientation(jpeg), none);
    rt.runReady();
    EXPECT_TRUE(none.done);
    EXPECT_FALSE(none.value);

    auto stalled = std::make_shared<FakeFile>();
    Outcome<int> timedOut;
    start(CardFile::orientation(stalled), timedOut);
    rt.runFor(Seconds{60});
    EXPECT_TRUE(timedOut.done);
    EXPECT_FALSE(timedOut.value);
}

TEST_F(CardFileTest, AFileShorterThanNineBytesGivesNoneWithoutASecondRead) {
    const Bytes tiny{'I', 'I', 42, 0, 8, 0, 0, 0};
    auto file = std::make_shared<FakeFile>(tiny, true);
    Outcome<int> turn;
    Outcome<CardFile::Preview> preview;
    start(CardFile::orientation(file), turn);
    start(CardFile::embeddedPreview(file), preview);
    rt.runReady();
    ASSERT_TRUE(turn.done && preview.done);
    EXPECT_FALSE(turn.value);
    EXPECT_FALSE(preview.value);
    ASSERT_EQ(file->requests().size(), 2U) << "one head read each, nothing more";
    EXPECT_EQ(file->requests()[1].length, 131072);
}

TEST_F(CardFileTest, ATiffWithOrientation8AndA2MBPreviewGivesThePreviewBytesAnd8) {
    constexpr std::uint32_t size = 2'000'000;
    auto file = std::make_shared<FakeFile>(tiffFile(8, size, size), true);
    Outcome<CardFile::Preview> out;
    start(CardFile::embeddedPreview(file), out);
    rt.runReady();
    ASSERT_TRUE(out.value);
    EXPECT_EQ(out.value->orientation, 8);
    EXPECT_EQ(out.value->jpeg, file->slice(kPreviewAt, size));
    const auto requests = file->requests();
    ASSERT_EQ(requests.size(), 2U);
    EXPECT_EQ(requests[0].offset, 0);
    EXPECT_EQ(requests[0].length, 131072);
    EXPECT_EQ(requests[1].offset, kPreviewAt);
    EXPECT_EQ(requests[1].length, size);
}

TEST_F(CardFileTest, PreviewLengthsOutside1To40MiBAreNotRead) {
    const std::vector<std::pair<std::uint32_t, bool>> cases = {
        {0, false}, {1, true}, {41943040, true}, {41943041, false}, {50U * 1024 * 1024, false}};
    for (const auto& [announced, read] : cases) {
        auto file = std::make_shared<FakeFile>(tiffFile(1, announced, 16));
        Outcome<CardFile::Preview> out;
        start(CardFile::embeddedPreview(file), out);
        file->answer(0);
        rt.runReady();
        ASSERT_EQ(file->requests().size(), read ? 2U : 1U) << "announced " << announced;
        EXPECT_EQ(file->requests().back().length, read ? std::int64_t{announced} : 131072);
        EXPECT_EQ(out.done, !read) << "announced " << announced;
        if (read) {
            file->requests()[1].done(std::nullopt, std::nullopt);
            rt.runReady();
        }
        EXPECT_TRUE(out.done);
        EXPECT_FALSE(out.value) << "announced " << announced;
    }
}

TEST_F(CardFileTest, APreviewCutShortByTheEndOfTheFileIsNotGiven) {
    auto file = std::make_shared<FakeFile>(tiffFile(6, 5000, 3000), true);
    Outcome<CardFile::Preview> out;
    start(CardFile::embeddedPreview(file), out);
    rt.runReady();
    ASSERT_TRUE(out.done);
    EXPECT_FALSE(out.value);
    EXPECT_EQ(file->requests().size(), 2U);
}

TEST_F(CardFileTest, EachReadOfAPreviewHasItsOwnMinute) {
    auto file = std::make_shared<FakeFile>(tiffFile(3, 1000, 1000));
    Outcome<CardFile::Preview> out;
    start(CardFile::embeddedPreview(file), out);
    rt.runFor(Seconds{50});
    file->answer(0);
    rt.runFor(Seconds{59});
    EXPECT_FALSE(out.done) << "the preview read started at 50 s may take until 110 s";
    ASSERT_EQ(file->requests().size(), 2U);
    rt.runFor(Seconds{2});
    EXPECT_TRUE(out.done);
    EXPECT_FALSE(out.value);
    EXPECT_DOUBLE_EQ(out.at, 110.0);
}

}  // namespace
}  // namespace pexil
