#include "tools/pexilctl/InspectCommand.h"

#include "kit/device/CameraCapabilities.h"
#include "kit/device/DeviceInfo.h"
#include "kit/device/PropDesc.h"
#include "kit/device/PropFormat.h"
#include "kit/nef/NEF.h"
#include "kit/ptp/PTPEvent.h"
#include "kit/ptp/PTPReader.h"

#include <QFile>
#include <QSaveFile>

#include <optional>

namespace pexil::cli {

namespace {

// The head of a NEF that the card browser reads before deciding where the preview is.
constexpr qint64 nefHeadBytes = 131072;

QString hex16List(const std::vector<std::uint16_t>& codes) {
    QStringList parts;
    for (auto code : codes) parts << QString::asprintf("0x%04X", code);
    return parts.join(u' ');
}

QString typeName(PTP::DataType type) {
    switch (type) {
        case PTP::DataType::int8:
            return QStringLiteral("int8");
        case PTP::DataType::uint8:
            return QStringLiteral("uint8");
        case PTP::DataType::int16:
            return QStringLiteral("int16");
        case PTP::DataType::uint16:
            return QStringLiteral("uint16");
        case PTP::DataType::int32:
            return QStringLiteral("int32");
        case PTP::DataType::uint32:
            return QStringLiteral("uint32");
        case PTP::DataType::int64:
            return QStringLiteral("int64");
        case PTP::DataType::uint64:
            return QStringLiteral("uint64");
        case PTP::DataType::string:
            return QStringLiteral("string");
    }
    return {};
}

struct Options {
    QString kind;
    QString file;
    bool container = false;
    std::uint32_t vendor = 0;
    QString extract;
};

// Parses the command line; on failure writes one line to err and gives none.
std::optional<Options> parseOptions(const QStringList& args, CommandIO io) {
    Options options;
    QStringList positional;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (arg == QLatin1String("--container")) {
            options.container = true;
        } else if (arg == QLatin1String("--vendor") || arg == QLatin1String("--extract")) {
            if (i + 1 >= args.size()) {
                io.err << "pexilctl inspect: " << arg << " には値が必要です\n";
                return std::nullopt;
            }
            const QString value = args[++i];
            if (arg == QLatin1String("--extract")) {
                options.extract = value;
                continue;
            }
            bool ok = false;
            const uint vendor = value.toUInt(&ok, 0);
            if (!ok) {
                io.err << "pexilctl inspect: --vendor の値が数ではありません: " << value << "\n";
                return std::nullopt;
            }
            options.vendor = vendor;
        } else if (arg.startsWith(QLatin1String("--"))) {
            io.err << "pexilctl inspect: 知らないオプションです: " << arg << "\n";
            return std::nullopt;
        } else {
            positional << arg;
        }
    }
    if (positional.size() != 2) {
        io.err << "pexilctl inspect: 種類とファイルを一つずつ指定してください（pexilctl inspect "
                  "--help）\n";
        return std::nullopt;
    }
    options.kind = positional[0];
    options.file = positional[1];
    return options;
}

// Reads up to `limit` bytes (all when negative); none, with the line on err, when the file
// is missing or unreadable.
std::optional<Bytes> readFile(const QString& path, qint64 limit, CommandIO io) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        io.err << "pexilctl inspect: ファイルを読めません: " << path << "（" << file.errorString()
               << "）\n";
        return std::nullopt;
    }
    const QByteArray data = limit < 0 ? file.readAll() : file.read(limit);
    if (file.error() != QFileDevice::NoError) {
        io.err << "pexilctl inspect: ファイルを読めません: " << path << "（" << file.errorString()
               << "）\n";
        return std::nullopt;
    }
    return Bytes(data.begin(), data.end());
}

// Strips the 12-byte container header of a data container (type 2).
std::optional<Bytes> dataPhase(Bytes bytes, CommandIO io) {
    PTPReader reader(bytes);
    const auto length = reader.read<std::uint32_t>();
    const auto type = reader.read<std::uint16_t>();
    if (!length || !type || *type != 2 || *length < 12 || *length > bytes.size()) {
        io.err << "pexilctl inspect: PTP のデータコンテナではありません（12 バイトの頭、種別 2）\n";
        return std::nullopt;
    }
    return Bytes(bytes.begin() + 12, bytes.begin() + *length);
}

int inspectDeviceInfo(const Bytes& data, CommandIO io) {
    const auto info = DeviceInfo::parse(data);
    if (!info) {
        io.err << "pexilctl inspect: DeviceInfo として読めません\n";
        return exitFailed;
    }
    io.out << QString::asprintf("vendor: 0x%08X\n", info->vendor);
    io.out << "effective-vendor: " << info->effectiveVendor() << "\n";
    io.out << "manufacturer: " << info->manufacturer << "\n";
    io.out << "model: " << info->model << "\n";
    io.out << "version: " << info->version << "\n";
    io.out << "serial: " << info->serialNumber << "\n";
    io.out << "operations: " << hex16List(info->operations) << "\n";
    io.out << "events: " << hex16List(info->events) << "\n";
    io.out << "properties: " << hex16List(info->properties) << "\n";
    io.out << "nikon1: " << (CameraCapabilities(*info).isNikon1 ? "yes" : "no") << "\n";
    return exitOK;
}

int inspectPropDesc(const Bytes& data, std::uint32_t vendor, CommandIO io) {
    const auto desc = PropDesc::parse(data, vendor);
    if (!desc) {
        io.err << "pexilctl inspect: "
                  "プロパティ記述として読めません（知らないプロパティか型、または短すぎます）\n";
        return exitFailed;
    }
    io.out << QString::asprintf("code: 0x%04X\n", PTP::code(desc->code));
    io.out << "label: " << PTP::label(desc->code) << "\n";
    io.out << "type: " << typeName(desc->dataType) << "\n";
    io.out << "writable: " << (desc->writable ? "yes" : "no") << "\n";
    io.out << "current: " << desc->current << "\n";
    io.out << "current-text: " << desc->currentText() << "\n";
    const QStringList texts = desc->choiceTexts();
    for (std::size_t i = 0; i < desc->choices.size(); ++i)
        io.out << "choice: " << desc->choices[i] << " " << texts[static_cast<qsizetype>(i)] << "\n";
    return exitOK;
}

int inspectEvents(const Bytes& data, CommandIO io) {
    // An empty list is a valid answer (no events pending) only when the count says so.
    PTPReader reader(data);
    const auto count = reader.read<std::uint16_t>();
    if (!count || *count > 255) {
        io.err << "pexilctl inspect: CheckEvent のデータとして読めません\n";
        return exitFailed;
    }
    for (const PTPEvent& event : PTPEvent::checkEvent(data))
        io.out << QString::asprintf("0x%04X 0x%08X\n", event.code, event.param);
    return exitOK;
}

int inspectNEF(const Options& options, CommandIO io) {
    const auto head = readFile(options.file, nefHeadBytes, io);
    if (!head) return exitUnreadable;
    const auto orientation = NEF::orientation(*head);
    const auto preview = NEF::largestPreview(*head);
    io.out << "orientation: "
           << (orientation ? QString::number(*orientation) : QStringLiteral("none")) << "\n";
    if (preview) {
        io.out << "preview: offset=" << preview->offset << " length=" << preview->length << "\n";
    } else {
        io.out << "preview: none\n";
    }
    if (options.extract.isEmpty()) return exitOK;
    if (!preview) {
        io.err << "pexilctl inspect: 取り出すプレビューがありません\n";
        return exitFailed;
    }
    QFile file(options.file);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(preview->offset)) {
        io.err << "pexilctl inspect: ファイルを読めません: " << options.file << "\n";
        return exitUnreadable;
    }
    const QByteArray jpeg = file.read(preview->length);
    if (jpeg.size() != preview->length) {
        io.err << "pexilctl inspect: プレビューがファイルの終わりを越えています（" << jpeg.size()
               << " / " << preview->length << " バイト）\n";
        return exitFailed;
    }
    // Written beside the target and renamed into place: never a half-written picture.
    QSaveFile out(options.extract);
    if (!out.open(QIODevice::WriteOnly) || out.write(jpeg) != jpeg.size() || !out.commit()) {
        io.err << "pexilctl inspect: 書き出せません: " << options.extract << "（"
               << out.errorString() << "）\n";
        return exitFailed;
    }
    return exitOK;
}

}  // namespace

QString inspectHelp() {
    return QStringLiteral(
        "usage: pexilctl inspect KIND FILE [--container] [--vendor N] [--extract OUT]\n"
        "\n"
        "Decodes camera data saved in FILE (the data phase of a PTP transaction).\n"
        "  --container   FILE starts with a 12-byte PTP data container header (type 2)\n"
        "\n"
        "KIND:\n"
        "  deviceinfo    GetDeviceInfo data. Prints:\n"
        "                  vendor: 0xXXXXXXXX       effective-vendor: N (decimal)\n"
        "                  manufacturer: / model: / version: / serial:\n"
        "                  operations: / events: / properties: (space-separated 0xXXXX)\n"
        "                  nikon1: yes|no\n"
        "  propdesc      GetDevicePropDesc data. --vendor N picks the display conventions\n"
        "                (10 Nikon, 17 Sony; default 0). Prints code: 0xXXXX, label:, type:\n"
        "                (int8 ... uint64, string), writable: yes|no, current: N,\n"
        "                current-text: TEXT, then one line per choice: choice: N TEXT\n"
        "  events        Nikon CheckEvent data. Prints one line per event: 0xCODE 0xPARAM\n"
        "                (0x%04X 0x%08X)\n"
        "  nef           A NEF or TIFF file; reads its first 131072 bytes as the card\n"
        "                browser does. Prints orientation: N|none and\n"
        "                preview: offset=N length=N|none. --extract OUT writes the preview.\n"
        "\n"
        "Exit status: 0 done, 1 the data does not parse, 2 a file is missing or unreadable\n"
        "or the command line is wrong.\n");
}

int runInspect(const QStringList& args, CommandIO io) {
    if (printedHelp(args, io, inspectHelp())) return exitOK;
    const auto options = parseOptions(args, io);
    if (!options) return exitUnreadable;
    static const QStringList kinds{QStringLiteral("deviceinfo"), QStringLiteral("propdesc"),
                                   QStringLiteral("events"), QStringLiteral("nef")};
    if (!kinds.contains(options->kind)) {
        io.err << "pexilctl inspect: 知らない種類です: " << options->kind
               << "（deviceinfo, propdesc, events, nef）\n";
        return exitUnreadable;
    }
    if (options->kind == QLatin1String("nef")) return inspectNEF(*options, io);

    auto bytes = readFile(options->file, -1, io);
    if (!bytes) return exitUnreadable;
    if (options->container) {
        bytes = dataPhase(std::move(*bytes), io);
        if (!bytes) return exitFailed;
    }
    if (options->kind == QLatin1String("deviceinfo")) return inspectDeviceInfo(*bytes, io);
    if (options->kind == QLatin1String("propdesc"))
        return inspectPropDesc(*bytes, options->vendor, io);
    return inspectEvents(*bytes, io);
}

}  // namespace pexil::cli
