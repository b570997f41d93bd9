// How long the virtual camera takes to make a card of 2,000 pictures, and to list it the way
// the camera service does: GetObjectHandles, then GetObjectInfo for every object, through
// the Responder. The card is made once per run for the listing, in a temporary folder.
#include "camera/virtual/VirtualCamera.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

using pexil::camera::VirtualCamera;

constexpr int kPictures = 2000;

class CollectingSink final : public pexil::camera::DataSink {
public:
    bool begin(std::optional<std::uint64_t>) override {
        data.clear();
        return true;
    }
    bool write(pexil::ByteView piece) override {
        data.insert(data.end(), piece.begin(), piece.end());
        return true;
    }
    pexil::Bytes data;
};

std::shared_ptr<VirtualCamera> makeCard(const QString& dir) {
    VirtualCamera::Options options;
    options.cardDir = dir;
    options.photos = kPictures;
    auto made = VirtualCamera::create(options);
    return made.ok() ? made.value() : nullptr;
}

void BM_MakeCard(benchmark::State& state) {
    std::int64_t bytes = 0;
    for (auto _ : state) {
        QTemporaryDir dir;
        auto camera = makeCard(dir.path());
        if (!camera) {
            state.SkipWithError("the card could not be made");
            return;
        }
        state.PauseTiming();
        QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
        bytes = 0;
        while (it.hasNext()) bytes += QFileInfo(it.next()).size();
        camera.reset();
        state.ResumeTiming();
    }
    state.counters["pictures"] = kPictures;
    state.counters["MB on card"] = static_cast<double>(bytes) / 1e6;
}
BENCHMARK(BM_MakeCard)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ListCard(benchmark::State& state) {
    QTemporaryDir dir;
    auto camera = makeCard(dir.path());
    if (!camera) {
        state.SkipWithError("the card could not be made");
        return;
    }
    CollectingSink sink;
    std::uint32_t transaction = 1;
    camera->handle({0x1002, transaction++, {1}}, std::nullopt, sink);
    std::size_t objects = 0;
    for (auto _ : state) {
        // A fresh camera on the same card each time: its first listing reads every file's head.
        state.PauseTiming();
        camera = makeCard(dir.path());
        camera->handle({0x1002, transaction++, {1}}, std::nullopt, sink);
        state.ResumeTiming();
        camera->handle({0x1007, transaction++, {0xFFFFFFFF, 0, 0}}, std::nullopt, sink);
        const pexil::Bytes list = sink.data;
        objects = list.size() >= 4 ? (list.size() - 4) / 4 : 0;
        for (std::size_t i = 0; i < objects; ++i) {
            const std::size_t at = 4 + 4 * i;
            const std::uint32_t handle = list[at] | (list[at + 1] << 8) | (list[at + 2] << 16) |
                                         (static_cast<std::uint32_t>(list[at + 3]) << 24);
            camera->handle({0x1008, transaction++, {handle}}, std::nullopt, sink);
            benchmark::DoNotOptimize(sink.data.data());
        }
    }
    state.counters["objects"] = static_cast<double>(objects);
}
BENCHMARK(BM_ListCard)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
