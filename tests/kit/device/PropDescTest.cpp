#include "kit/device/PropDesc.h"
#include "kit/device/PropFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace pexil {
namespace {

using PTP::DataType;
using PTP::Prop;

// Builds a GetDevicePropDesc data phase; every value is written at the width of `type`.
class Desc {
public:
    Desc(std::uint16_t code, DataType type, std::uint8_t getSet = 1) : type_(type) {
        PTP::appendLE(bytes_, code);
        PTP::appendLE(bytes_, PTP::code(type));
        PTP::appendLE(bytes_, getSet);
    }
    Desc& value(std::int64_t v) {
        switch (PTP::byteCount(type_)) {
            case 1:
                PTP::appendLE(bytes_, static_cast<std::uint8_t>(v));
                break;
            case 2:
                PTP::appendLE(bytes_, static_cast<std::uint16_t>(v));
                break;
            case 4:
                PTP::appendLE(bytes_, static_cast<std::uint32_t>(v));
                break;
            case 8:
                PTP::appendLE(bytes_, static_cast<std::uint64_t>(v));
                break;
            default:
                ADD_FAILURE() << "use str() for string values";
        }
        return *this;
    }
    Desc& str(std::uint8_t units) {
        bytes_.push_back(units);
        for (int i = 0; i < units; ++i) {
            bytes_.push_back(i + 1 == units ? 0 : 'A');
            bytes_.push_back(0);
        }
        return *this;
    }
    Desc& text(const QString& t) {
        const Bytes encoded = PTP::encodeString(t);
        bytes_.insert(bytes_.end(), encoded.begin(), encoded.end());
        return *this;
    }
    Desc& u8(std::uint8_t v) {
        bytes_.push_back(v);
        return *this;
    }
    Desc& u16(std::uint16_t v) {
        PTP::appendLE(bytes_, v);
        return *this;
    }
    Desc& range(std::int64_t min, std::int64_t max, std::int64_t step) {
        return u8(1).value(min).value(max).value(step);
    }
    const Bytes& bytes() const { return bytes_; }

private:
    DataType type_;
    Bytes bytes_;
};

std::optional<PropDesc> parse(const Bytes& bytes) {
    return PropDesc::parse(bytes);
}

TEST(PropDescTest, ParsesHeaderOfEnumeration) {
    const auto desc = parse(Desc(0x500F, DataType::uint16, 1)
                                .value(100)
                                .value(400)
                                .u8(2)
                                .u16(3)
                                .value(200)
                                .value(400)
                                .value(800)
                                .bytes());
    ASSERT_TRUE(desc);
    EXPECT_EQ(desc->code, Prop::iso);
    EXPECT_EQ(desc->dataType, DataType::uint16);
    EXPECT_TRUE(desc->writable);
    EXPECT_EQ(desc->current, 400);  // not the factory default 100
    EXPECT_EQ(desc->choices, (std::vector<std::int64_t>{200, 400, 800}));
}

TEST(PropDescTest, WritableOnlyWhenGetSetIsExactlyOne) {
    for (const std::uint8_t getSet : {0, 2, 255}) {
        const auto desc =
            parse(Desc(0x500F, DataType::uint16, getSet).value(0).value(0).u8(0).bytes());
        ASSERT_TRUE(desc) << int(getSet);
        EXPECT_FALSE(desc->writable) << int(getSet);
    }
}

TEST(PropDescTest, WidensValuesByDatatype) {
    const auto signed16 = parse(Desc(0x5010, DataType::int16).value(0).value(-333).u8(0).bytes());
    ASSERT_TRUE(signed16);
    EXPECT_EQ(signed16->current, -333);
    const auto unsigned32 =
        parse(Desc(0x500D, DataType::uint32).value(0).value(0xFFFFFFFF).u8(0).bytes());
    ASSERT_TRUE(unsigned32);
    EXPECT_EQ(unsigned32->current, 4294967295);
    const auto unsigned64 = parse(Desc(0xD100, DataType::uint64).value(0).value(-1).u8(0).bytes());
    ASSERT_TRUE(unsigned64);
    EXPECT_EQ(unsigned64->current, -1);
}

TEST(PropDescTest, UnknownPropertyOrDatatypeIsNone) {
    EXPECT_FALSE(parse(Desc(0x5002, DataType::uint16).value(0).value(0).u8(0).bytes()));
    EXPECT_FALSE(parse(Desc(0x5011, DataType::uint16).value(0).value(0).u8(0).bytes()));
    Bytes badType{0x0F, 0x50, 0x09, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_FALSE(parse(badType));  // 128-bit integers are not supported
    badType[2] = 0x02;
    badType[3] = 0x40;  // array of uint8
    EXPECT_FALSE(parse(badType));
}

TEST(PropDescTest, EveryTruncatedHeaderIsNoneAndFullHeaderParses) {
    for (const DataType type :
         {DataType::uint8, DataType::int16, DataType::uint32, DataType::uint64}) {
        const Bytes full = Desc(0x500F, type).value(1).value(2).u8(0).bytes();
        for (std::size_t length = 0; length < full.size(); ++length) {
            const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            EXPECT_FALSE(parse(cut)) << "type " << PTP::code(type) << " length " << length;
        }
        const auto desc = parse(full);
        ASSERT_TRUE(desc);
        EXPECT_EQ(desc->current, 2);
        EXPECT_TRUE(desc->choices.empty());
    }
}

TEST(PropDescTest, RangeListsEveryStep) {
    const auto iso =
        parse(Desc(0x500F, DataType::uint16).value(100).value(100).range(100, 6400, 100).bytes());
    ASSERT_TRUE(iso);
    ASSERT_EQ(iso->choices.size(), 64u);
    EXPECT_EQ(iso->choices.front(), 100);
    EXPECT_EQ(iso->choices[1], 200);
    EXPECT_EQ(iso->choices.back(), 6400);

    // The last value not above the maximum closes the list.
    const auto uneven =
        parse(Desc(0x5010, DataType::int16).value(0).value(0).range(-1000, 1000, 333).bytes());
    ASSERT_TRUE(uneven);
    EXPECT_EQ(uneven->choices, (std::vector<std::int64_t>{-1000, -667, -334, -1, 332, 665, 998}));

    const auto single =
        parse(Desc(0x500F, DataType::uint16).value(0).value(0).range(200, 200, 5).bytes());
    ASSERT_TRUE(single);
    EXPECT_EQ(single->choices, (std::vector<std::int64_t>{200}));
}

TEST(PropDescTest, BrokenRangeKeepsDescriptorWithoutChoices) {
    auto choicesOf = [](const Bytes& bytes) {
        const auto desc = parse(bytes);
        EXPECT_TRUE(desc);
        return desc ? desc->choices.size() : 999u;
    };
    const auto base = [] { return Desc(0x500F, DataType::uint16).value(0).value(7); };
    // 600 steps is too many to offer one by one; 511 is the most that is listed.
    EXPECT_EQ(choicesOf(base().range(0, 600, 1).bytes()), 0u);
    EXPECT_EQ(choicesOf(base().range(0, 512, 1).bytes()), 0u);
    EXPECT_EQ(choicesOf(base().range(0, 511, 1).bytes()), 512u);
    EXPECT_EQ(choicesOf(base().range(0, 600, 0).bytes()), 0u);           // step 0
    EXPECT_EQ(choicesOf(base().range(600, 0, 1).bytes()), 0u);           // maximum below minimum
    EXPECT_EQ(choicesOf(base().u8(1).value(0).value(600).bytes()), 0u);  // no step
    EXPECT_EQ(choicesOf(base().u8(1).value(0).bytes()), 0u);
    EXPECT_EQ(choicesOf(base().u8(1).bytes()), 0u);
    EXPECT_EQ(choicesOf(Desc(0x5010, DataType::int16).value(0).value(0).range(0, 600, -1).bytes()),
              0u);  // negative step
}

TEST(PropDescTest, RangeAtSixtyFourBitExtremesNeitherOverflowsNorAllocatesHugely) {
    constexpr auto lo = std::numeric_limits<std::int64_t>::min();
    constexpr auto hi = std::numeric_limits<std::int64_t>::max();
    auto choicesOf = [](DataType type, std::int64_t min, std::int64_t max, std::int64_t step) {
        const auto desc = parse(Desc(0x5010, type).value(0).value(0).range(min, max, step).bytes());
        EXPECT_TRUE(desc);
        return desc ? desc->choices : std::vector<std::int64_t>{};
    };
    // maximum − minimum does not fit a signed 64-bit value here.
    EXPECT_TRUE(choicesOf(DataType::int64, lo, hi, 1).empty());
    EXPECT_EQ(choicesOf(DataType::int64, lo, hi, hi), (std::vector<std::int64_t>{lo, -1, hi - 1}));
    // The last steps would run past the maximum if added unchecked.
    EXPECT_EQ(choicesOf(DataType::int64, hi - 10, hi, 4),
              (std::vector<std::int64_t>{hi - 10, hi - 6, hi - 2}));
    EXPECT_EQ(choicesOf(DataType::int64, lo, lo + 2, 1),
              (std::vector<std::int64_t>{lo, lo + 1, lo + 2}));
    EXPECT_TRUE(choicesOf(DataType::int64, hi, lo, 1).empty());
    EXPECT_TRUE(choicesOf(DataType::int64, 0, hi, hi / 512).empty());
    EXPECT_EQ(choicesOf(DataType::int64, 0, hi, hi / 511).size(), 512u);
    // A uint64 range straddling 2^63 is ordered as unsigned: the widened maximum is negative
    // but it is not below the minimum.
    EXPECT_EQ(choicesOf(DataType::uint64, hi - 1, lo + 1, 1),
              (std::vector<std::int64_t>{hi - 1, hi, lo, lo + 1}));
    EXPECT_EQ(choicesOf(DataType::uint64, 0, -1, -1), (std::vector<std::int64_t>{0, -1}));
    EXPECT_TRUE(choicesOf(DataType::uint64, 0, -1, 1).empty());
    EXPECT_TRUE(choicesOf(DataType::uint64, -1, 0, 1).empty());
}

TEST(PropDescTest, EnumerationKeepsWhatIsThere) {
    const auto base = [] { return Desc(0x5007, DataType::uint16).value(0).value(560).u8(2); };
    const auto shortList = parse(base().u16(5).value(280).value(400).value(560).bytes());
    ASSERT_TRUE(shortList);
    EXPECT_EQ(shortList->choices, (std::vector<std::int64_t>{280, 400, 560}));

    Bytes halfValue = base().u16(2).value(280).bytes();
    halfValue.push_back(0x90);  // one byte of a two-byte value
    const auto half = parse(halfValue);
    ASSERT_TRUE(half);
    EXPECT_EQ(half->choices, (std::vector<std::int64_t>{280}));

    const auto noCount = parse(base().bytes());
    ASSERT_TRUE(noCount);
    EXPECT_TRUE(noCount->choices.empty());
    const auto halfCount = parse(base().u8(3).bytes());
    ASSERT_TRUE(halfCount);
    EXPECT_TRUE(halfCount->choices.empty());

    const auto surplus = parse(base().u16(1).value(280).value(400).bytes());
    ASSERT_TRUE(surplus);
    EXPECT_EQ(surplus->choices, (std::vector<std::int64_t>{280}));

    const auto huge = parse(base().u16(0xFFFF).value(1).bytes());
    ASSERT_TRUE(huge);
    EXPECT_EQ(huge->choices, (std::vector<std::int64_t>{1}));
}

TEST(PropDescTest, OtherFormFlagsHaveNoChoices) {
    for (const std::uint8_t form : {0, 3, 255}) {
        const auto desc = parse(
            Desc(0x500F, DataType::uint16).value(0).value(0).u8(form).u16(1).value(100).bytes());
        ASSERT_TRUE(desc) << int(form);
        EXPECT_TRUE(desc->choices.empty()) << int(form);
    }
}

TEST(PropDescTest, StringPropertyHoldsItsTexts) {
    const QString large = QStringLiteral("6048x4024"), medium = QStringLiteral("4528x3016");
    const auto desc = parse(Desc(0x5003, DataType::string)
                                .text(large)
                                .text(medium)
                                .u8(2)
                                .u16(3)
                                .text(large)
                                .text(medium)
                                .text(QStringLiteral("3024x2016"))
                                .bytes());
    ASSERT_TRUE(desc);
    EXPECT_EQ(desc->dataType, DataType::string);
    EXPECT_EQ(desc->currentText(), medium);
    EXPECT_EQ(desc->current, 1);
    EXPECT_EQ(desc->choices, (std::vector<std::int64_t>{0, 1, 2}));
    EXPECT_EQ(desc->choiceTexts(), (QStringList{large, medium, QStringLiteral("3024x2016")}));

    // A current text the camera does not offer is still shown; it is at no position.
    const auto odd = parse(Desc(0x5003, DataType::string).text(large).text(QStringLiteral("1x1")).u8(2).u16(1).text(large).bytes());
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->currentText(), "1x1");
    EXPECT_EQ(odd->current, -1);

    // A range of texts means nothing: no choices.
    const auto range =
        parse(Desc(0x5003, DataType::string).str(2).str(2).u8(1).str(2).str(2).str(2).bytes());
    ASSERT_TRUE(range);
    EXPECT_TRUE(range->choices.empty());
    EXPECT_EQ(range->currentText(), "A");

    // A current string announcing more units than remain moves the reader past the end; the
    // missing form flag then makes the descriptor none instead of reading beyond the buffer.
    EXPECT_FALSE(parse(Desc(0x5003, DataType::string).str(2).u8(200).bytes()));
    // An enumerated string that overruns ends the list.
    const auto overrun =
        parse(Desc(0x5003, DataType::string).str(2).str(2).u8(2).u16(4).str(2).u8(100).bytes());
    ASSERT_TRUE(overrun);
    EXPECT_EQ(overrun->choiceTexts(), (QStringList{"A"}));
}

TEST(PropDescText, TextsFollowPropertyAndTheDescribingCamerasVendor) {
    const Bytes quality = Desc(0x5004, DataType::uint8)
                              .value(0)
                              .value(2)
                              .u8(2)
                              .u16(3)
                              .value(0)
                              .value(2)
                              .value(4)
                              .bytes();
    const auto nikon = PropDesc::parse(quality, PropFormat::vendorNikon);
    const auto sony = PropDesc::parse(quality, PropFormat::vendorSony);
    const auto standard = parse(quality);
    ASSERT_TRUE(nikon && sony && standard);
    // Descriptions of different cameras side by side, each in its own camera's terms.
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(nikon->currentText(), "JPEG Fine");
        EXPECT_EQ(nikon->choiceTexts(), (QStringList{"JPEG Basic", "JPEG Fine", "NEF (RAW)"}));
        EXPECT_EQ(sony->currentText(), "2");
        EXPECT_EQ(standard->choiceTexts(), (QStringList{"0", "2", "4"}));
    }
    EXPECT_EQ(nikon->vendor, PropFormat::vendorNikon);
    EXPECT_EQ(standard->vendor, 0U);

    const PropDesc none{Prop::iso, DataType::uint16, true, 100, {}};
    EXPECT_EQ(none.currentText(), "100");
    EXPECT_TRUE(none.choiceTexts().isEmpty());
}

}  // namespace
}  // namespace pexil
