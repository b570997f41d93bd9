#pragma once

#include "kit/ptp/Bytes.h"

#include <QString>

#include <cstdint>
#include <map>
#include <vector>

namespace pexil::camera {

// Writes TIFF structures (the EXIF block of a JPEG, the head of a raw file) in either byte
// order. IFDs are appended one after the other; fields that point somewhere (another IFD,
// an embedded JPEG, a strip) are written as placeholders and patched once the target's
// position is known. Positions are relative to the start of the TIFF header, as TIFF
// offsets are.
class TiffWriter {
public:
    enum Type : std::uint16_t {
        byteType = 1,
        ascii = 2,
        shortType = 3,
        longType = 4,
        rational = 5,
        undefined = 7
    };

    struct Field {
        std::uint16_t tag = 0;
        std::uint16_t type = longType;
        std::uint32_t count = 0;
        Bytes payload;  // in the writer's byte order
    };

    // Where an appended IFD lies.
    struct Written {
        std::size_t start = 0;
        std::size_t nextPointer = 0;              // the IFD's link to the next IFD
        std::map<std::uint16_t, std::size_t> at;  // each tag's values, inline or out of line
    };

    // Writes the 8-byte header with a first-IFD offset of 0 (patch it with patchFirstIfd).
    explicit TiffWriter(bool bigEndian);

    Field text(std::uint16_t tag, const QString& value) const;  // ASCII, NUL-terminated
    Field shorts(std::uint16_t tag, const std::vector<std::uint16_t>& values) const;
    Field longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) const;
    Field fraction(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator) const;
    Field bytes(std::uint16_t tag, const Bytes& value) const;  // UNDEFINED
    Field byteValues(std::uint16_t tag, const Bytes& value) const;  // BYTE
    // RATIONALs, each a numerator and a denominator.
    Field fractions(std::uint16_t tag,
                    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values) const;
    Field shortValue(std::uint16_t tag, std::uint16_t value) const { return shorts(tag, {value}); }
    Field longValue(std::uint16_t tag, std::uint32_t value) const { return longs(tag, {value}); }

    // Appends an IFD (fields sorted by tag, next-IFD link 0) and its out-of-line values,
    // word-aligned.
    Written appendIfd(std::vector<Field> fields);
    // Appends raw bytes, word-aligned; returns where they start.
    std::size_t appendBlob(ByteView blob);

    void patch32(std::size_t at, std::uint32_t value);
    void patchFirstIfd(std::uint32_t offset) { patch32(4, offset); }

    std::size_t size() const { return out_.size(); }
    const Bytes& data() const { return out_; }
    Bytes take() { return std::move(out_); }

private:
    void put16(Bytes& out, std::uint16_t value) const;
    void put32(Bytes& out, std::uint32_t value) const;
    void align();

    bool bigEndian_;
    Bytes out_;
};

}  // namespace pexil::camera
