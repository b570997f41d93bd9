#pragma once

#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTP.h"

#include <QString>

#include <concepts>
#include <cstdint>
#include <optional>

namespace pexil {

// A little-endian cursor over a copy of a data phase. Reads that do not fit give none and
// leave the position where it was; nothing ever reads outside the buffer.
class PTPReader {
public:
    explicit PTPReader(ByteView bytes) : data_(bytes.begin(), bytes.end()) {}
    explicit PTPReader(Bytes bytes) : data_(std::move(bytes)) {}

    const Bytes& data() const { return data_; }
    std::int64_t offset() const { return offset_; }
    // May be negative after a string was skipped past the end.
    std::int64_t remaining() const { return static_cast<std::int64_t>(data_.size()) - offset_; }

    template <std::integral T>
    std::optional<T> read() {
        if (remaining() < static_cast<std::int64_t>(sizeof(T))) return std::nullopt;
        std::uint64_t bits = 0;
        for (std::size_t i = 0; i < sizeof(T); ++i)
            bits |= static_cast<std::uint64_t>(data_[static_cast<std::size_t>(offset_) + i])
                    << (8 * i);
        offset_ += static_cast<std::int64_t>(sizeof(T));
        return static_cast<T>(static_cast<std::make_unsigned_t<T>>(bits));
    }

    // One value of a PTP datatype widened to 64 bits (signed types sign-extended, 64-bit
    // types as their bit pattern). A string is skipped, not decoded: its count byte is read,
    // the position moves past 2·n bytes whether they exist or not, and the value is 0.
    std::optional<std::int64_t> readValue(PTP::DataType type);

    // A PTP string; none (position unchanged) when its bytes are not all there. Every unit
    // the count announces is consumed and those after a terminator are dropped, so a name
    // padded after its terminator does not shift the fields that follow.
    std::optional<QString> readString();

private:
    Bytes data_;
    std::int64_t offset_ = 0;
};

}  // namespace pexil
