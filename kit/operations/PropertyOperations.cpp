// Reading and writing camera properties.
#include "kit/ptp/PTPCamera.h"

namespace pexil {

async::Task<std::optional<PropDesc>> PTPCamera::describe(PTP::Prop prop) {
    auto data = co_await send(PTP::Op::getDevicePropDesc, args(PTP::code(prop)));
    if (!data) co_return std::nullopt;
    co_return PropDesc::parse(data.value(), vendor(), PropDesc::Accept::named);
}

async::Task<Descriptors> PTPCamera::describeAll(std::vector<PTP::Prop> props) {
    Descriptors out;
    for (PTP::Prop prop : props) {
        auto desc = co_await describe(prop);
        if (desc) out.insert_or_assign(prop, std::move(*desc));
    }
    co_return out;
}

async::Task<CameraResult<Done>> PTPCamera::write(PropDesc desc, std::int64_t value) {
    Bytes data;
    switch (desc.dataType) {
        case PTP::DataType::int8:
        case PTP::DataType::uint8:
            PTP::appendLE(data, static_cast<std::uint8_t>(value));
            break;
        case PTP::DataType::int16:
        case PTP::DataType::uint16:
            PTP::appendLE(data, static_cast<std::uint16_t>(value));
            break;
        case PTP::DataType::int32:
        case PTP::DataType::uint32:
            PTP::appendLE(data, static_cast<std::uint32_t>(value));
            break;
        case PTP::DataType::int64:
        case PTP::DataType::uint64:
            PTP::appendLE(data, static_cast<std::uint64_t>(value));
            break;
        case PTP::DataType::string: {
            // A text property is set to one of the texts it offers, by its position.
            if (value < 0 || value >= desc.strings.size())
                co_return CameraError(PTPError::response(PTP::Response::parameterNotSupported));
            const Bytes text = PTP::encodeString(desc.strings[static_cast<qsizetype>(value)]);
            data.insert(data.end(), text.begin(), text.end());
            break;
        }
    }
    auto sent =
        co_await send(PTP::Op::setDevicePropValue, args(PTP::code(desc.code)), std::move(data));
    if (!sent) co_return sent.error();
    co_return Done{};
}

async::Task<std::optional<std::int64_t>> PTPCamera::integer(PTP::Prop prop, bool isSigned) {
    auto data = co_await send(PTP::Op::getDevicePropValue, args(PTP::code(prop)));
    if (!data) co_return std::nullopt;
    const Bytes& b = data.value();
    switch (b.size()) {
        case 4: {
            const auto bits = static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16)) |
                              (static_cast<std::uint32_t>(b[3]) << 24);
            co_return isSigned ? static_cast<std::int64_t>(static_cast<std::int32_t>(bits))
                               : std::int64_t{bits};
        }
        case 2: {
            const auto bits = static_cast<std::uint16_t>(b[0] | (b[1] << 8));
            co_return isSigned ? static_cast<std::int64_t>(static_cast<std::int16_t>(bits))
                               : std::int64_t{bits};
        }
        case 1:
            co_return isSigned ? static_cast<std::int64_t>(static_cast<std::int8_t>(b[0]))
                               : std::int64_t{b[0]};
        default:
            co_return std::nullopt;
    }
}

async::Task<std::optional<double>> PTPCamera::lightMeter() {
    const auto raw = co_await integer(PTP::Prop::nikonLightMeter, true);
    if (!raw) co_return std::nullopt;
    co_return static_cast<double>(*raw) / 6.0;
}

}  // namespace pexil
