#pragma once

#include <QString>
#include <QStringView>

#include <optional>
#include <vector>

namespace pexil::ui {

// The design's symbol names and the Material Icons glyph drawn for each.
struct Symbol {
    QStringView name;   // the design's name, e.g. "camera"
    QStringView glyph;  // the Material Icons name, e.g. "photo_camera"
    char16_t codepoint; // the glyph's code point in MaterialIcons-Regular.ttf
};

class SymbolMap final {
public:
    SymbolMap() = delete;
    // Every symbol, in the design's order.
    static const std::vector<Symbol>& all();
    // None for a name the map does not know.
    static std::optional<Symbol> find(QStringView name);
};

}  // namespace pexil::ui
