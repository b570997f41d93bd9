#include "ui/icons/SymbolMap.h"

#include <algorithm>

namespace pexil::ui {

// Code points from the package's scss/_variables.scss; the font carries ligatures too, but a
// code point does not depend on the shaper applying them.
const std::vector<Symbol>& SymbolMap::all() {
    static const std::vector<Symbol> symbols{
        {u"camera", u"photo_camera", 0xe412},
        {u"battery.0percent", u"battery_0_bar", 0xebdc},
        {u"battery.25percent", u"battery_2_bar", 0xebe0},
        {u"battery.50percent", u"battery_3_bar", 0xebdd},
        {u"battery.75percent", u"battery_5_bar", 0xebd4},
        {u"battery.100percent", u"battery_full", 0xe1a4},
        {u"eye", u"visibility", 0xe8f4},
        {u"eye.fill", u"visibility", 0xe8f4},
        {u"viewfinder.circle", u"center_focus_strong", 0xe3b4},
        {u"checkmark.circle.fill", u"check_circle", 0xe86c},
        {u"exclamationmark.triangle", u"warning", 0xe002},
        {u"exclamationmark.triangle.fill", u"warning", 0xe002},
        {u"sdcard", u"sd_card", 0xe623},
        {u"location", u"near_me", 0xe569},
        {u"chevron.left", u"chevron_left", 0xe5cb},
        {u"chevron.right", u"chevron_right", 0xe5cc},
        {u"xmark", u"close", 0xe5cd},
        {u"folder", u"folder", 0xe2c7},
        {u"minus.magnifyingglass", u"zoom_out", 0xe900},
        {u"plus.magnifyingglass", u"zoom_in", 0xe8ff},
        {u"arrow.up.left.and.arrow.down.right", u"open_in_full", 0xf1ce},
        {u"1.square", u"looks_one", 0xe400},
        {u"sidebar.trailing", u"view_sidebar", 0xf114},
        {u"lock.fill", u"lock", 0xe897},
        {u"square.stack.3d.up", u"layers", 0xe53b},
        {u"cable.connector.horizontal", u"cable", 0xefe6},
        {u"wifi", u"wifi", 0xe63e},
        {u"wifi.slash", u"wifi_off", 0xe648},
        {u"arrow.down.circle", u"arrow_circle_down", 0xf181},
        {u"gearshape", u"settings", 0xe8b8},
        {u"externaldrive", u"storage", 0xe1db},
        {u"arrow.clockwise", u"refresh", 0xe5d5},
        {u"slider.horizontal.3", u"tune", 0xe429},
        {u"a.circle", u"hdr_auto", 0xf01a},
        {u"hand.tap", u"touch_app", 0xe913},
        {u"sun.max", u"wb_sunny", 0xe430},
        {u"light.cylindrical.ceiling", u"wb_iridescent", 0xe436},
        {u"lightbulb", u"wb_incandescent", 0xe42e},
        {u"bolt", u"flash_on", 0xe3e7},
        {u"cloud", u"wb_cloudy", 0xe42d},
        {u"house", u"home", 0xe88a},
        {u"thermometer.medium", u"thermostat", 0xf076},
        {u"eyedropper", u"colorize", 0xe3b8},
        {u"circle.slash", u"block", 0xe14b},
        {u"sun.haze", u"wb_twilight", 0xe1c6},
        {u"circle.lefthalf.filled", u"contrast", 0xeb37},
        // Live view's focusing aids.
        {u"grid", u"grid_on", 0xe3ec},
        {u"chart.bar", u"equalizer", 0xe01d},
        {u"plusminus", u"exposure", 0xe3ca},
        {u"scope", u"filter_center_focus", 0xe3dc},
        {u"chevron.left.2", u"keyboard_double_arrow_left", 0xeac3},
        {u"chevron.right.2", u"keyboard_double_arrow_right", 0xeac9},
        {u"arrow.left.to.line", u"first_page", 0xe5dc},
        {u"arrow.right.to.line", u"last_page", 0xe5dd},
    };
    return symbols;
}

std::optional<Symbol> SymbolMap::find(QStringView name) {
    const auto& symbols = all();
    const auto it = std::find_if(symbols.begin(), symbols.end(),
                                 [name](const Symbol& s) { return s.name == name; });
    if (it == symbols.end()) return std::nullopt;
    return *it;
}

}  // namespace pexil::ui
