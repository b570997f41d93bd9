#include "tools/pexilctl/VirtualCameraOptions.h"

namespace pexil::cli {

std::optional<camera::VirtualCamera::Options> takeVirtualOptions(QStringList& args, CommandIO io) {
    camera::VirtualCamera::Options options;
    auto number = [&](const QString& name, double& out, double min, double max) {
        const auto text = takeValue(args, name, io);
        if (!text) return false;
        if (text->isEmpty()) return true;
        bool ok = false;
        const double value = text->toDouble(&ok);
        if (!ok || value < min || value > max) {
            io.err << "pexilctl: " << name << " の値が正しくありません: " << *text << "\n";
            return false;
        }
        out = value;
        return true;
    };
    const auto model = takeValue(args, QStringLiteral("--model"), io);
    if (!model) return std::nullopt;
    if (!model->isEmpty()) {
        if (!camera::findVirtualModel(*model)) {
            io.err << "pexilctl: 知らない機種です: " << *model << "（--model list で一覧）\n";
            return std::nullopt;
        }
        options.model = *model;
    }
    options.eventChannel = args.removeAll(QStringLiteral("--check-event-only")) == 0;
    const auto card = takeValue(args, QStringLiteral("--card"), io);
    if (!card) return std::nullopt;
    options.cardDir = *card;
    double photos = 0, seed = 1, gpsEvery = 0, liveFps = -1;
    if (!number(QStringLiteral("--photos"), photos, 0, 100000) ||
        !number(QStringLiteral("--seed"), seed, 0, 1e15) ||
        !number(QStringLiteral("--clock-drift"), options.clockDriftSeconds, -1e9, 1e9) ||
        !number(QStringLiteral("--latency"), options.latencyMs, 0, 60000) ||
        !number(QStringLiteral("--bandwidth"), options.bandwidthMBps, 0, 1e6) ||
        !number(QStringLiteral("--gps-every"), gpsEvery, 0, 100000) ||
        !number(QStringLiteral("--live-fps"), liveFps, 0, 1000))
        return std::nullopt;
    if (liveFps >= 0) options.liveViewFps = liveFps;
    options.photos = static_cast<int>(photos);
    options.gpsEvery = static_cast<int>(gpsEvery);
    options.objectPropList = args.removeAll(QStringLiteral("--no-prop-list")) == 0;
    options.fullSizePictures = args.removeAll(QStringLiteral("--full-size")) > 0;
    const auto stall = takeValue(args, QStringLiteral("--stall-after"), io);
    if (!stall) return std::nullopt;
    if (!stall->isEmpty()) {
        bool ok = false;
        const qulonglong bytes = stall->toULongLong(&ok);
        if (!ok) {
            io.err << "pexilctl: --stall-after にはバイト数（0 以上の整数）を指定してください: "
                   << *stall << "\n";
            return std::nullopt;
        }
        options.stallAfter = bytes;
    }
    // --fail-object NAME:RESPONSE, as often as wanted; RESPONSE in hex (0x2002) or decimal.
    for (;;) {
        const auto failing = takeValue(args, QStringLiteral("--fail-object"), io);
        if (!failing) return std::nullopt;
        if (failing->isEmpty()) break;
        const qsizetype colon = failing->lastIndexOf(u':');
        bool ok = false;
        const uint response = colon > 0 ? failing->mid(colon + 1).toUInt(&ok, 0) : 0;
        if (!ok || response == 0 || response > 0xFFFF) {
            io.err << "pexilctl: --fail-object は NAME:RESPONSE で指定してください: " << *failing
                   << "\n";
            return std::nullopt;
        }
        options.failObjects[failing->left(colon)] = static_cast<std::uint16_t>(response);
    }
    options.seed = static_cast<std::uint64_t>(seed);
    return options;
}

}  // namespace pexil::cli
