// pexil-gallery OUT_DIR: renders every interface component in its states as PNG files (at
// device pixel ratio 2) for people to look at. Runs offscreen; exits non-zero when the theme
// cannot be applied or a file cannot be written.

#include "ui/components/GlassButton.h"
#include "ui/components/LightMeterView.h"
#include "ui/components/SegmentedControl.h"
#include "ui/components/ShutterButton.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/preparing/PreparingOverlay.h"
#include "ui/scrubber/ScrubberControl.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

#include <cstdio>
#include <functional>

using namespace pexil::ui;

namespace {

class Gallery {
public:
    explicit Gallery(QDir out) : out_(std::move(out)) {}

    // Lays `w` out on the window background and saves it as NAME.png.
    void save(const QString& name, QWidget& w, QSize size = {}) {
        w.setAttribute(Qt::WA_DontShowOnScreen);
        w.setAutoFillBackground(true);
        if (size.isValid()) w.resize(size);
        else w.adjustSize();
        w.show();
        QApplication::processEvents();
        const QString path = out_.filePath(name + QStringLiteral(".png"));
        if (!w.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            failed_ = true;
        }
        ++written_;
    }

    bool failed() const { return failed_; }
    int written() const { return written_; }

private:
    QDir out_;
    bool failed_ = false;
    int written_ = 0;
};

// A component with a caption under it, padded.
struct Framed {
    QWidget frame;
    explicit Framed(QWidget* content, const QString& caption) {
        auto* column = new QVBoxLayout(&frame);
        column->setContentsMargins(16, 16, 16, 12);
        column->addWidget(content, 0, Qt::AlignCenter);
        auto* label = new QLabel(caption, &frame);
        label->setFont(Theme::font(11));
        label->setAlignment(Qt::AlignCenter);
        column->addWidget(label);
    }
};

void meters(Gallery& g) {
    const std::pair<std::optional<double>, const char*> values[] = {
        {-5.0, "meter-minus5"}, {-1.3, "meter-minus1.3"}, {0.0, "meter-0"},
        {0.12, "meter-0.12"},   {5.0, "meter-plus5"},    {std::nullopt, "meter-none"}};
    for (const auto& [value, name] : values) {
        auto* meter = new LightMeterView;
        meter->setMinimumWidth(420);  // room for a needle beyond the scale
        meter->setValue(value);
        Framed f(meter, QStringLiteral("露出計 ") + LightMeterView::accessibleValue(value));
        g.save(QString::fromLatin1(name), f.frame);
    }
}

void shutters(Gallery& g) {
    FrameClock clock(FrameClock::Mode::Manual);
    const std::function<void(ShutterButton&)> states[] = {
        [](ShutterButton&) {},
        [](ShutterButton& b) { b.setDown(true); emit b.pressed(); },
        [&clock](ShutterButton& b) { b.setBusy(true); clock.advance(0.6); },
        [](ShutterButton& b) { b.setShutterEnabled(false); },
    };
    const char* names[] = {"shutter-idle", "shutter-pressed", "shutter-busy", "shutter-disabled"};
    const char* captions[] = {"待機", "押下", "撮影中", "無効"};
    for (int i = 0; i < 4; ++i) {
        auto* b = new ShutterButton(64);
        b->setFrameClock(&clock);
        states[i](*b);
        clock.advance(0.5);  // let press and spring settle
        Framed f(b, QString::fromUtf8(captions[i]));
        g.save(QString::fromLatin1(names[i]), f.frame);
    }
}

void overlays(Gallery& g) {
    FrameClock clock(FrameClock::Mode::Manual);
    const struct {
        const char* name;
        double time;
        std::optional<double> reveal;
    } states[] = {{"iris-breathing", 0.65, std::nullopt},
                  {"iris-closed", 1.95, std::nullopt},
                  {"iris-revealing", 0.65 + 0.2, 0.65}};
    for (const auto& s : states) {
        PreparingOverlay overlay;
        overlay.setFrameClock(&clock);
        overlay.setTitle(QStringLiteral("カメラを準備中"));
        overlay.setDetail(QStringLiteral("Nikon Z 6_2 · USB の準備を待つ"));
        overlay.setFooter(QStringLiteral("接続から 3 秒"));
        overlay.setReveal(s.reveal);
        overlay.setAttribute(Qt::WA_DontShowOnScreen);
        overlay.resize(480, 420);
        overlay.show();
        clock.advance(s.time - clock.now());
        g.save(QString::fromLatin1(s.name), overlay, {480, 420});
    }
    PreparingOverlay card;
    card.setFrameClock(&clock);
    card.setCardCount(248);
    clock.advance(0.3);
    g.save(QStringLiteral("overlay-card"), card, {480, 420});
}

void scrubbers(Gallery& g) {
    const QStringList speeds{"1/30", "1/60", "1/125", "1/250", "1/500", "1/1000", "1/2000"};
    const struct {
        const char* name;
        QString selection;
        bool enabled;
        bool focused;
    } states[] = {{"scrubber-first", "1/30", true, false},
                  {"scrubber-last", "1/2000", true, false},
                  {"scrubber-focused", "1/250", true, true},
                  {"scrubber-disabled", "1/250", false, false}};
    for (const auto& s : states) {
        QWidget page;
        auto* column = new QVBoxLayout(&page);
        column->setContentsMargins(16, 16, 16, 16);
        auto* scrubber = new ScrubberControl;
        FrameClock clock(FrameClock::Mode::Manual);
        scrubber->setFrameClock(&clock);
        scrubber->setTitle(QStringLiteral("シャッター速度"));
        scrubber->setOptions(speeds);
        scrubber->setSelection(s.selection);
        scrubber->setEnabled(s.enabled);
        column->addWidget(scrubber);
        page.resize(340, 68);
        if (s.focused) {
            page.setAttribute(Qt::WA_DontShowOnScreen);
            page.show();
            page.activateWindow();
            QApplication::setActiveWindow(&page);
            QEnterEvent enter(QPointF(100, 18), QPointF(100, 18), QPointF(100, 18));
            QApplication::sendEvent(scrubber, &enter);
        }
        clock.advance(0.5);
        g.save(QString::fromLatin1(s.name), page, {340, 68});
    }
}

void controls(Gallery& g) {
    QWidget page;
    auto* grid = new QGridLayout(&page);
    grid->setContentsMargins(16, 16, 16, 16);
    grid->setSpacing(12);
    auto* program = new SegmentedControl;
    for (const char* mode : {"P", "S", "A", "M"}) program->addSegment(QString::fromLatin1(mode));
    program->setCurrentIndex(2);
    grid->addWidget(program, 0, 0, 1, 4);
    auto* source = new SegmentedControl;
    source->addSegment(QStringLiteral("テザー 12"), GlyphIconEngine::icon(u"camera"));
    source->addSegment(QStringLiteral("カード 248"), GlyphIconEngine::icon(u"sdcard"));
    source->setCurrentIndex(0);
    grid->addWidget(source, 1, 0, 1, 4);
    const struct {
        const char16_t* symbol;
        QColor tint;
        bool enabled;
    } circles[] = {{u"chevron.left", {}, true},
                   {u"chevron.right", Theme::amber(), true},
                   {u"xmark", {}, false},
                   {u"folder", Theme::danger(), true}};
    int column = 0;
    for (const auto& c : circles) {
        auto* b = new GlassButton(GlassButton::Shape::Circle);
        b->setIcon(GlyphIconEngine::icon(c.symbol));
        b->setIconSize({22, 22});
        b->setFixedSize(40, 40);
        b->setTint(c.tint);
        b->setEnabled(c.enabled);
        grid->addWidget(b, 2, column++);
    }
    auto* live = new GlassButton(GlassButton::Shape::Capsule);
    live->setIcon(GlyphIconEngine::icon(u"eye.fill", Theme::amber()));
    live->setText(QStringLiteral("ライブビュー"));
    grid->addWidget(live, 3, 0, 1, 2);
    auto* inactive = new GlassButton(GlassButton::Shape::Capsule);
    inactive->setIcon(GlyphIconEngine::icon(u"eye"));
    inactive->setText(QStringLiteral("ガラスなし"));
    inactive->setActive(false);
    grid->addWidget(inactive, 3, 2, 1, 2);
    g.save(QStringLiteral("controls"), page);
}

void icons(Gallery& g) {
    QWidget page;
    auto* grid = new QGridLayout(&page);
    grid->setContentsMargins(12, 12, 12, 12);
    grid->setHorizontalSpacing(10);
    const auto& all = SymbolMap::all();
    for (int i = 0; i < int(all.size()); ++i) {
        const QIcon icon = GlyphIconEngine::icon(all[i].name, i % 5 == 1 ? Theme::amber() : QColor());
        auto* glyph = new QLabel;
        glyph->setPixmap(icon.pixmap(QSize(24, 24), i % 5 == 4 ? QIcon::Disabled : QIcon::Normal));
        auto* name = new QLabel(all[i].name.toString());
        name->setFont(Theme::font(10));
        grid->addWidget(glyph, i / 3, (i % 3) * 2);
        grid->addWidget(name, i / 3, (i % 3) * 2 + 1);
    }
    g.save(QStringLiteral("icons"), page);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pexil-gallery OUT_DIR\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR")) qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    if (const auto error = Theme::apply(app)) {
        std::fprintf(stderr, "%s\n", qPrintable(*error));
        return 1;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "cannot create %s\n", argv[1]);
        return 1;
    }
    Gallery gallery(out);
    meters(gallery);
    shutters(gallery);
    overlays(gallery);
    scrubbers(gallery);
    controls(gallery);
    icons(gallery);
    std::printf("%d pictures in %s\n", gallery.written(), qPrintable(out.absolutePath()));
    return gallery.failed() ? 1 : 0;
}
