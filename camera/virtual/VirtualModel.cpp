#include "camera/virtual/VirtualModel.h"

#include "camera/virtual/VirtualModelTables.h"

#include <QStringList>

#include <algorithm>
#include <cassert>

namespace pexil::camera {

namespace {

// The MTP properties that Nikon bodies announce in DeviceInfo although they lie in the
// vendor range.
constexpr std::array<std::uint16_t, 3> kMtpProperties{0xD303, 0xD406, 0xD407};

std::optional<PTP::DataType> typeFromName(QStringView name) {
    using PTP::DataType;
    static const std::array<std::pair<const char16_t*, DataType>, 9> names{{
        {u"i8", DataType::int8},
        {u"u8", DataType::uint8},
        {u"i16", DataType::int16},
        {u"u16", DataType::uint16},
        {u"i32", DataType::int32},
        {u"u32", DataType::uint32},
        {u"i64", DataType::int64},
        {u"u64", DataType::uint64},
        {u"str", DataType::string},
    }};
    for (const auto& [text, type] : names)
        if (name == QStringView(text)) return type;
    return std::nullopt;
}

}  // namespace

QStringList tableWords(QStringView line) {
    QStringList out;
    qsizetype i = 0;
    while (i < line.size()) {
        if (line[i].isSpace()) {
            ++i;
            continue;
        }
        if (line[i] == u'"') {
            const qsizetype end = line.indexOf(u'"', i + 1);
            const qsizetype stop = end < 0 ? line.size() : end;
            // The quotes stay on so that an empty string is still a word.
            out.append(line.mid(i, stop - i + 1).toString());
            i = stop + 1;
            continue;
        }
        qsizetype end = i;
        while (end < line.size() && !line[end].isSpace()) ++end;
        out.append(line.mid(i, end - i).toString());
        i = end;
    }
    return out;
}

namespace {

bool isQuoted(const QString& word) {
    return word.size() >= 2 && word.startsWith(u'"') && word.endsWith(u'"');
}

QString unquoted(const QString& word) {
    return word.mid(1, word.size() - 2);
}

std::optional<std::int64_t> number(const QString& word) {
    bool ok = false;
    const qlonglong value = word.toLongLong(&ok);
    if (!ok) return std::nullopt;
    return value;
}

std::optional<PropertySpec> parseLine(const QStringList& w) {
    // CODE TYPE ACCESS FORM … = CURRENT
    if (w.size() < 6 || w[w.size() - 2] != QStringLiteral("=")) return std::nullopt;
    PropertySpec spec;
    bool ok = false;
    spec.code = static_cast<std::uint16_t>(w[0].toUInt(&ok, 16));
    if (!ok) return std::nullopt;
    const auto type = typeFromName(w[1]);
    if (!type) return std::nullopt;
    spec.type = *type;
    if (w[2] != QStringLiteral("rw") && w[2] != QStringLiteral("ro")) return std::nullopt;
    spec.writable = w[2] == QStringLiteral("rw");
    const QString& form = w[3];
    const QStringList data = w.mid(4, w.size() - 6);
    if (form == QStringLiteral("none")) {
        spec.form = PropertySpec::Form::none;
        if (!data.isEmpty()) return std::nullopt;
    } else if (form == QStringLiteral("range")) {
        spec.form = PropertySpec::Form::range;
        if (data.size() != 3) return std::nullopt;
        const auto lo = number(data[0]);
        const auto hi = number(data[1]);
        const auto step = number(data[2]);
        if (!lo || !hi || !step) return std::nullopt;
        spec.minimum = *lo;
        spec.maximum = *hi;
        spec.step = *step;
    } else if (form == QStringLiteral("enum")) {
        spec.form = PropertySpec::Form::enumeration;
        for (const QString& item : data) {
            if (spec.isString()) {
                if (!isQuoted(item)) return std::nullopt;
                spec.textChoices.push_back(unquoted(item));
            } else {
                const auto value = number(item);
                if (!value) return std::nullopt;
                spec.choices.push_back(*value);
            }
        }
    } else {
        return std::nullopt;
    }
    const QString& current = w.back();
    if (spec.isString()) {
        if (!isQuoted(current)) return std::nullopt;
        spec.text = unquoted(current);
    } else {
        const auto value = number(current);
        if (!value) return std::nullopt;
        spec.current = *value;
    }
    return spec;
}

std::vector<std::uint16_t> standardOperations() {
    return {0x1001, 0x1002, 0x1003, 0x1004, 0x1005, 0x1006, 0x1007, 0x1008, 0x1009, 0x100A,
            0x100B, 0x100C, 0x100D, 0x100E, 0x100F, 0x1014, 0x1015, 0x1016, 0x101B};
}

std::vector<std::uint16_t> concat(std::vector<std::uint16_t> a,
                                  std::initializer_list<std::uint16_t> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

VirtualModel makeD850() {
    VirtualModel m;
    m.body = VirtualBody::d850;
    m.name = QStringLiteral("d850");
    m.vendorExtensionId = 6;
    m.vendorExtensionVersion = 100;
    m.vendorExtensionDesc = QStringLiteral("Microsoft.com/DeviceServices: 1.0");
    m.manufacturer = QStringLiteral("Nikon Corporation");
    m.model = QStringLiteral("D850");
    m.version = QStringLiteral("V1.02");
    // The D850 reading has no operation list; its predecessor the D810 answers with this one.
    m.operations =
        concat(standardOperations(),
               {0x90C0, 0x90C1, 0x90C2, 0x90C3, 0x90C4, 0x90C7, 0x90C8, 0x90C9, 0x90CA, 0x90CB,
                0x90CC, 0x90CD, 0x90CE, 0x90CF, 0x9201, 0x9202, 0x9203, 0x9204, 0x9205, 0x9206,
                0x9207, 0x9209, 0x920A, 0x920B, 0x920C, 0x9400, 0x9402, 0x9403, 0x9404, 0x9405,
                0x9406, 0x940B, 0x940C, 0x940E, 0x9801, 0x9802, 0x9803, 0x9805});
    m.events = {0x4001, 0x4002, 0x4003, 0x4004, 0x4005, 0x4006, 0x4007, 0x4008,
                0x4009, 0x400A, 0x400C, 0x400D, 0xC101, 0xC102, 0xC105};
    m.captureFormats = {0x3801, 0x380D, 0x3000};
    m.imageFormats = {0x3801, 0x3000, 0x3001, 0x380D, 0x3006, 0x3002, 0x300D, 0xB982};
    m.properties = parsePropertyTable(d850PropertyTable());
    m.storageId = 0x00020001;
    m.volumeLabel = QStringLiteral(" [Slot 2]");
    m.capacity = 63831015424ULL;
    m.folderSuffix = QStringLiteral("NCD850");
    m.filePrefix = QStringLiteral("DSC_");
    m.rawExtension = QStringLiteral("NEF");
    m.exifMake = QStringLiteral("NIKON CORPORATION");
    m.exifModel = QStringLiteral("NIKON D850");
    m.software = QStringLiteral("Ver.1.02");
    m.sensorWidth = 8256;
    m.sensorHeight = 5504;
    m.liveViewHeaderSize = 384;
    m.liveViewFps = 30;
    m.bufferShots = 100;
    return m;
}

VirtualModel makeZ6() {
    VirtualModel m;
    m.body = VirtualBody::z6;
    m.name = QStringLiteral("z6");
    m.vendorExtensionId = 0xFFFFFFFF;
    m.vendorExtensionVersion = 110;
    m.vendorExtensionDesc = QStringLiteral("Microsoft.com/DeviceServices: 1.0");
    m.manufacturer = QStringLiteral("Nikon Corporation");
    m.model = QStringLiteral("Z 6");
    m.version = QStringLiteral("V1.00");
    m.operations = concat(
        standardOperations(),
        {0x90C0, 0x90C1, 0x90C2, 0x90C3, 0x90C4, 0x90C7, 0x90C8, 0x90C9, 0x90CA, 0x90CB, 0x90CC,
         0x90CD, 0x90CE, 0x90CF, 0x9201, 0x9202, 0x9203, 0x9204, 0x9205, 0x9206, 0x9207, 0x9209,
         0x920A, 0x920B, 0x920C, 0x920F, 0x9400, 0x9402, 0x9403, 0x9404, 0x9405, 0x9406, 0x940C,
         0x9414, 0x9415, 0x9416, 0x9417, 0x9418, 0x9419, 0x941A, 0x941B, 0x941C, 0x9420, 0x9421,
         0x9423, 0x9424, 0x9425, 0x9426, 0x9428, 0x9431, 0x9432, 0x9520, 0x9521, 0x9522, 0x9523});
    m.events = {0x4001, 0x4002, 0x4003, 0x4004, 0x4005, 0x4006, 0x4007, 0x4008, 0x4009,
                0x400A, 0x400C, 0x400D, 0xC101, 0xC102, 0xC105, 0xC108, 0xC10A, 0xC10B,
                0xC10C, 0xC10E, 0xC120, 0xC121, 0xC122, 0xC123, 0xC700};
    m.captureFormats = {0x3801, 0x380D, 0x3000};
    m.imageFormats = {0x3801, 0x3000, 0x3001, 0x380D, 0x3002, 0x300D, 0xB982};
    m.properties = parsePropertyTable(z6PropertyTable());
    m.storageId = 0x00010001;
    m.volumeLabel = QStringLiteral(" [Slot 1]");
    m.capacity = 60196651008ULL;
    m.folderSuffix = QStringLiteral("NCZ_6");
    m.filePrefix = QStringLiteral("DSC_");
    m.rawExtension = QStringLiteral("NEF");
    m.exifMake = QStringLiteral("NIKON CORPORATION");
    m.exifModel = QStringLiteral("NIKON Z 6");
    m.software = QStringLiteral("Ver.01.00");
    m.sensorWidth = 6048;
    m.sensorHeight = 4024;
    m.liveViewHeaderSize = 384;
    m.liveViewFps = 30;
    m.bufferShots = 100;
    return m;
}

VirtualModel makeJ5() {
    VirtualModel m;
    m.body = VirtualBody::j5;
    m.name = QStringLiteral("j5");
    m.vendorExtensionId = 6;
    m.vendorExtensionVersion = 100;
    m.vendorExtensionDesc = QStringLiteral("Microsoft.com/DeviceServices:1.0");
    m.manufacturer = QStringLiteral("Nikon Corporation");
    m.model = QStringLiteral("J5");
    m.version = QStringLiteral("Ver.1.00");
    // The J5 reading has no operation list; the V3 of the same generation answers with this.
    m.operations = concat(standardOperations(),
                          {0x90C1, 0x90C2, 0x90C3, 0x90C4, 0x90C7, 0x90C8, 0x90C9, 0x9201, 0x9202,
                           0x9203, 0x9204, 0x9205, 0x9206, 0x9207, 0x920A, 0x920B, 0x920C, 0x9400,
                           0x941E, 0x941F, 0x9801, 0x9802, 0x9803, 0x9805, 0x90CA});
    m.events = {0x4001, 0x4002, 0x4003, 0x4004, 0x4005, 0x4006, 0x4008, 0x4009,
                0x400A, 0x400C, 0x400D, 0xC101, 0xC102, 0xC105, 0xC112};
    m.captureFormats = {0x3000, 0x3801};
    m.imageFormats = {0x3000, 0x3001, 0x300D, 0x3801};
    m.vendorPropertiesInDeviceInfo = true;
    m.properties = parsePropertyTable(j5PropertyTable());
    m.exposureRules = false;
    m.storageId = 0x00010001;
    m.volumeLabel = QStringLiteral("NIKON 1 J5 [Slot 1]");
    m.capacity = 15923150848ULL;
    m.accessCapability = 0;
    m.folderSuffix = QStringLiteral("NCJ_5");
    m.filePrefix = QStringLiteral("DSC_");
    m.rawExtension = QStringLiteral("NEF");
    m.exifMake = QStringLiteral("NIKON CORPORATION");
    m.exifModel = QStringLiteral("NIKON 1 J5");
    m.software = QStringLiteral("Ver.1.00");
    m.sensorWidth = 5568;
    m.sensorHeight = 3712;
    m.rawBitDepth = 12;
    m.liveViewHeaderSize = 384;
    m.liveViewFps = 15;
    // The operations the program never sends to a Nikon 1 because the link dies.
    m.linkBreakingOperations = {0x90C0, 0x90C2, 0x90C7, 0x90CA};
    m.bufferShots = 20;
    return m;
}

VirtualModel makeGeneric() {
    VirtualModel m;
    m.body = VirtualBody::generic;
    m.name = QStringLiteral("generic");
    m.vendorExtensionId = 0x0B;
    m.vendorExtensionVersion = 100;
    m.vendorExtensionDesc = QString();
    m.manufacturer = QStringLiteral("Canon Inc.");
    m.model = QStringLiteral("Canon EOS 5D Mark IV");
    m.version = QStringLiteral("3-1.0.4");
    m.operations = standardOperations();
    m.events = {0x4002, 0x4003, 0x4004, 0x4005, 0x4006, 0x4008, 0x400A, 0x400C, 0x400D};
    m.captureFormats = {0x3801, 0x3000};
    m.imageFormats = {0x3801, 0x3000, 0x3001};
    m.properties = parsePropertyTable(genericPropertyTable());
    m.storageId = 0x00010001;
    m.volumeLabel = QString();
    m.capacity = 31914983424ULL;
    m.folderSuffix = QStringLiteral("CANON");
    m.filePrefix = QStringLiteral("IMG_");
    m.rawExtension = QStringLiteral("CR2");
    m.exifMake = QStringLiteral("Canon");
    m.exifModel = QStringLiteral("Canon EOS 5D Mark IV");
    m.software = QStringLiteral("Firmware Version 1.0.4");
    m.sensorWidth = 6720;
    m.sensorHeight = 4480;
    m.liveViewHeaderSize = 0;
    m.bufferShots = 21;
    return m;
}

void appendString(Bytes& out, const QString& text) {
    if (text.isEmpty()) {
        out.push_back(0);  // cameras send an empty string as a bare zero count
        return;
    }
    const Bytes encoded = PTP::encodeString(text);
    out.insert(out.end(), encoded.begin(), encoded.end());
}

void appendArray(Bytes& out, const std::vector<std::uint16_t>& values) {
    PTP::appendLE(out, static_cast<std::uint32_t>(values.size()));
    for (const std::uint16_t v : values) PTP::appendLE(out, v);
}

}  // namespace

std::optional<VirtualBody> virtualBodyFromName(QStringView name) {
    for (const VirtualBody body :
         {VirtualBody::d850, VirtualBody::z6, VirtualBody::j5, VirtualBody::generic})
        if (name == virtualBodyName(body)) return body;
    return std::nullopt;
}

QString virtualBodyName(VirtualBody body) {
    switch (body) {
        case VirtualBody::d850:
            return QStringLiteral("d850");
        case VirtualBody::z6:
            return QStringLiteral("z6");
        case VirtualBody::j5:
            return QStringLiteral("j5");
        case VirtualBody::generic:
            return QStringLiteral("generic");
    }
    return {};
}

std::vector<PropertySpec> parsePropertyTable(QStringView table) {
    // Continuation lines (indented) join the line before them.
    QStringList logical;
    for (const QStringView line : table.split(u'\n')) {
        if (line.trimmed().isEmpty()) continue;
        if (line.front().isSpace() && !logical.isEmpty())
            logical.back() += u' ' + line.trimmed().toString();
        else
            logical.append(line.trimmed().toString());
    }
    std::vector<PropertySpec> specs;
    for (const QString& line : logical) {
        const auto spec = parseLine(tableWords(line));
        assert(spec && "malformed property table line");
        if (spec) specs.push_back(*spec);
    }
    return specs;
}

bool VirtualModel::hasOperation(std::uint16_t code) const {
    return std::find(operations.begin(), operations.end(), code) != operations.end();
}

const PropertySpec* VirtualModel::property(std::uint16_t code) const {
    const auto it = std::find_if(properties.begin(), properties.end(),
                                 [code](const PropertySpec& p) { return p.code == code; });
    return it == properties.end() ? nullptr : &*it;
}

std::vector<std::uint16_t> VirtualModel::deviceInfoProperties() const {
    std::vector<std::uint16_t> out;
    for (const PropertySpec& p : properties) {
        const bool mtp =
            std::find(kMtpProperties.begin(), kMtpProperties.end(), p.code) != kMtpProperties.end();
        if (vendorPropertiesInDeviceInfo || p.code < 0xD000 || mtp) out.push_back(p.code);
    }
    return out;
}

std::vector<std::uint16_t> VirtualModel::vendorPropertyCodes() const {
    if (vendorPropertiesInDeviceInfo) return {};
    std::vector<std::uint16_t> out;
    for (const PropertySpec& p : properties) {
        const bool mtp =
            std::find(kMtpProperties.begin(), kMtpProperties.end(), p.code) != kMtpProperties.end();
        if (p.code >= 0xD000 && !mtp) out.push_back(p.code);
    }
    return out;
}

const VirtualModel& virtualModel(VirtualBody body) {
    // Function-local statics: built once, thread-safe, never changed afterwards.
    switch (body) {
        case VirtualBody::d850: {
            static const VirtualModel model = makeD850();
            return model;
        }
        case VirtualBody::z6: {
            static const VirtualModel model = makeZ6();
            return model;
        }
        case VirtualBody::j5: {
            static const VirtualModel model = makeJ5();
            return model;
        }
        case VirtualBody::generic: {
            static const VirtualModel model = makeGeneric();
            return model;
        }
    }
    static const VirtualModel fallback = makeD850();
    return fallback;
}

Bytes deviceInfoDataset(const VirtualModel& model, const QString& serialNumber) {
    Bytes out;
    PTP::appendLE(out, std::uint16_t{100});  // StandardVersion
    PTP::appendLE(out, model.vendorExtensionId);
    PTP::appendLE(out, model.vendorExtensionVersion);
    appendString(out, model.vendorExtensionDesc);
    PTP::appendLE(out, std::uint16_t{0});  // FunctionalMode
    appendArray(out, model.operations);
    appendArray(out, model.events);
    appendArray(out, model.deviceInfoProperties());
    appendArray(out, model.captureFormats);
    appendArray(out, model.imageFormats);
    appendString(out, model.manufacturer);
    appendString(out, model.model);
    appendString(out, model.version);
    appendString(out, serialNumber);
    return out;
}

}  // namespace pexil::camera
