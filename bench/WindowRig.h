#pragma once

// The main window on the session rig, offscreen unless a platform is asked for, and a watch on
// a widget's paints: what a benchmark of the window needs besides the model.
#include "SessionRig.h"
#include "app/shell/main/MainWindow.h"
#include "ui/theme/Theme.h"

#include <QApplication>
#include <QEvent>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <functional>
#include <utility>

namespace pexil::bench {

// Calls `painted` for each paint of `widget`: as it starts (what the widget shows is what it
// paints), or once it is done, on the next turn of the event loop (when it is on screen). The
// paint itself is left alone: a scroll area's viewport is painted by the area's own filter,
// which must see the event.
class PaintWatch final : public QObject {
public:
    enum class When { starting, done };
    PaintWatch(QWidget* widget, When when, std::function<void()> painted)
        : widget_(widget), when_(when), painted_(std::move(painted)) {
        widget_->installEventFilter(this);
    }
    ~PaintWatch() override {
        if (widget_) widget_->removeEventFilter(this);
    }
    PaintWatch(const PaintWatch&) = delete;
    PaintWatch& operator=(const PaintWatch&) = delete;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != widget_ || event->type() != QEvent::Paint) return false;
        if (when_ == When::starting) {
            painted_();
        } else if (!pending_) {
            pending_ = true;
            QMetaObject::invokeMethod(
                this,
                [this] {
                    pending_ = false;
                    painted_();
                },
                Qt::QueuedConnection);
        }
        return false;
    }

private:
    QWidget* widget_;
    When when_;
    std::function<void()> painted_;
    bool pending_ = false;
};

// The main window of the rig's model, shown and laid out.
inline void showWindow(shell::MainWindow& window) {
    window.resize(shell::MainWindow::defaultSize);
    window.show();
    spinUntil([&window] { return window.isVisible(); }, std::chrono::seconds(5));
    spinUntil([] { return false; }, std::chrono::milliseconds(200));
}

// main() of a window benchmark: a QApplication with the application's theme, its settings in
// a folder of its own.
inline int windowBenchMain(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    QApplication::setOrganizationName(QStringLiteral("PexilBench"));
    QApplication::setApplicationName(QStringLiteral("PexilBench"));
    ui::Theme::apply(app);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

}  // namespace pexil::bench
