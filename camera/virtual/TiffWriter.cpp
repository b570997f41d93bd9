#include "camera/virtual/TiffWriter.h"

#include <algorithm>

namespace pexil::camera {

TiffWriter::TiffWriter(bool bigEndian) : bigEndian_(bigEndian) {
    out_.push_back(bigEndian ? 'M' : 'I');
    out_.push_back(bigEndian ? 'M' : 'I');
    put16(out_, 42);
    put32(out_, 0);
}

void TiffWriter::put16(Bytes& out, std::uint16_t value) const {
    if (bigEndian_) {
        out.push_back(static_cast<std::uint8_t>(value >> 8));
        out.push_back(static_cast<std::uint8_t>(value));
    } else {
        out.push_back(static_cast<std::uint8_t>(value));
        out.push_back(static_cast<std::uint8_t>(value >> 8));
    }
}

void TiffWriter::put32(Bytes& out, std::uint32_t value) const {
    if (bigEndian_) {
        put16(out, static_cast<std::uint16_t>(value >> 16));
        put16(out, static_cast<std::uint16_t>(value));
    } else {
        put16(out, static_cast<std::uint16_t>(value));
        put16(out, static_cast<std::uint16_t>(value >> 16));
    }
}

void TiffWriter::align() {
    if (out_.size() % 2 != 0) out_.push_back(0);
}

TiffWriter::Field TiffWriter::text(std::uint16_t tag, const QString& value) const {
    Field f{tag, ascii, 0, {}};
    const QByteArray latin = value.toLatin1();
    f.payload.assign(latin.begin(), latin.end());
    f.payload.push_back(0);
    f.count = static_cast<std::uint32_t>(f.payload.size());
    return f;
}

TiffWriter::Field TiffWriter::shorts(std::uint16_t tag,
                                     const std::vector<std::uint16_t>& values) const {
    Field f{tag, shortType, static_cast<std::uint32_t>(values.size()), {}};
    for (const std::uint16_t v : values) put16(f.payload, v);
    return f;
}

TiffWriter::Field TiffWriter::longs(std::uint16_t tag,
                                    const std::vector<std::uint32_t>& values) const {
    Field f{tag, longType, static_cast<std::uint32_t>(values.size()), {}};
    for (const std::uint32_t v : values) put32(f.payload, v);
    return f;
}

TiffWriter::Field TiffWriter::fraction(std::uint16_t tag, std::uint32_t numerator,
                                       std::uint32_t denominator) const {
    Field f{tag, rational, 1, {}};
    put32(f.payload, numerator);
    put32(f.payload, denominator);
    return f;
}

TiffWriter::Field TiffWriter::bytes(std::uint16_t tag, const Bytes& value) const {
    return Field{tag, undefined, static_cast<std::uint32_t>(value.size()), value};
}

TiffWriter::Field TiffWriter::byteValues(std::uint16_t tag, const Bytes& value) const {
    return Field{tag, byteType, static_cast<std::uint32_t>(value.size()), value};
}

TiffWriter::Field TiffWriter::fractions(
    std::uint16_t tag, const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values) const {
    Field f{tag, rational, static_cast<std::uint32_t>(values.size()), {}};
    for (const auto& [numerator, denominator] : values) {
        put32(f.payload, numerator);
        put32(f.payload, denominator);
    }
    return f;
}

TiffWriter::Written TiffWriter::appendIfd(std::vector<Field> fields) {
    std::stable_sort(fields.begin(), fields.end(),
                     [](const Field& a, const Field& b) { return a.tag < b.tag; });
    align();
    Written written;
    written.start = out_.size();
    put16(out_, static_cast<std::uint16_t>(fields.size()));
    const std::size_t entriesStart = out_.size();
    const std::size_t tableEnd = entriesStart + 12 * fields.size() + 4;
    // Out-of-line values follow the table, each word-aligned.
    std::size_t extra = tableEnd;
    std::vector<std::size_t> valuePositions;
    for (const Field& f : fields) {
        if (f.payload.size() > 4) {
            valuePositions.push_back(extra);
            extra += f.payload.size() + (f.payload.size() % 2);
        } else {
            valuePositions.push_back(0);
        }
    }
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const Field& f = fields[i];
        put16(out_, f.tag);
        put16(out_, f.type);
        put32(out_, f.count);
        if (f.payload.size() > 4) {
            written.at[f.tag] = valuePositions[i];
            put32(out_, static_cast<std::uint32_t>(valuePositions[i]));
        } else {
            written.at[f.tag] = out_.size();
            Bytes inline4 = f.payload;
            inline4.resize(4, 0);
            out_.insert(out_.end(), inline4.begin(), inline4.end());
        }
    }
    written.nextPointer = out_.size();
    put32(out_, 0);
    for (const Field& f : fields) {
        if (f.payload.size() <= 4) continue;
        out_.insert(out_.end(), f.payload.begin(), f.payload.end());
        align();
    }
    return written;
}

std::size_t TiffWriter::appendBlob(ByteView blob) {
    align();
    const std::size_t start = out_.size();
    out_.insert(out_.end(), blob.begin(), blob.end());
    return start;
}

void TiffWriter::patch32(std::size_t at, std::uint32_t value) {
    Bytes encoded;
    put32(encoded, value);
    if (at + 4 > out_.size()) return;
    std::copy(encoded.begin(), encoded.end(), out_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace pexil::camera
