#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace pexil {

// Bytes on the wire and in files. Parsers take a ByteView and never read outside it.
using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

}  // namespace pexil
