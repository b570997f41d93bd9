#include "kit/nef/NEF.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace pexil {
namespace {

using NEF::Location;

enum class Order { little, big };

constexpr std::uint16_t kShort = 3;
constexpr std::uint16_t kLong = 4;
constexpr std::uint16_t kOrientation = 274, kCompression = 259, kStripOffsets = 273,
                        kStripByteCounts = 279, kSubIFDs = 330, kJPEGStart = 513, kJPEGLength = 514,
                        kExifIFD = 34665;

struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::uint32_t value;  // inline value, or offset of the values
};
Field shortField(std::uint16_t tag, std::uint32_t v) {
    return {tag, kShort, 1, v};
}
Field longField(std::uint16_t tag, std::uint32_t v) {
    return {tag, kLong, 1, v};
}

// A TIFF file laid out by hand: each structure goes at the offset the test chooses, so
// tests can point IFDs anywhere, including at each other.
class TiffFile {
public:
    explicit TiffFile(Order order = Order::little, std::uint32_t ifd0 = 8) : order_(order) {
        bytes_ = order == Order::little ? Bytes{'I', 'I'} : Bytes{'M', 'M'};
        put16(2, 42);
        put32(4, ifd0);
    }

    TiffFile& ifd(std::uint32_t at, const std::vector<Field>& fields) {
        put16(at, static_cast<std::uint16_t>(fields.size()));
        std::uint32_t entry = at + 2;
        for (const Field& f : fields) {
            put16(entry, f.tag);
            put16(entry + 2, f.type);
            put32(entry + 4, f.count);
            put32(entry + 8, 0);
            // TIFF left-justifies a SHORT in the value field.
            if (f.type == kShort && f.count == 1)
                put16(entry + 8, static_cast<std::uint16_t>(f.value));
            else
                put32(entry + 8, f.value);
            entry += 12;
        }
        put32(entry, 0);
        return *this;
    }
    TiffFile& longs(std::uint32_t at, const std::vector<std::uint32_t>& values) {
        for (std::uint32_t v : values) put32(std::exchange(at, at + 4), v);
        return *this;
    }
    TiffFile& put8(std::uint32_t at, std::uint8_t v) { return put(at, v, 1); }
    TiffFile& put16(std::uint32_t at, std::uint16_t v) { return put(at, v, 2); }
    TiffFile& put32(std::uint32_t at, std::uint32_t v) { return put(at, v, 4); }

    const Bytes& bytes() const { return bytes_; }
    ByteView head(std::size_t size) const { return ByteView(bytes_).first(size); }

private:
    TiffFile& put(std::uint32_t at, std::uint32_t v, int width) {
        if (bytes_.size() < at + width) bytes_.resize(at + width);
        for (int i = 0; i < width; ++i) {
            const int shift = 8 * (order_ == Order::big ? width - 1 - i : i);
            bytes_[at + i] = static_cast<std::uint8_t>(v >> shift);
        }
        return *this;
    }

    Order order_;
    Bytes bytes_;
};

std::optional<Location> preview(const TiffFile& f) {
    return NEF::largestPreview(f.bytes());
}
std::optional<int> orientation(const TiffFile& f) {
    return NEF::orientation(f.bytes());
}

// IFD0 with a 160×120 thumbnail and two SubIFDs: a medium and a full-size preview.
TiffFile typicalNEF(Order order) {
    TiffFile f(order);
    f.ifd(8, {shortField(kOrientation, 6),
              longField(kJPEGStart, 0x10000),
              longField(kJPEGLength, 9000),
              {kSubIFDs, kLong, 2, 300},
              longField(kExifIFD, 200)});
    f.longs(300, {400, 500});
    f.ifd(200, {shortField(kCompression, 6), longField(kStripOffsets, 0x20000),
                longField(kStripByteCounts, 60000)});
    f.ifd(400, {longField(kJPEGStart, 0x30000), longField(kJPEGLength, 1'200'000)});
    f.ifd(500, {longField(kJPEGStart, 0x200000), longField(kJPEGLength, 300'000)});
    return f;
}

TEST(NEFHeader, NeedsNineBytesAndATiffHeader) {
    const TiffFile valid = typicalNEF(Order::little);
    ASSERT_EQ(orientation(valid), 6);
    ASSERT_EQ(preview(valid), (Location{0x30000, 1'200'000}));

    EXPECT_EQ(NEF::orientation(valid.head(8)), std::nullopt);
    EXPECT_EQ(NEF::largestPreview(valid.head(8)), std::nullopt);
    EXPECT_EQ(NEF::largestPreview(valid.head(9)), std::nullopt);  // IFD0 count cut in half

    for (const auto& [at, byte] : std::vector<std::pair<int, std::uint8_t>>{
             {0, 'M'}, {1, 'M'}, {0, 'X'}, {2, 43}, {3, 42}}) {
        TiffFile broken = valid;
        broken.put8(at, byte);
        EXPECT_EQ(orientation(broken), std::nullopt) << at << " " << int(byte);
        EXPECT_EQ(preview(broken), std::nullopt) << at << " " << int(byte);
    }
}

TEST(NEFOrientation, ReadsTheFirstEntryOfIFD0InEitherByteOrder) {
    for (Order order : {Order::little, Order::big}) {
        for (std::uint32_t value : {1u, 6u, 8u}) {
            EXPECT_EQ(orientation(TiffFile(order).ifd(8, {shortField(kOrientation, value)})),
                      static_cast<int>(value));
        }
        for (std::uint32_t value : {0u, 9u, 0x106u}) {
            EXPECT_EQ(orientation(TiffFile(order).ifd(8, {shortField(kOrientation, value)})),
                      std::nullopt)
                << value;
        }
        // A LONG is read 4 bytes wide; read as a SHORT, big-endian would give 0.
        EXPECT_EQ(orientation(TiffFile(order).ifd(8, {longField(kOrientation, 3)})), 3);
        EXPECT_EQ(orientation(TiffFile(order).ifd(
                      8, {shortField(kOrientation, 3), shortField(kOrientation, 6)})),
                  3);
    }
}

TEST(NEFOrientation, OnlyIFD0Counts) {
    TiffFile f;
    f.ifd(8, {longField(kSubIFDs, 100)}).ifd(100, {shortField(kOrientation, 6)});
    EXPECT_EQ(orientation(f), std::nullopt);
}

TEST(NEFOrientation, TruncatedTableKeepsTheEntriesRead) {
    TiffFile f;
    f.ifd(8, {shortField(kOrientation, 6), shortField(kCompression, 6)});
    EXPECT_EQ(NEF::orientation(f.head(10 + 12 + 4)), 6);            // second entry cut off
    EXPECT_EQ(NEF::orientation(f.head(10 + 8 + 1)), std::nullopt);  // value field cut in half
}

TEST(NEFPreview, LargestWinsWhateverTheOrderOfSubIFDs) {
    for (Order order : {Order::little, Order::big}) {
        for (auto subIFDs : {std::vector<std::uint32_t>{100, 200}, {200, 100}}) {
            TiffFile f(order);
            f.ifd(8, {{kSubIFDs, kLong, 2, 300}}).longs(300, subIFDs);
            f.ifd(100, {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 9000)});
            f.ifd(200, {longField(kJPEGStart, 0x4000), longField(kJPEGLength, 1'200'000)});
            EXPECT_EQ(preview(f), (Location{0x4000, 1'200'000}));
        }
    }
}

TEST(NEFPreview, ZeroLengthJPEGContributesNothing) {
    TiffFile f;
    f.ifd(8, {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 0)});
    EXPECT_EQ(preview(f), std::nullopt);
    f.ifd(8, {longField(kJPEGStart, 0x1000)});
    EXPECT_EQ(preview(f), std::nullopt);
}

TEST(NEFPreview, OldStyleJPEGStripNeedsCompression6AndASingleStrip) {
    auto strip = [](std::uint32_t compression, Field offsets, Field lengths) {
        TiffFile f;
        f.ifd(8, {shortField(kCompression, compression), offsets, lengths}).longs(100, {1, 2});
        return preview(f);
    };
    const Field offset = longField(kStripOffsets, 0x2000);
    const Field length = longField(kStripByteCounts, 5000);
    EXPECT_EQ(strip(6, offset, length), (Location{0x2000, 5000}));
    EXPECT_EQ(strip(6, shortField(kStripOffsets, 0x2000), length), (Location{0x2000, 5000}));
    EXPECT_EQ(strip(1, offset, length), std::nullopt);
    EXPECT_EQ(strip(6, offset, longField(kStripByteCounts, 0)), std::nullopt);
    EXPECT_EQ(strip(6, {kStripOffsets, kLong, 2, 100}, length), std::nullopt);
    EXPECT_EQ(strip(6, offset, {kStripByteCounts, kLong, 2, 100}), std::nullopt);

    // Two strips whose second value lies beyond the head must not pass for one strip.
    TiffFile cut;
    cut.ifd(8, {shortField(kCompression, 6), {kStripOffsets, kLong, 2, 46}, length})
        .longs(46, {0x2000, 0x3000});
    EXPECT_EQ(NEF::largestPreview(cut.head(50)), std::nullopt);
}

TEST(NEFPreview, TiesGoToTheFirstFound) {
    TiffFile f;
    f.ifd(8, {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 5000),
              shortField(kCompression, 6), longField(kStripOffsets, 0x2000),
              longField(kStripByteCounts, 5000), longField(kSubIFDs, 200)});
    f.ifd(200, {longField(kJPEGStart, 0x3000), longField(kJPEGLength, 5000)});
    EXPECT_EQ(preview(f), (Location{0x1000, 5000}));

    // The last SubIFD pushed is visited first.
    TiffFile g;
    g.ifd(8, {{kSubIFDs, kLong, 2, 300}}).longs(300, {100, 200});
    g.ifd(100, {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 5000)});
    g.ifd(200, {longField(kJPEGStart, 0x3000), longField(kJPEGLength, 5000)});
    EXPECT_EQ(preview(g), (Location{0x3000, 5000}));
}

TEST(NEFPreview, FollowsExifIFDAndCutsCycles) {
    TiffFile f;
    f.ifd(8, {longField(kExifIFD, 100), longField(kSubIFDs, 8)});  // IFD0 points at itself
    f.ifd(100, {longField(kSubIFDs, 200)});
    f.ifd(200,
          {longField(kJPEGStart, 0x3000), longField(kJPEGLength, 7000), {kSubIFDs, kLong, 3, 300}});
    f.longs(300, {8, 100, 200});  // and back at every IFD on the way
    EXPECT_EQ(preview(f), (Location{0x3000, 7000}));
}

TEST(NEFPreview, EntryCountOfZeroOrAbove511IsAbsent) {
    auto withEntries = [](std::size_t n) {
        std::vector<Field> fields(n - 2, shortField(1, 0));
        fields.push_back(longField(kJPEGStart, 0x100000));
        fields.push_back(longField(kJPEGLength, 1000));
        return preview(TiffFile().ifd(8, fields));
    };
    EXPECT_EQ(withEntries(511), (Location{0x100000, 1000}));
    EXPECT_EQ(withEntries(512), std::nullopt);
    EXPECT_EQ(withEntries(600), std::nullopt);

    TiffFile f;
    f.ifd(8, {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 5000)}).put16(8, 0);
    EXPECT_EQ(preview(f), std::nullopt);
}

TEST(NEFPreview, ReadsAtMost64Values) {
    auto withTarget = [](std::size_t index) {
        TiffFile f;
        std::vector<std::uint32_t> offsets(65, 0xFFFFFF00);
        offsets[index] = 100;
        f.ifd(8, {{kSubIFDs, kLong, 65, 400}}).longs(400, offsets);
        f.ifd(100, {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 5000)});
        return preview(f);
    };
    EXPECT_EQ(withTarget(63), (Location{0x1000, 5000}));
    EXPECT_EQ(withTarget(64), std::nullopt);
}

TEST(NEFPreview, TablesOutsideTheHeadAreAbsentButLocationsMayPointBeyondIt) {
    TiffFile f;
    f.ifd(8,
          {longField(kJPEGStart, 0x1000), longField(kJPEGLength, 5000), longField(kSubIFDs, 200)});
    f.ifd(200, {longField(kJPEGStart, 0x3000), longField(kJPEGLength, 7000)});
    EXPECT_EQ(NEF::largestPreview(f.head(200)), (Location{0x1000, 5000}));
    EXPECT_EQ(NEF::largestPreview(f.head(10 + 24)), (Location{0x1000, 5000}));

    TiffFile zero;  // value offset 0 means no values, not the header's bytes
    zero.ifd(8, {{kJPEGStart, kLong, 2, 0}, longField(kJPEGLength, 5000)});
    EXPECT_EQ(preview(zero), std::nullopt);
}

TEST(NEFHostileOffsets, OffsetsAndCountsNear4GiBNeitherWrapNorCrash) {
    for (Order order : {Order::little, Order::big}) {
        EXPECT_EQ(preview(TiffFile(order, 0xFFFFFFFF).put32(8, 0)), std::nullopt);
        EXPECT_EQ(orientation(TiffFile(order, 0xFFFFFFFE).put32(8, 0)), std::nullopt);

        TiffFile f(order);
        f.ifd(8, {{kSubIFDs, kLong, 4, 100},
                  {kExifIFD, kLong, 0xFFFFFFFF, 0xFFFFFFF0},
                  longField(kJPEGStart, 0xFFFFFFFF),
                  longField(kJPEGLength, 0xFFFFFFFF)});
        f.longs(100, {0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFC, 0x80000000});
        EXPECT_EQ(preview(f), (Location{0xFFFFFFFF, 0xFFFFFFFF}));

        // 4 × 2^30 and 2 × 2^31 wrap to 0 in 32 bits, which would read the offset as the value.
        TiffFile g(order);
        g.ifd(8, {{kJPEGStart, kLong, 0x40000000, 100}, {kJPEGLength, kShort, 0x80000000, 104}});
        g.longs(100, {0x5000}).put16(104, 700);
        EXPECT_EQ(preview(g), (Location{0x5000, 700}));
    }
}

TEST(NEFTruncation, EveryPrefixOfAFileIsSafeAndFindsNoMoreThanTheWhole) {
    for (Order order : {Order::little, Order::big}) {
        const TiffFile f = typicalNEF(order);
        const std::vector<Location> candidates{
            {0x10000, 9000}, {0x20000, 60000}, {0x30000, 1'200'000}, {0x200000, 300'000}};
        std::int64_t longest = 0;
        bool oriented = false;
        for (std::size_t size = 0; size <= f.bytes().size(); ++size) {
            const auto found = NEF::largestPreview(f.head(size));
            const auto turn = NEF::orientation(f.head(size));
            if (found) {
                EXPECT_NE(std::find(candidates.begin(), candidates.end(), *found), candidates.end())
                    << size;
                EXPECT_GE(found->length, longest) << size;
                longest = found->length;
            } else {
                EXPECT_EQ(longest, 0) << size;
            }
            EXPECT_TRUE(turn == std::nullopt || turn == 6) << size;
            EXPECT_TRUE(turn || !oriented) << size;
            oriented = turn.has_value();
        }
        EXPECT_EQ(longest, 1'200'000);
        EXPECT_TRUE(oriented);
    }
}

}  // namespace
}  // namespace pexil
