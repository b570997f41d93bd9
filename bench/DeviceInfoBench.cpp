#include "kit/device/DeviceInfo.h"
#include "kit/ptp/PTP.h"

#include <benchmark/benchmark.h>

namespace {

// A DeviceInfo of about 400 bytes, the size a Nikon DSLR sends.
pexil::Bytes nikonDeviceInfo() {
    using pexil::PTP::appendLE;
    pexil::Bytes out;
    auto string = [&](const QString& text) {
        const auto encoded = pexil::PTP::encodeString(text);
        out.insert(out.end(), encoded.begin(), encoded.end());
    };
    auto array = [&](std::uint16_t first, std::uint32_t count) {
        appendLE(out, count);
        for (std::uint32_t i = 0; i < count; ++i)
            appendLE(out, static_cast<std::uint16_t>(first + i));
    };
    appendLE(out, std::uint16_t{100});
    appendLE(out, std::uint32_t{6});
    appendLE(out, std::uint16_t{100});
    string(QStringLiteral("microsoft.com: 1.0"));
    appendLE(out, std::uint16_t{0});
    array(0x1001, 30);
    array(0x90C0, 40);
    array(0x4001, 14);
    array(0x5001, 30);
    array(0x3000, 2);
    array(0x3800, 4);
    string(QStringLiteral("Nikon Corporation"));
    string(QStringLiteral("D850"));
    string(QStringLiteral("V1.02"));
    string(QStringLiteral("00000000000000000000000003012345"));
    return out;
}

void BM_DeviceInfoParse(benchmark::State& state) {
    const pexil::Bytes data = nikonDeviceInfo();
    for (auto _ : state) {
        auto info = pexil::DeviceInfo::parse(data);
        benchmark::DoNotOptimize(info);
    }
    state.SetLabel(std::to_string(data.size()) + " bytes");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_DeviceInfoParse);

}  // namespace
