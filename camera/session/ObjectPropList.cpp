#include "camera/session/ObjectPropList.h"

#include "kit/ptp/PTP.h"
#include "kit/ptp/PTPReader.h"

#include <algorithm>
#include <map>

namespace pexil::camera::ObjectPropList {

namespace {

using PTP::DataType;
using PTP::ObjectProp;

// Bytes of one value of an integer datatype (INT8 … UINT128); none for anything else.
std::optional<std::int64_t> integerWidth(std::uint16_t type) {
    switch (type) {
        case 0x0001:
        case 0x0002:
            return 1;
        case 0x0003:
        case 0x0004:
            return 2;
        case 0x0005:
        case 0x0006:
            return 4;
        case 0x0007:
        case 0x0008:
            return 8;
        case 0x0009:
        case 0x000A:
            return 16;
        default:
            return std::nullopt;
    }
}

// Moves past a value of `type` that is not read; false when it cannot be (cut short, or a
// datatype whose length is unknown).
bool skip(PTPReader& reader, std::uint16_t type) {
    if (type == DataType::string) return reader.readString().has_value();
    if (const auto width = integerWidth(type)) {
        for (std::int64_t i = 0; i < *width; ++i)
            if (!reader.read<std::uint8_t>()) return false;
        return true;
    }
    if ((type & PTP::arrayTypeFlag) != 0) {
        const auto width = integerWidth(static_cast<std::uint16_t>(type & ~PTP::arrayTypeFlag));
        const auto count = reader.read<std::uint32_t>();
        if (!width || !count || reader.remaining() < *width * static_cast<std::int64_t>(*count))
            return false;
        for (std::int64_t i = 0; i < *width * static_cast<std::int64_t>(*count); ++i)
            reader.read<std::uint8_t>();
        return true;
    }
    return false;
}

// An unsigned integer of any width up to 64 bits; none for other datatypes or when cut short.
std::optional<std::uint64_t> readUnsigned(PTPReader& reader, std::uint16_t type) {
    switch (type) {
        case PTP::code(DataType::uint8):
            return reader.read<std::uint8_t>();
        case PTP::code(DataType::uint16):
            return reader.read<std::uint16_t>();
        case PTP::code(DataType::uint32):
            return reader.read<std::uint32_t>();
        case PTP::code(DataType::uint64):
            return reader.read<std::uint64_t>();
        default:
            return std::nullopt;
    }
}

void appendString(Bytes& out, const QString& text) {
    if (text.isEmpty()) {
        out.push_back(0);
        return;
    }
    const Bytes encoded = PTP::encodeString(text);
    out.insert(out.end(), encoded.begin(), encoded.end());
}

}  // namespace

std::optional<Bytes> encode(const Objects& objects, std::optional<std::uint16_t> only) {
    static constexpr ObjectProp all[] = {
        ObjectProp::storageId,   ObjectProp::objectFormat,    ObjectProp::protectionStatus,
        ObjectProp::objectSize,  ObjectProp::associationType, ObjectProp::objectFileName,
        ObjectProp::dateCreated, ObjectProp::dateModified,    ObjectProp::parentObject};
    if (only &&
        std::none_of(std::begin(all), std::end(all), [&](ObjectProp p) { return *only == p; }))
        return std::nullopt;
    Bytes out;
    std::uint32_t count = 0;
    PTP::appendLE(out, count);
    for (const auto& [handle, info] : objects) {
        for (const ObjectProp property : all) {
            if (only && PTP::code(property) != *only) continue;
            PTP::appendLE(out, handle);
            PTP::appendLE(out, PTP::code(property));
            const auto date = [](const std::optional<QDateTime>& d) {
                return d ? formatPTPDate(*d) : QString();
            };
            switch (property) {
                case ObjectProp::storageId:
                    PTP::appendLE(out, PTP::code(DataType::uint32));
                    PTP::appendLE(out, info.storageId);
                    break;
                case ObjectProp::objectFormat:
                    PTP::appendLE(out, PTP::code(DataType::uint16));
                    PTP::appendLE(out, info.format);
                    break;
                case ObjectProp::protectionStatus:
                    PTP::appendLE(out, PTP::code(DataType::uint16));
                    PTP::appendLE(out, info.protection);
                    break;
                case ObjectProp::objectSize:
                    PTP::appendLE(out, PTP::code(DataType::uint64));
                    PTP::appendLE(out, info.size);
                    break;
                case ObjectProp::associationType:
                    PTP::appendLE(out, PTP::code(DataType::uint16));
                    PTP::appendLE(out, info.associationType);
                    break;
                case ObjectProp::objectFileName:
                    PTP::appendLE(out, PTP::code(DataType::string));
                    appendString(out, info.filename);
                    break;
                case ObjectProp::dateCreated:
                    PTP::appendLE(out, PTP::code(DataType::string));
                    appendString(out, date(info.captureDate));
                    break;
                case ObjectProp::dateModified:
                    PTP::appendLE(out, PTP::code(DataType::string));
                    appendString(out, date(info.modificationDate));
                    break;
                case ObjectProp::parentObject:
                    PTP::appendLE(out, PTP::code(DataType::uint32));
                    PTP::appendLE(out, info.parent);
                    break;
                default:
                    break;
            }
            ++count;
        }
    }
    for (std::size_t i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(count >> (8 * i));
    return out;
}

std::optional<Objects> parse(ByteView bytes, std::size_t most) {
    PTPReader reader(bytes);
    const auto count = reader.read<std::uint32_t>();
    if (!count) return std::nullopt;
    Objects out;
    std::map<std::uint32_t, std::size_t> index;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const auto handle = reader.read<std::uint32_t>();
        const auto property = reader.read<std::uint16_t>();
        const auto type = reader.read<std::uint16_t>();
        if (!handle || !property || !type) return std::nullopt;
        auto [at, added] = index.try_emplace(*handle, out.size());
        if (added && out.size() == most) return std::nullopt;
        if (added) out.emplace_back(*handle, ObjectInfo{});
        ObjectInfo& info = out[at->second].second;

        const bool text = *type == DataType::string;
        const bool number =
            integerWidth(*type) && (*type % 2 == 0) && *type <= PTP::code(DataType::uint64);
        switch (static_cast<ObjectProp>(*property)) {
            case ObjectProp::objectFileName:
            case ObjectProp::dateCreated:
            case ObjectProp::dateModified: {
                if (!text) break;
                const auto value = reader.readString();
                if (!value) return std::nullopt;
                if (*property == ObjectProp::objectFileName)
                    info.filename = *value;
                else if (*property == ObjectProp::dateCreated)
                    info.captureDate = parsePTPDate(*value);
                else
                    info.modificationDate = parsePTPDate(*value);
                continue;
            }
            case ObjectProp::storageId:
            case ObjectProp::objectFormat:
            case ObjectProp::protectionStatus:
            case ObjectProp::objectSize:
            case ObjectProp::associationType:
            case ObjectProp::parentObject: {
                if (!number) break;
                const auto value = readUnsigned(reader, *type);
                if (!value) return std::nullopt;
                if (*property == ObjectProp::storageId)
                    info.storageId = static_cast<std::uint32_t>(*value);
                if (*property == ObjectProp::objectFormat)
                    info.format = static_cast<std::uint16_t>(*value);
                if (*property == ObjectProp::protectionStatus)
                    info.protection = static_cast<std::uint16_t>(*value);
                if (*property == ObjectProp::objectSize) info.size = *value;
                if (*property == ObjectProp::associationType)
                    info.associationType = static_cast<std::uint16_t>(*value);
                if (*property == ObjectProp::parentObject)
                    info.parent = static_cast<std::uint32_t>(*value);
                continue;
            }
            default:
                break;
        }
        // A property we do not use, or one in a datatype we do not expect: passed over.
        if (!skip(reader, *type)) return std::nullopt;
    }
    return out;
}

}  // namespace pexil::camera::ObjectPropList
