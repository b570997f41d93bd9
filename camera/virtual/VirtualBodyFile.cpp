#include "camera/virtual/VirtualBodyFile.h"

#include "kit/ptp/PTPCodes.h"

#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <array>

namespace pexil::camera {

namespace {

std::optional<std::uint64_t> hexNumber(const QString& word) {
    bool ok = false;
    const qulonglong value = word.toULongLong(&ok, 16);
    if (!ok) return std::nullopt;
    return value;
}

std::optional<std::vector<std::uint16_t>> codes(const QStringList& words) {
    std::vector<std::uint16_t> out;
    for (qsizetype i = 1; i < words.size(); ++i) {
        const auto code = hexNumber(words[i]);
        if (!code || *code > 0xFFFF) return std::nullopt;
        out.push_back(static_cast<std::uint16_t>(*code));
    }
    return out;
}

std::optional<QString> quoted(const QString& word) {
    if (word.size() < 2 || !word.startsWith(u'"') || !word.endsWith(u'"')) return std::nullopt;
    return word.mid(1, word.size() - 2);
}

bool has(const std::vector<PropertySpec>& specs, std::uint16_t code) {
    return std::any_of(specs.begin(), specs.end(), [code](const PropertySpec& p) { return p.code == code; });
}

// The properties the session reads for itself; a reading without them gets its line's.
constexpr std::array<std::uint16_t, 12> kSessionProperties{0x5001, 0x5003, 0x5004, 0x5005, 0x5007, 0x5008,
                                                           0x500A, 0x500D, 0x500E, 0x500F, 0x5010, 0x5011};
constexpr std::array<std::uint16_t, 3> kNikonSessionProperties{0xD103, 0xD10B, 0xD1B1};
constexpr std::array<std::uint16_t, 2> kLiveViewProperties{0xD1A2, 0xD1A4};

// The base a body of `line` starts from; a body of no known line is a plain PTP camera.
VirtualModel lineModel(std::optional<VirtualBody> line) {
    VirtualModel m = virtualModel(line.value_or(VirtualBody::generic));
    if (line) return m;
    m.properties.clear();
    m.exposureRules = false;
    m.liveViewHeaderSize = 0;
    m.filePrefix = QStringLiteral("DSCN");
    m.folderSuffix = QStringLiteral("NIKON");
    m.rawExtension = QStringLiteral("NRW");
    m.exifMake = QStringLiteral("NIKON");
    return m;
}

// Nikon's folders are NNN + five characters: "100NCZ_6".
QString folderSuffix(const QString& model) {
    return (QStringLiteral("NC") + QString(model).replace(u' ', u'_')).left(5);
}

}  // namespace

std::optional<VirtualBodyFile> parseVirtualBodyFile(QStringView text) {
    VirtualBodyFile file;
    const qsizetype start = text.indexOf(QStringLiteral("\nproperties\n"));
    if (start < 0) return std::nullopt;
    for (const QStringView line : text.left(start).split(u'\n')) {
        if (line.trimmed().isEmpty() || line.startsWith(u'#')) continue;
        const QStringList w = tableWords(line);
        const QString& key = w.front();
        if (key == QStringLiteral("line") && w.size() == 2) {
            file.line = virtualBodyFromName(w[1]);
            if (!file.line && w[1] != QStringLiteral("none")) return std::nullopt;
        } else if ((key == QStringLiteral("manufacturer") || key == QStringLiteral("model") ||
                    key == QStringLiteral("version")) &&
                   w.size() == 2) {
            const auto value = quoted(w[1]);
            if (!value) return std::nullopt;
            (key == QStringLiteral("manufacturer") ? file.manufacturer
             : key == QStringLiteral("model")      ? file.model
                                                   : file.version) = *value;
        } else if (key == QStringLiteral("vendor-extension") && w.size() == 4) {
            const auto id = hexNumber(w[1]);
            bool ok = false;
            const uint version = w[2].toUInt(&ok);
            const auto desc = quoted(w[3]);
            if (!id || *id > 0xFFFFFFFF || !ok || version > 0xFFFF || !desc) return std::nullopt;
            file.vendorExtensionId = static_cast<std::uint32_t>(*id);
            file.vendorExtensionVersion = static_cast<std::uint16_t>(version);
            file.vendorExtensionDesc = *desc;
        } else if (key == QStringLiteral("storage") && w.size() == 5) {
            const auto id = hexNumber(w[1]);
            bool capacityOk = false, accessOk = false;
            const qulonglong capacity = w[2].toULongLong(&capacityOk);
            const uint access = w[3].toUInt(&accessOk);
            const auto label = quoted(w[4]);
            if (!id || *id > 0xFFFFFFFF || !capacityOk || !accessOk || access > 0xFFFF || !label)
                return std::nullopt;
            file.storage = VirtualBodyFile::Storage{static_cast<std::uint32_t>(*id), capacity,
                                                    static_cast<std::uint16_t>(access), *label};
        } else {
            std::vector<std::uint16_t>* list = key == QStringLiteral("operations")          ? &file.operations
                                               : key == QStringLiteral("events")            ? &file.events
                                               : key == QStringLiteral("listed-properties") ? &file.listedProperties
                                               : key == QStringLiteral("capture-formats")   ? &file.captureFormats
                                               : key == QStringLiteral("image-formats")     ? &file.imageFormats
                                                                                            : nullptr;
            const auto values = list ? codes(w) : std::nullopt;
            if (!values) return std::nullopt;
            *list = *values;
        }
    }
    if (file.model.isEmpty()) return std::nullopt;
    file.properties = parsePropertyTable(text.mid(start + 12));
    return file;
}

VirtualModel virtualModelFromFile(const VirtualBodyFile& file, const QString& name) {
    VirtualModel m = lineModel(file.line);
    const std::vector<PropertySpec> lineProperties = m.properties;
    m.name = name;
    m.manufacturer = file.manufacturer;
    m.model = file.model;
    m.version = file.version;
    m.vendorExtensionId = file.vendorExtensionId;
    m.vendorExtensionVersion = file.vendorExtensionVersion;
    m.vendorExtensionDesc = file.vendorExtensionDesc;
    if (!file.operations.empty()) m.operations = file.operations;
    if (!file.events.empty()) m.events = file.events;
    if (!file.captureFormats.empty()) m.captureFormats = file.captureFormats;
    if (!file.imageFormats.empty()) m.imageFormats = file.imageFormats;
    std::erase_if(m.linkBreakingOperations, [&m](std::uint16_t op) { return !m.hasOperation(op); });
    const bool liveView = file.line && m.hasOperation(PTP::code(PTP::Op::nikonStartLiveView));
    if (!liveView) m.liveViewHeaderSize = 0;

    // The reading first; from the line, what the reading lists without describing and what
    // the session needs. The camera works out its date from its clock.
    m.properties = file.properties;
    auto borrow = [&](std::uint16_t code) {
        if (has(m.properties, code)) return;
        const auto it = std::find_if(lineProperties.begin(), lineProperties.end(),
                                     [code](const PropertySpec& p) { return p.code == code; });
        if (it != lineProperties.end()) m.properties.push_back(*it);
    };
    for (const std::uint16_t code : file.listedProperties) borrow(code);
    for (const std::uint16_t code : kSessionProperties) borrow(code);
    // A reading without the standard shutter has no vendor one either.
    if (!has(file.properties, PTP::code(PTP::Prop::exposureTime))) borrow(PTP::code(PTP::Prop::nikonExposureTime));
    if (file.line) {
        for (const std::uint16_t code : kNikonSessionProperties) borrow(code);
        if (liveView)
            for (const std::uint16_t code : kLiveViewProperties) borrow(code);
    }
    for (PropertySpec& p : m.properties)
        if (p.code == PTP::code(PTP::Prop::dateTime)) p.text.clear();
    m.exposureRules = m.exposureRules && has(m.properties, PTP::code(PTP::Prop::exposureProgram));

    if (file.storage) {
        m.storageId = file.storage->id;
        m.capacity = file.storage->capacity;
        m.accessCapability = file.storage->access;
        m.volumeLabel = file.storage->label;
    }
    if (file.line) m.folderSuffix = folderSuffix(file.model);
    const bool nikon1 = file.line == VirtualBody::j5;
    m.exifModel = (nikon1 ? QStringLiteral("NIKON 1 ") : QStringLiteral("NIKON ")) + file.model;
    m.software = QStringLiteral("Ver.") + QString(file.version).remove(QRegularExpression(QStringLiteral("^[A-Za-z.]+")));
    // The largest image size is the sensor's.
    if (const PropertySpec* size = m.property(PTP::code(PTP::Prop::imageSize)); size && !size->textChoices.empty()) {
        static const QRegularExpression dimensions(QStringLiteral("^(\\d+)x(\\d+)$"));
        const auto match = dimensions.match(size->textChoices.front());
        if (match.hasMatch()) {
            m.sensorWidth = match.captured(1).toInt();
            m.sensorHeight = match.captured(2).toInt();
        }
    }
    return m;
}

}  // namespace pexil::camera
