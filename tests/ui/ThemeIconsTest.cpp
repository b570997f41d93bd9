#include "ui/icons/GlyphIconEngine.h"
#include "ui/icons/SymbolMap.h"
#include "ui/theme/Theme.h"

#include "UiTestSupport.h"

#include <QApplication>
#include <QFontInfo>
#include <QRawFont>
#include <QStyle>

#include <gtest/gtest.h>

namespace pexil::ui {
namespace {

using test::distance;

TEST(Theme, PaletteIsDarkInEveryGroupAndDimsDisabledText) {
    const QPalette p = Theme::palette();
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        EXPECT_EQ(p.color(group, QPalette::Window), Theme::background()) << group;
        EXPECT_LT(p.color(group, QPalette::Base).lightness(), 40) << group;
    }
    EXPECT_EQ(p.color(QPalette::Active, QPalette::WindowText), Theme::text());
    EXPECT_EQ(p.color(QPalette::Inactive, QPalette::Text), Theme::text());
    EXPECT_EQ(p.color(QPalette::Disabled, QPalette::ButtonText), Theme::dimmer());
    EXPECT_EQ(p.color(QPalette::Active, QPalette::Highlight), Theme::amber());
    EXPECT_EQ(QApplication::palette().color(QPalette::Window), Theme::background());
    EXPECT_EQ(QApplication::style()->name(), QStringLiteral("fusion"));
}

TEST(Theme, FontsNameJapaneseFallbackAndUseLogicalPixels) {
    const QFont f = Theme::font(13, QFont::DemiBold);
    EXPECT_EQ(f.families(), (QStringList{"Noto Sans", "Noto Sans CJK JP"}));
    EXPECT_EQ(f.pixelSize(), 13);
    EXPECT_EQ(QFontInfo(Theme::digitsFont(12)).family(), QStringLiteral("Noto Sans CJK JP"));
    EXPECT_EQ(QFontInfo(QApplication::font()).family(), QStringLiteral("Noto Sans"));
}

TEST(Theme, MissingIconFontIsReportedNotIgnored) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    const auto error = Theme::apply(*app, QStringLiteral("/nonexistent/MaterialIcons.ttf"));
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->contains(QStringLiteral("fonts-material-design-icons-iconfont")));
    EXPECT_FALSE(Theme::apply(*app).has_value());
}

TEST(SymbolMap, FindsDesignNamesAndRejectsOthers) {
    ASSERT_TRUE(SymbolMap::find(u"camera"));
    EXPECT_EQ(SymbolMap::find(u"camera")->glyph, u"photo_camera");
    EXPECT_EQ(SymbolMap::find(u"eye.fill")->codepoint, SymbolMap::find(u"eye")->codepoint);
    EXPECT_FALSE(SymbolMap::find(u"camera.fill"));
    EXPECT_TRUE(GlyphIconEngine::icon(u"no.such.symbol").isNull());
}

// Counts pixels close to `tint` and any that are not transparent.
struct Ink {
    int tinted = 0;
    int painted = 0;
};
Ink ink(const QImage& image, const QColor& tint) {
    Ink result;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() == 0) continue;
            ++result.painted;
            if (c.alpha() > 240 && distance(c, tint) < 8) ++result.tinted;
        }
    return result;
}

TEST(GlyphIcons, EverySymbolHasAGlyphAndRendersTintedAtBothPixelRatios) {
    const QRawFont font(Theme::defaultIconFontPath(), 24);
    ASSERT_TRUE(font.isValid());
    for (const Symbol& s : SymbolMap::all()) {
        SCOPED_TRACE(s.name.toString().toStdString());
        EXPECT_TRUE(font.supportsCharacter(QChar(s.codepoint)));
        const QIcon icon = GlyphIconEngine::icon(s.name, Theme::amber());
        for (qreal dpr : {1.0, 2.0}) {
            const QImage image = icon.pixmap(QSize(24, 24), dpr).toImage();
            EXPECT_EQ(image.size(), QSize(24, 24) * dpr);
            const Ink normal = ink(image, Theme::amber());
            // A glyph covers a real part of its square, not a dot or a missing-glyph box.
            EXPECT_GT(normal.painted, image.width() * image.height() / 20);
            EXPECT_GT(normal.tinted, image.width() * image.height() / 40);
        }
        const QImage disabled = icon.pixmap(QSize(24, 24), 1.0, QIcon::Disabled).toImage();
        EXPECT_GT(ink(disabled, Theme::dimmer()).tinted, 10);
        EXPECT_EQ(ink(disabled, Theme::amber()).tinted, 0);
    }
}

TEST(GlyphIcons, DefaultTintIsTheTextColour) {
    const QImage image = GlyphIconEngine::icon(u"folder").pixmap(QSize(32, 32)).toImage();
    EXPECT_GT(ink(image, Theme::text()).tinted, 200);
}

}  // namespace
}  // namespace pexil::ui
