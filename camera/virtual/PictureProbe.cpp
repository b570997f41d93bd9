#include "camera/virtual/PictureProbe.h"

#include "kit/ptp/PTPCodes.h"

#include <QString>

#include <algorithm>
#include <unordered_set>
#include <vector>

namespace pexil::camera {

namespace {

// Bounds on the work one head can cause, whatever it claims.
constexpr std::size_t kMaxIfds = 64;
constexpr std::uint32_t kMaxEntries = 511;
constexpr std::uint32_t kMaxPointers = 16;
constexpr int kMaxMarkers = 256;

// Reads at absolute positions; 64-bit positions so that offset + index never wraps.
class Cursor {
public:
    Cursor(ByteView bytes, bool bigEndian) : bytes_(bytes), bigEndian_(bigEndian) {}

    std::optional<std::uint32_t> read(std::int64_t at, int width) const {
        const auto size = static_cast<std::int64_t>(bytes_.size());
        if (at < 0 || width > size || at > size - width) return std::nullopt;
        std::uint32_t value = 0;
        for (int i = 0; i < width; ++i) {
            const std::int64_t index = bigEndian_ ? at + i : at + width - 1 - i;
            value = (value << 8) | bytes_[static_cast<std::size_t>(index)];
        }
        return value;
    }
    std::optional<std::uint16_t> u16(std::int64_t at) const {
        const auto v = read(at, 2);
        if (!v) return std::nullopt;
        return static_cast<std::uint16_t>(*v);
    }
    std::optional<std::uint32_t> u32(std::int64_t at) const { return read(at, 4); }

private:
    ByteView bytes_;
    bool bigEndian_;
};

struct TiffFacts {
    std::vector<PictureFacts::Location> jpegs;  // relative to the TIFF header
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitDepth = 0;
};

// The values of one entry (SHORT or LONG; anything else read as LONG), at most `limit`.
std::vector<std::uint32_t> values(const Cursor& cursor, std::int64_t entry, std::uint32_t limit) {
    const auto type = cursor.u16(entry + 2);
    const auto count = cursor.u32(entry + 4);
    if (!type || !count) return {};
    const int width = *type == 3 ? 2 : 4;
    std::int64_t start = entry + 8;
    if (static_cast<std::int64_t>(width) * *count > 4) {
        const auto offset = cursor.u32(entry + 8);
        if (!offset) return {};
        start = *offset;
    }
    std::vector<std::uint32_t> out;
    const std::uint32_t n = std::min(*count, limit);
    for (std::uint32_t i = 0; i < n; ++i) {
        const auto v = cursor.read(start + static_cast<std::int64_t>(i) * width, width);
        if (!v) break;
        out.push_back(*v);
    }
    return out;
}

std::optional<TiffFacts> walkTiff(ByteView tiff) {
    if (tiff.size() < 8) return std::nullopt;
    bool bigEndian = false;
    if (tiff[0] == 'M' && tiff[1] == 'M')
        bigEndian = true;
    else if (!(tiff[0] == 'I' && tiff[1] == 'I'))
        return std::nullopt;
    const Cursor cursor(tiff, bigEndian);
    if (cursor.u16(2) != 42) return std::nullopt;
    const auto first = cursor.u32(4);
    if (!first) return std::nullopt;

    TiffFacts facts;
    std::vector<std::int64_t> stack{*first};
    std::unordered_set<std::int64_t> visited;
    while (!stack.empty() && visited.size() < kMaxIfds) {
        const std::int64_t at = stack.back();
        stack.pop_back();
        if (!visited.insert(at).second) continue;
        const auto count = cursor.u16(at);
        if (!count || *count == 0 || *count > kMaxEntries) continue;

        std::uint32_t width = 0, height = 0, bits = 0, compression = 0;
        std::optional<std::uint32_t> jpegOffset, jpegLength, stripOffset, stripLength;
        for (std::uint32_t i = 0; i < *count; ++i) {
            const std::int64_t entry = at + 2 + 12 * static_cast<std::int64_t>(i);
            const auto tag = cursor.u16(entry);
            if (!tag) break;
            const auto first1 = [&]() -> std::optional<std::uint32_t> {
                const auto list = values(cursor, entry, 1);
                if (list.empty()) return std::nullopt;
                return list.front();
            };
            const auto single = [&]() -> std::optional<std::uint32_t> {
                if (cursor.u32(entry + 4) != 1u) return std::nullopt;
                return first1();
            };
            switch (*tag) {
                case 256:
                    width = first1().value_or(0);
                    break;
                case 257:
                    height = first1().value_or(0);
                    break;
                case 258:
                    bits = first1().value_or(0);
                    break;
                case 259:
                    compression = first1().value_or(0);
                    break;
                case 273:
                    stripOffset = single();
                    break;
                case 279:
                    stripLength = single();
                    break;
                case 513:
                    jpegOffset = first1();
                    break;
                case 514:
                    jpegLength = first1();
                    break;
                case 330:
                case 34665:
                    for (const std::uint32_t next : values(cursor, entry, kMaxPointers))
                        if (!visited.contains(next)) stack.push_back(next);
                    break;
                default:
                    break;
            }
        }
        if (jpegOffset && jpegLength && *jpegLength > 0)
            facts.jpegs.push_back({*jpegOffset, *jpegLength});
        if (compression == 6 && stripOffset && stripLength && *stripLength > 0)
            facts.jpegs.push_back({*stripOffset, *stripLength});
        if (static_cast<std::uint64_t>(width) * height >
            static_cast<std::uint64_t>(facts.width) * facts.height) {
            facts.width = width;
            facts.height = height;
            facts.bitDepth = bits;
        }
        // The chain: IFD1 of an EXIF block holds its thumbnail.
        if (const auto next = cursor.u32(at + 2 + 12 * static_cast<std::int64_t>(*count));
            next && *next != 0)
            if (!visited.contains(*next)) stack.push_back(*next);
    }
    return facts;
}

// Picks the smallest embedded JPEG that lies within `head` and whose size can be read.
// `base` is where the TIFF header lies in `head`.
void chooseThumbnail(PictureFacts& facts, ByteView head, std::uint64_t base, const TiffFacts& tiff,
                     std::uint64_t limit) {
    for (const auto& jpeg : tiff.jpegs) {
        const std::uint64_t offset = base + jpeg.offset;
        if (jpeg.offset > limit || jpeg.length > limit - jpeg.offset) continue;
        if (offset > head.size() || jpeg.length > head.size() - offset) continue;
        const auto size = jpegDimensions(head.subspan(offset, jpeg.length));
        if (!size) continue;
        if (!facts.thumbnail || jpeg.length < facts.thumbnail->length) {
            facts.thumbnail = PictureFacts::Location{offset, jpeg.length};
            facts.thumbWidth = size->first;
            facts.thumbHeight = size->second;
        }
    }
}

std::uint16_t formatFromName(QStringView fileName) {
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot < 0) return PTP::code(PTP::ObjectFormat::undefined);
    const QString suffix = fileName.mid(dot + 1).toString().toUpper();
    if (suffix == QStringLiteral("JPG") || suffix == QStringLiteral("JPEG"))
        return PTP::code(PTP::ObjectFormat::exifJpeg);
    if (suffix == QStringLiteral("TIF") || suffix == QStringLiteral("TIFF"))
        return PTP::code(PTP::ObjectFormat::tiff);
    if (suffix == QStringLiteral("MOV")) return PTP::code(PTP::ObjectFormat::quickTime);
    if (suffix == QStringLiteral("MP4")) return PTP::code(PTP::ObjectFormat::mp4);
    return PTP::code(PTP::ObjectFormat::undefined);  // NEF, NRW, CR2 and the rest, as Nikon bodies
                                                     // report raw files
}

bool isSof(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

}  // namespace

std::optional<std::pair<std::uint32_t, std::uint32_t>> jpegDimensions(ByteView jpeg) {
    if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return std::nullopt;
    const Cursor cursor(jpeg, true);
    std::int64_t pos = 2;
    for (int n = 0; n < kMaxMarkers; ++n) {
        // Fill bytes (0xFF) may precede a marker.
        while (cursor.read(pos, 1) == 0xFFu && cursor.read(pos + 1, 1) == 0xFFu) ++pos;
        if (cursor.read(pos, 1) != 0xFFu) return std::nullopt;
        const auto marker = cursor.read(pos + 1, 1);
        if (!marker) return std::nullopt;
        if (*marker == 0xD9 || *marker == 0xDA) return std::nullopt;  // end or scan before any SOF
        if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const auto length = cursor.u16(pos + 2);
        if (!length || *length < 2) return std::nullopt;
        if (isSof(static_cast<std::uint8_t>(*marker))) {
            const auto height = cursor.u16(pos + 5);
            const auto width = cursor.u16(pos + 7);
            if (!height || !width) return std::nullopt;
            return std::pair<std::uint32_t, std::uint32_t>{*width, *height};
        }
        pos += 2 + *length;
    }
    return std::nullopt;
}

PictureFacts probePicture(ByteView head, QStringView fileName) {
    PictureFacts facts;
    facts.format = formatFromName(fileName);

    if (head.size() >= 4 && head[0] == 0xFF && head[1] == 0xD8) {
        facts.format = PTP::code(PTP::ObjectFormat::exifJpeg);
        facts.bitDepth = 24;
        if (const auto size = jpegDimensions(head)) {
            facts.width = size->first;
            facts.height = size->second;
        }
        // The EXIF block, if any, comes in the first segments.
        const Cursor cursor(head, true);
        std::int64_t pos = 2;
        for (int n = 0; n < kMaxMarkers; ++n) {
            if (cursor.read(pos, 1) != 0xFFu) break;
            const auto marker = cursor.read(pos + 1, 1);
            const auto length = cursor.u16(pos + 2);
            if (!marker || !length || *length < 2 || *marker == 0xDA || *marker == 0xD9) break;
            const std::int64_t body = pos + 4;
            const std::int64_t bodyLength = *length - 2;
            static constexpr std::uint8_t kExif[6] = {'E', 'x', 'i', 'f', 0, 0};
            if (*marker == 0xE1 && bodyLength > 6 &&
                body + bodyLength <= static_cast<std::int64_t>(head.size()) &&
                std::equal(kExif, kExif + 6, head.begin() + body)) {
                const auto tiffStart = static_cast<std::uint64_t>(body + 6);
                const ByteView tiff =
                    head.subspan(tiffStart, static_cast<std::size_t>(bodyLength - 6));
                if (const auto walked = walkTiff(tiff))
                    chooseThumbnail(facts, head, tiffStart, *walked,
                                    static_cast<std::uint64_t>(tiff.size()));
                break;
            }
            pos += 2 + *length;
        }
        return facts;
    }

    if (const auto walked = walkTiff(head)) {
        facts.width = walked->width;
        facts.height = walked->height;
        facts.bitDepth = walked->bitDepth;
        chooseThumbnail(facts, head, 0, *walked, head.size());
    }
    return facts;
}

}  // namespace pexil::camera
