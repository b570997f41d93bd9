#pragma once

#include "camera/session/ObjectInfo.h"
#include "kit/ptp/Bytes.h"
#include "kit/ptp/PTPCodes.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace pexil::camera {

// The data phase of GetObjectPropList (PTP::Op::getObjectPropList, from MTP), with which a camera
// describes many objects in one transaction instead of one GetObjectInfo each: a 32-bit element
// count, then per element the object handle (32 bits), the property code and datatype (16 bits
// each) and the value in that datatype.
//
// Only the properties (PTP::ObjectProp) that stand in for GetObjectInfo's fields are written and
// read; other properties are skipped by their datatype. Strings are PTP strings; dates PTP dates.
namespace ObjectPropList {

// Parameters asking for every property of every object on every storage.
inline constexpr std::uint32_t allObjects = 0xFFFFFFFF;
inline constexpr std::uint32_t allProperties = 0xFFFFFFFF;
inline constexpr std::uint32_t allDepths = 0xFFFFFFFF;

using Objects = std::vector<std::pair<std::uint32_t, ObjectInfo>>;

// The most objects a list may name: more than any card a real body holds. A list naming
// more is refused, so that a camera's answer cannot make us hold millions of objects.
inline constexpr std::size_t maxObjects = 100'000;

// The list a camera sends for `objects`, in their order: every property it reads, or only
// the property coded `only` when one is given (none when it is not one of them).
std::optional<Bytes> encode(const Objects& objects,
                            std::optional<std::uint16_t> only = std::nullopt);

// Each object the list names, in order of first appearance, with the fields its properties
// give (the others stay at ObjectInfo's defaults; DateCreated is the capture date). None when
// the list is cut short or holds a datatype whose length is unknown: nothing after such an
// element could be trusted; none too when it names more than `most` objects.
std::optional<Objects> parse(ByteView bytes, std::size_t most = maxObjects);

}  // namespace ObjectPropList

}  // namespace pexil::camera
