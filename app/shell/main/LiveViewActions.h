#pragma once

#include "app/base/LiveAids.h"
#include "app/liveview/FocusStack.h"

#include <QObject>

#include <array>
#include <functional>

class QAction;
class QActionGroup;
class QMenu;
class QWidget;

namespace pexil {
class LiveViewModel;
}

namespace pexil::shell {

// Live view's focusing commands as one set of actions with window shortcuts: the aids over
// the picture (remembered), the composition guide, the AF-area magnifier and the manual
// focus drive in three step sizes. The view menu lists them and the live view bar's buttons
// trigger them.
//
// Keys: Shift+P peaking, Shift+H histogram, Shift+C clipping, Shift+G next guide, Shift+Z
// magnify the AF area (the body's own next zoom step where it has them, else 1:1 of the
// frame around the AF area and back); [ and ] drive near and far by the small step, with Ctrl the
// middle and with Alt the large one. The focus stack ("フォーカスシフト撮影…") runs from live view;
// Esc stops it.
class LiveViewActions final : public QObject {
    Q_OBJECT
public:
    // `shoot` takes one shot of a stack and ends once its picture is saved.
    LiveViewActions(LiveViewModel& live, std::function<async::Task<bool>()> shoot, QWidget* window);
    Q_DISABLE_COPY_MOVE(LiveViewActions)

    QAction* peaking() const { return peaking_; }
    QAction* histogram() const { return histogram_; }
    QAction* clipping() const { return clipping_; }
    QAction* nextGuide() const { return nextGuide_; }
    QAction* guide(LiveAids::Guide guide) const { return guides_[static_cast<int>(guide)]; }
    QAction* magnify() const { return magnify_; }
    // `size` 0 small to 2 large.
    QAction* drive(bool near, int size) const { return (near ? near_ : far_)[size]; }
    QAction* focusStack() const { return stackAction_; }
    QAction* stopStack() const { return stopStack_; }
    FocusStack& stack() { return stack_; }
    // What the stack is doing ("フォーカスシフト 2 / 5"), or how it ended; empty before.
    const QString& stackText() const { return stackText_; }

    // The whole set under a "ライブビュー" heading.
    void addTo(QMenu* menu) const;
    static QString guideTitle(LiveAids::Guide guide);

signals:
    // Zoom the picture to 1:1 around the AF area, or back (bodies without their own zoom).
    void magnifyRequested();
    // The photographer asked for a focus stack: the window asks how, then starts stack().
    void focusStackRequested();
    void stackTextChanged();

private:
    void update();
    bool canMagnify() const;
    void changeAids(bool LiveAids::*field, bool on);

    LiveViewModel& live_;
    QAction* peaking_;
    QAction* histogram_;
    QAction* clipping_;
    QAction* nextGuide_;
    QActionGroup* guideGroup_;
    std::array<QAction*, LiveAids::guideCount> guides_{};
    QAction* magnify_;
    std::array<QAction*, 3> near_{};
    std::array<QAction*, 3> far_{};
    FocusStack stack_;
    QAction* stackAction_;
    QAction* stopStack_;
    QString stackText_;
};

}  // namespace pexil::shell
