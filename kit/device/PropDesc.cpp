#include "kit/device/PropDesc.h"

#include "kit/device/PropFormat.h"
#include "kit/ptp/PTPReader.h"

#include <algorithm>

namespace pexil {

namespace {

enum FormFlag : std::uint8_t { formNone = 0, formRange = 1, formEnumeration = 2 };

// More steps than this is a slider, not a list: no camera menu offers them one by one.
constexpr std::uint64_t maximumRangeSteps = 512;

// The values of a range form. Arithmetic is done on the unsigned bit patterns: the span of
// two 64-bit values always fits there, and every value produced lies between minimum and
// maximum, so nothing overflows whatever the camera sends. A uint64 range is ordered as
// unsigned; readValue hands it over as a bit pattern that would compare negative above 2^63.
std::vector<std::int64_t> rangeChoices(PTP::DataType type, std::int64_t minimum,
                                       std::int64_t maximum, std::int64_t step) {
    const auto low = static_cast<std::uint64_t>(minimum);
    const auto high = static_cast<std::uint64_t>(maximum);
    const auto stride = static_cast<std::uint64_t>(step);
    const bool isUnsigned = type == PTP::DataType::uint64;
    if (isUnsigned ? stride == 0 : step <= 0) return {};
    if (isUnsigned ? high < low : maximum < minimum) return {};
    const std::uint64_t steps = (high - low) / stride;
    if (steps >= maximumRangeSteps) return {};
    std::vector<std::int64_t> choices;
    choices.reserve(static_cast<std::size_t>(steps) + 1);
    for (std::uint64_t k = 0; k <= steps; ++k)
        choices.push_back(static_cast<std::int64_t>(low + k * stride));
    return choices;
}

std::vector<std::int64_t> enumerationChoices(PTPReader& reader, PTP::DataType type) {
    const auto count = reader.read<std::uint16_t>();
    if (!count) return {};
    // The count is the camera's word only; reserve no more than the bytes could hold.
    const auto width = std::max<std::int64_t>(PTP::byteCount(type), 1);
    const auto fits = std::max<std::int64_t>(reader.remaining(), 0) / width;
    std::vector<std::int64_t> choices;
    choices.reserve(static_cast<std::size_t>(std::min<std::int64_t>(*count, fits)));
    for (int i = 0; i < *count; ++i) {
        const auto value = reader.readValue(type);
        if (!value) break;
        choices.push_back(*value);
    }
    return choices;
}

// The texts of a string property's enumeration, read from just after its current value; a
// range of texts means nothing and gives none.
QStringList stringChoices(PTPReader& reader, std::uint8_t form) {
    if (!reader.read<std::uint8_t>() || form != formEnumeration) return {};
    const auto count = reader.read<std::uint16_t>();
    if (!count) return {};
    QStringList texts;
    for (int i = 0; i < *count; ++i) {
        const auto text = reader.readString();
        if (!text) break;
        texts.append(*text);
    }
    return texts;
}

}  // namespace

std::optional<PropDesc> PropDesc::parse(ByteView bytes, std::uint32_t vendor, Accept accept) {
    PTPReader reader(bytes);
    const auto rawCode = reader.read<std::uint16_t>();
    if (!rawCode) return std::nullopt;
    const auto code =
        accept == Accept::named ? PTP::toProp(*rawCode) : PTP::toMirroredProp(*rawCode);
    if (!code) return std::nullopt;
    const auto rawType = reader.read<std::uint16_t>();
    if (!rawType) return std::nullopt;
    const auto type = PTP::toDataType(*rawType);
    if (!type) return std::nullopt;
    const auto getSet = reader.read<std::uint8_t>();
    if (!getSet) return std::nullopt;
    if (!reader.readValue(*type)) return std::nullopt;  // factory default, not shown
    const auto current = reader.readValue(*type);
    if (!current) return std::nullopt;
    const auto form = reader.read<std::uint8_t>();
    if (!form) return std::nullopt;

    PropDesc desc;
    desc.vendor = vendor;
    desc.code = *code;
    desc.dataType = *type;
    desc.writable = *getSet == 1;
    desc.current = *current;
    if (*type == PTP::DataType::string) {
        // Read again as texts from the same place: readValue only stepped over them.
        PTPReader texts(bytes);
        texts.read<std::uint16_t>();
        texts.read<std::uint16_t>();
        texts.read<std::uint8_t>();
        if (!texts.readString()) return std::nullopt;
        const auto currentString = texts.readString();
        if (!currentString) return std::nullopt;
        desc.currentString = *currentString;
        desc.strings = stringChoices(texts, *form);
        desc.current = desc.strings.indexOf(desc.currentString);
        for (qsizetype i = 0; i < desc.strings.size(); ++i) desc.choices.push_back(i);
        return desc;
    }
    switch (*form) {
        case formRange: {
            const auto minimum = reader.readValue(*type);
            const auto maximum = reader.readValue(*type);
            const auto step = reader.readValue(*type);
            if (minimum && maximum && step)
                desc.choices = rangeChoices(*type, *minimum, *maximum, *step);
            break;
        }
        case formEnumeration:
            desc.choices = enumerationChoices(reader, *type);
            break;
        default:
            break;
    }
    return desc;
}

QString PropDesc::currentText() const {
    if (isString()) return currentString;
    return PropFormat::text(code, current, vendor);
}

QStringList PropDesc::choiceTexts() const {
    if (isString()) return strings;
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(choices.size()));
    for (const std::int64_t value : choices) texts.append(PropFormat::text(code, value, vendor));
    return texts;
}

}  // namespace pexil
