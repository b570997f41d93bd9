#include "kit/nef/NEF.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace pexil::NEF {

namespace {

// Shorter than this cannot hold a header and the first byte of an IFD.
constexpr std::size_t kMinimumSize = 9;
constexpr std::uint16_t kMagic = 42;
constexpr std::int64_t kEntrySize = 12;
// A real NEF has a few dozen entries per IFD; a larger count means we are reading noise.
constexpr std::int64_t kMaxEntries = 511;
// Enough for every SubIFD list and single-valued tag we care about; bounds the work per entry.
constexpr std::int64_t kMaxValues = 64;
constexpr std::uint16_t kTypeShort = 3;
constexpr std::int64_t kOldStyleJPEG = 6;

enum Tag : std::uint16_t {
    kCompression = 259,
    kStripOffsets = 273,
    kOrientation = 274,
    kStripByteCounts = 279,
    kSubIFDs = 330,
    kJPEGInterchangeFormat = 513,
    kJPEGInterchangeFormatLength = 514,
    kExifIFD = 34665,
};

// Reads at absolute positions in the file's byte order. Positions are 64-bit so that an
// offset near 2^32 plus an index can never wrap around into the buffer.
class Cursor {
public:
    Cursor(ByteView bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    std::optional<std::uint16_t> u16(std::int64_t at) const {
        const auto value = read(at, 2);
        if (!value) return std::nullopt;
        return static_cast<std::uint16_t>(*value);
    }
    std::optional<std::uint32_t> u32(std::int64_t at) const { return read(at, 4); }

    // `width` is 1, 2 or 4.
    std::optional<std::uint32_t> read(std::int64_t at, std::int64_t width) const {
        const auto size = static_cast<std::int64_t>(bytes_.size());
        if (at < 0 || width > size || at > size - width) return std::nullopt;
        std::uint32_t value = 0;
        for (std::int64_t i = 0; i < width; ++i) {
            const std::int64_t index = bigEndian_ ? at + i : at + width - 1 - i;
            value = (value << 8) | bytes_[static_cast<std::size_t>(index)];
        }
        return value;
    }

private:
    ByteView bytes_;
    bool bigEndian_;
};

struct Entry {
    std::uint16_t tag = 0;
    std::uint16_t type = 0;
    std::int64_t count = 0;
    std::int64_t payloadOffset = 0;  // the entry's 4-byte value field
};

struct Header {
    Cursor cursor;
    std::int64_t ifd0 = 0;
};

std::optional<Header> readHeader(ByteView bytes) {
    if (bytes.size() < kMinimumSize) return std::nullopt;
    bool bigEndian = false;
    if (bytes[0] == 'I' && bytes[1] == 'I') {
        bigEndian = false;
    } else if (bytes[0] == 'M' && bytes[1] == 'M') {
        bigEndian = true;
    } else {
        return std::nullopt;
    }
    const Cursor cursor(bytes, bigEndian);
    if (cursor.u16(2) != kMagic) return std::nullopt;
    const auto ifd0 = cursor.u32(4);
    if (!ifd0) return std::nullopt;
    return Header{cursor, *ifd0};
}

// The entry count of the IFD at `at`, or none when the IFD is to be treated as absent.
std::optional<std::int64_t> entryCount(const Cursor& cursor, std::int64_t at) {
    const auto count = cursor.u16(at);
    if (!count || *count == 0 || *count > kMaxEntries) return std::nullopt;
    return *count;
}

// A table cut short by the end of the buffer keeps the entries before the cut: in a head
// of a file, the tags we need often come before the ones that fall off the end.
std::vector<Entry> entries(const Cursor& cursor, std::int64_t at) {
    const auto count = entryCount(cursor, at);
    if (!count) return {};
    std::vector<Entry> result;
    result.reserve(static_cast<std::size_t>(*count));
    for (std::int64_t i = 0; i < *count; ++i) {
        const std::int64_t start = at + 2 + i * kEntrySize;
        const auto tag = cursor.u16(start);
        const auto type = cursor.u16(start + 2);
        const auto valueCount = cursor.u32(start + 4);
        if (!tag || !type || !valueCount) break;
        result.push_back({*tag, *type, *valueCount, start + 8});
    }
    return result;
}

// Only SHORT is read narrow: every tag we read is SHORT or LONG, and treating the rest as
// 4 bytes wide keeps the rule simple without losing anything we use.
std::vector<std::int64_t> values(const Cursor& cursor, const Entry& entry) {
    const std::int64_t width = entry.type == kTypeShort ? 2 : 4;
    std::int64_t start = entry.payloadOffset;
    // 64-bit product: with 32 bits, a count of 2^30 LONGs would wrap to 0 and be read inline.
    if (width * entry.count > 4) {
        const auto offset = cursor.u32(entry.payloadOffset);
        if (!offset || *offset == 0) return {};
        start = *offset;
    }
    std::vector<std::int64_t> result;
    const std::int64_t count = std::min(entry.count, kMaxValues);
    for (std::int64_t i = 0; i < count; ++i) {
        const auto value = cursor.read(start + i * width, width);
        if (!value) break;
        result.push_back(*value);
    }
    return result;
}

std::optional<std::int64_t> firstValue(const Cursor& cursor, const Entry& entry) {
    const auto list = values(cursor, entry);
    if (list.empty()) return std::nullopt;
    return list.front();
}

// A strip location counts only when the file says it is a single strip; a multi-strip
// table whose later values fall beyond the head must not pass for a single strip.
std::optional<std::int64_t> singleValue(const Cursor& cursor, const Entry& entry) {
    if (entry.count != 1) return std::nullopt;
    return firstValue(cursor, entry);
}

void consider(std::optional<Location>& best, std::optional<std::int64_t> offset,
              std::optional<std::int64_t> length) {
    if (!offset || !length || *length <= 0) return;
    // Strictly greater, so that the first found wins among equal lengths.
    if (!best || *length > best->length) best = Location{*offset, *length};
}

}  // namespace

std::optional<int> orientation(ByteView bytes) {
    const auto header = readHeader(bytes);
    if (!header) return std::nullopt;
    const auto list = entries(header->cursor, header->ifd0);
    const auto entry = std::find_if(list.begin(), list.end(),
                                    [](const Entry& e) { return e.tag == kOrientation; });
    if (entry == list.end()) return std::nullopt;
    const auto value = firstValue(header->cursor, *entry);
    if (!value || *value < 1 || *value > 8) return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<Location> largestPreview(ByteView bytes) {
    const auto header = readHeader(bytes);
    if (!header) return std::nullopt;
    const Cursor& cursor = header->cursor;

    std::vector<std::int64_t> stack{header->ifd0};
    std::unordered_set<std::int64_t> visited;
    std::optional<Location> best;
    while (!stack.empty()) {
        const std::int64_t at = stack.back();
        stack.pop_back();
        if (!visited.insert(at).second) continue;

        std::optional<std::int64_t> compression;
        std::optional<std::int64_t> stripOffset;
        std::optional<std::int64_t> stripLength;
        std::optional<std::int64_t> jpegOffset;
        std::optional<std::int64_t> jpegLength;
        for (const Entry& entry : entries(cursor, at)) {
            switch (entry.tag) {
                case kCompression:
                    if (const auto v = firstValue(cursor, entry)) compression = v;
                    break;
                case kStripOffsets:
                    if (const auto v = singleValue(cursor, entry)) stripOffset = v;
                    break;
                case kStripByteCounts:
                    if (const auto v = singleValue(cursor, entry)) stripLength = v;
                    break;
                case kJPEGInterchangeFormat:
                    if (const auto v = firstValue(cursor, entry)) jpegOffset = v;
                    break;
                case kJPEGInterchangeFormatLength:
                    if (const auto v = firstValue(cursor, entry)) jpegLength = v;
                    break;
                case kSubIFDs:
                case kExifIFD:
                    for (const std::int64_t next : values(cursor, entry)) {
                        // Offsets that would be skipped when popped (seen already, or no
                        // readable IFD there) are not pushed at all: the visiting order
                        // is unchanged and junk pointer tables cannot swell the stack.
                        if (!visited.contains(next) && entryCount(cursor, next))
                            stack.push_back(next);
                    }
                    break;
                default:
                    break;
            }
        }
        consider(best, jpegOffset, jpegLength);
        if (compression == kOldStyleJPEG) consider(best, stripOffset, stripLength);
    }
    return best;
}

}  // namespace pexil::NEF
