// Decoding one 1024 × 680 live-view frame through JpegDecoder (a fresh handle and QImage per
// frame, as the live-frame queue does) against a bare tjDecompress2 of the same frame into a
// buffer that is reused, in the same run (goal: a ratio of at most 1.1).
//
// LiveFrameAids: peaking, histogram and clipping worked out for the same decoded frame
// against its decoding, in the same run (goal: a ratio of at most 0.5).
#include "app/shots/FrameAnalysis.h"
#include "app/shots/JpegDecoder.h"
#include "camera/virtual/PictureFactory.h"

#include <turbojpeg.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace pexil;
using SteadyClock = std::chrono::steady_clock;

constexpr int framesPerRound = 50;

// The virtual body's 1024 × 680 scene as the JPEG a live-view frame carries; none (and the
// benchmark skipped) when it cannot be rendered.
std::optional<Bytes> liveFrame(benchmark::State& state) {
    camera::PictureFactory factory;
    auto scene = factory.render(1024, 680, 5, 1);
    if (!scene.ok()) {
        state.SkipWithError("the frame could not be rendered");
        return std::nullopt;
    }
    return std::move(scene.value().picture);
}

void LiveFrameDecode(benchmark::State& state) {
    const auto rendered = liveFrame(state);
    if (!rendered) return;
    const Bytes& frame = *rendered;
    const std::unique_ptr<void, int (*)(tjhandle)> handle(tjInitDecompress(), tjDestroy);
    std::vector<unsigned char> buffer(1024 * 680 * 4);
    const auto bare = [&] {
        int width = 0;
        int height = 0;
        int subsampling = 0;
        int colorspace = 0;
        tjDecompressHeader3(handle.get(), frame.data(), frame.size(), &width, &height, &subsampling,
                            &colorspace);
        return tjDecompress2(handle.get(), frame.data(), frame.size(), buffer.data(), width, 0,
                             height, TJPF_BGRX, 0) == 0;
    };

    double ours = 0;
    double baseline = 0;
    for (auto _ : state) {
        // Alternating rounds, so that other load on the machine falls on both sides alike.
        auto t0 = SteadyClock::now();
        for (int i = 0; i < framesPerRound; ++i) {
            auto image = JpegDecoder::decode(frame.data(), frame.size());
            if (!image || image->width() != 1024) state.SkipWithError("JpegDecoder failed");
            benchmark::DoNotOptimize(image);
        }
        ours += std::chrono::duration<double>(SteadyClock::now() - t0).count();

        t0 = SteadyClock::now();
        for (int i = 0; i < framesPerRound; ++i) {
            if (!bare()) state.SkipWithError("tjDecompress2 failed");
            benchmark::DoNotOptimize(buffer.data());
        }
        baseline += std::chrono::duration<double>(SteadyClock::now() - t0).count();
    }
    const double frames = static_cast<double>(state.iterations()) * framesPerRound;
    state.counters["us_jpegdecoder"] = 1e6 * ours / frames;
    state.counters["us_tjdecompress"] = 1e6 * baseline / frames;
    state.counters["ratio"] = ours / baseline;
}
BENCHMARK(LiveFrameDecode)->Unit(benchmark::kMillisecond)->Iterations(20);

void LiveFrameAids(benchmark::State& state) {
    const auto rendered = liveFrame(state);
    if (!rendered) return;
    const Bytes& frame = *rendered;
    const auto decoded = JpegDecoder::decode(frame.data(), frame.size());
    if (!decoded) {
        state.SkipWithError("JpegDecoder failed");
        return;
    }
    const LiveAids all{true, true, true, LiveAids::Guide::none};
    double decoding = 0;
    double aids = 0;
    int edges = 0;
    for (auto _ : state) {
        auto t0 = SteadyClock::now();
        for (int i = 0; i < framesPerRound; ++i) {
            auto image = JpegDecoder::decode(frame.data(), frame.size());
            benchmark::DoNotOptimize(image);
        }
        decoding += std::chrono::duration<double>(SteadyClock::now() - t0).count();

        t0 = SteadyClock::now();
        for (int i = 0; i < framesPerRound; ++i) {
            const FrameAnalysis analysis = analyseFrame(*decoded, all, 0xFFD8A341);
            edges = analysis.edgePixels;
            benchmark::DoNotOptimize(analysis.marks.constBits());
        }
        aids += std::chrono::duration<double>(SteadyClock::now() - t0).count();
    }
    const double frames = static_cast<double>(state.iterations()) * framesPerRound;
    state.counters["us_decode"] = 1e6 * decoding / frames;
    state.counters["us_aids"] = 1e6 * aids / frames;
    state.counters["edge_pixels"] = edges;
    state.counters["ratio"] = aids / decoding;
}
BENCHMARK(LiveFrameAids)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
