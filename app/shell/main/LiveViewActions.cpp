#include "app/shell/main/LiveViewActions.h"

#include "app/liveview/LiveViewModel.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QWidget>

namespace pexil::shell {

namespace {

constexpr std::array<const char*, 3> stepNames{"小", "中", "大"};
constexpr std::array<Qt::KeyboardModifier, 3> stepModifiers{Qt::NoModifier, Qt::ControlModifier,
                                                            Qt::AltModifier};

}  // namespace

QString LiveViewActions::guideTitle(LiveAids::Guide guide) {
    switch (guide) {
        case LiveAids::Guide::none:
            return QStringLiteral("ガイドなし");
        case LiveAids::Guide::thirds:
            return QStringLiteral("三分割");
        case LiveAids::Guide::square:
            return QStringLiteral("正方形");
        case LiveAids::Guide::fourByFive:
            return QStringLiteral("4:5");
        case LiveAids::Guide::sixteenByNine:
            return QStringLiteral("16:9");
    }
    return {};
}

LiveViewActions::LiveViewActions(LiveViewModel& live, std::function<async::Task<bool>()> shoot,
                                 QWidget* window)
    : QObject(window),
      live_(live),
      guideGroup_(new QActionGroup(this)),
      stack_(live, std::move(shoot), [&live] { return live.autofocus(); }) {
    const auto make = [window](const QString& text, QStringView icon, QKeySequence keys) {
        auto* action = new QAction(text, window);
        if (!icon.isEmpty()) action->setIcon(ui::GlyphIconEngine::icon(icon, ui::Theme::dim()));
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        action->setToolTip(keys.isEmpty() ? text
                                          : text + QStringLiteral("（") +
                                                keys.toString(QKeySequence::NativeText) +
                                                QStringLiteral("）"));
        window->addAction(action);
        return action;
    };
    const auto toggle = [&](const QString& text, QStringView icon, Qt::Key key,
                            bool LiveAids::*field) {
        QAction* action = make(text, icon, QKeySequence(Qt::SHIFT | key));
        action->setCheckable(true);
        connect(action, &QAction::toggled, this, [this, field](bool on) { changeAids(field, on); });
        return action;
    };
    peaking_ = toggle(QStringLiteral("ピーキング"), u"scope", Qt::Key_P, &LiveAids::peaking);
    histogram_ =
        toggle(QStringLiteral("ヒストグラム"), u"chart.bar", Qt::Key_H, &LiveAids::histogram);
    clipping_ =
        toggle(QStringLiteral("白とび・黒つぶれ"), u"plusminus", Qt::Key_C, &LiveAids::clipping);

    nextGuide_ = make(QStringLiteral("次のガイド"), u"grid", QKeySequence(Qt::SHIFT | Qt::Key_G));
    connect(nextGuide_, &QAction::triggered, this, [this] {
        LiveAids aids = live_.aids();
        aids.guide = LiveAids::next(aids.guide);
        live_.setAids(aids);
    });
    for (int i = 0; i < LiveAids::guideCount; ++i) {
        const auto guide = static_cast<LiveAids::Guide>(i);
        auto* action = new QAction(guideTitle(guide), this);
        action->setCheckable(true);
        guideGroup_->addAction(action);
        connect(action, &QAction::triggered, this, [this, guide] {
            LiveAids aids = live_.aids();
            aids.guide = guide;
            live_.setAids(aids);
        });
        guides_[static_cast<std::size_t>(i)] = action;
    }

    magnify_ = make(QStringLiteral("AF エリアを拡大"), u"plus.magnifyingglass",
                    QKeySequence(Qt::SHIFT | Qt::Key_Z));
    connect(magnify_, &QAction::triggered, this, [this] {
        // The body's own zoom shows its sensor's pixels; without it the frame is enlarged.
        if (const int max = live_.bodyZoomMax(); max > 0)
            live_.requestBodyZoom(live_.bodyZoom() >= max ? 0 : live_.bodyZoom() + 1);
        else
            emit magnifyRequested();
    });

    const std::array<QStringView, 3> nearIcons{u"chevron.left", u"chevron.left.2",
                                               u"arrow.left.to.line"};
    const std::array<QStringView, 3> farIcons{u"chevron.right", u"chevron.right.2",
                                              u"arrow.right.to.line"};
    for (std::size_t size = 0; size < 3; ++size) {
        const QString step = QString::fromUtf8(stepNames[size]);
        near_[size] = make(QStringLiteral("ピントを近くへ（%1）").arg(step), nearIcons[size],
                           QKeySequence(stepModifiers[size] | Qt::Key_BracketLeft));
        far_[size] = make(QStringLiteral("ピントを遠くへ（%1）").arg(step), farIcons[size],
                          QKeySequence(stepModifiers[size] | Qt::Key_BracketRight));
        const int steps = LiveViewModel::focusSteps[size];
        connect(near_[size], &QAction::triggered, this,
                [this, steps] { live_.requestFocusDrive(PTPCamera::FocusDirection::near, steps); });
        connect(far_[size], &QAction::triggered, this,
                [this, steps] { live_.requestFocusDrive(PTPCamera::FocusDirection::far, steps); });
    }

    stackAction_ = make(QStringLiteral("フォーカスシフト撮影…"), {}, {});
    connect(stackAction_, &QAction::triggered, this, &LiveViewActions::focusStackRequested);
    stopStack_ =
        make(QStringLiteral("フォーカスシフト撮影を中止"), {}, QKeySequence(Qt::Key_Escape));
    connect(stopStack_, &QAction::triggered, &stack_, &FocusStack::cancel);
    connect(&stack_, &FocusStack::progressChanged, this, [this] {
        if (stack_.running())
            stackText_ =
                QStringLiteral("フォーカスシフト %1 / %2").arg(stack_.taken()).arg(stack_.total());
        update();
        emit stackTextChanged();
    });
    connect(&stack_, &FocusStack::finished, this, [this](const QString& summary) {
        stackText_ = summary;
        emit stackTextChanged();
    });

    for (auto signal : {&LiveViewModel::isLiveChanged, &LiveViewModel::aidsChanged,
                        &LiveViewModel::stateChanged, &LiveViewModel::bodyZoomChanged})
        connect(&live_, signal, this, &LiveViewActions::update);
    // Frames come 30 times a second; only the first with an AF area changes an action.
    connect(&live_, &LiveViewModel::frameChanged, this, [this] {
        if (magnify_->isEnabled() != canMagnify()) update();
    });
    update();
}

void LiveViewActions::changeAids(bool LiveAids::*field, bool on) {
    LiveAids aids = live_.aids();
    aids.*field = on;
    live_.setAids(aids);
}

bool LiveViewActions::canMagnify() const {
    return live_.state() == NikonLiveView::State::on && live_.afArea().has_value();
}

void LiveViewActions::update() {
    const LiveAids& aids = live_.aids();
    for (auto [action, on] :
         {std::pair{peaking_, aids.peaking}, std::pair{histogram_, aids.histogram},
          std::pair{clipping_, aids.clipping}}) {
        const QSignalBlocker quiet(action);
        action->setChecked(on);
    }
    guides_[static_cast<std::size_t>(aids.guide)]->setChecked(true);
    nextGuide_->setToolTip(
        QStringLiteral("ガイド: %1（Shift+G で切り替え）").arg(guideTitle(aids.guide)));
    const bool live = live_.state() == NikonLiveView::State::on;
    magnify_->setEnabled(canMagnify());
    const int zoomMax = live_.bodyZoomMax();
    magnify_->setToolTip(zoomMax > 0
                             ? QStringLiteral("AF エリアを拡大（カメラの拡大 %1 / %2、Shift+Z）")
                                   .arg(live_.bodyZoom())
                                   .arg(zoomMax)
                             : QStringLiteral("AF エリアを拡大（Shift+Z）"));
    const bool drive = live && live_.canDriveFocus() && !stack_.running();
    for (std::size_t size = 0; size < 3; ++size) {
        near_[size]->setEnabled(drive);
        far_[size]->setEnabled(drive);
    }
    stackAction_->setEnabled(drive);
    // Only while it runs: Esc closes the card's large view and dialogs otherwise.
    stopStack_->setEnabled(stack_.running());
}

void LiveViewActions::addTo(QMenu* menu) const {
    menu->addSection(QStringLiteral("ライブビュー"));
    menu->addAction(peaking_);
    menu->addAction(histogram_);
    menu->addAction(clipping_);
    QMenu* guides = menu->addMenu(QStringLiteral("ガイド"));
    for (QAction* action : guides_) guides->addAction(action);
    guides->addSeparator();
    guides->addAction(nextGuide_);
    menu->addAction(magnify_);
    QMenu* focus = menu->addMenu(QStringLiteral("マニュアルフォーカス"));
    for (const auto* side : {&near_, &far_})
        for (QAction* action : *side) focus->addAction(action);
    focus->addSeparator();
    focus->addAction(stackAction_);
    focus->addAction(stopStack_);
}

}  // namespace pexil::shell
