#pragma once

#include "camera/virtual/VirtualModel.h"

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil::camera {

// What a reading of a real body says about it, as scripts/make-virtual-bodies.py writes it
// (camera/virtual/bodies/NAME.body): one "KEY VALUE…" line each for
//   line d850|z6|j5|none         the body's line, which supplies what a reading lacks
//   manufacturer "…"  model "…"  version "…"
//   vendor-extension ID VERSION "DESCRIPTION"   ID in hexadecimal
//   operations / events / listed-properties / capture-formats / image-formats CODE…   hex
//   storage ID CAPACITY ACCESS "LABEL"
// then "properties" and a property table (parsePropertyTable). Lists a reading did not
// have are empty.
struct VirtualBodyFile {
    std::optional<VirtualBody> line;  // none: a body of no line the program knows
    QString manufacturer;
    QString model;
    QString version;
    std::uint32_t vendorExtensionId = 0;
    std::uint16_t vendorExtensionVersion = 100;
    QString vendorExtensionDesc;
    std::vector<std::uint16_t> operations;
    std::vector<std::uint16_t> events;
    std::vector<std::uint16_t> listedProperties;
    std::vector<std::uint16_t> captureFormats;
    std::vector<std::uint16_t> imageFormats;
    struct Storage {
        std::uint32_t id = 0;
        std::uint64_t capacity = 0;
        std::uint16_t access = 2;
        QString label;
    };
    std::optional<Storage> storage;
    std::vector<PropertySpec> properties;
};

// None when a line is not of the format above: the files are the program's own data, so
// this is a fault of the generator, which a test over every file catches.
std::optional<VirtualBodyFile> parseVirtualBodyFile(QStringView text);

// The body `name` becomes: its reading, and from its line what the reading lacks (the
// properties the session reads, live view, the card's and the pictures' layout).
VirtualModel virtualModelFromFile(const VirtualBodyFile& file, const QString& name);

}  // namespace pexil::camera
