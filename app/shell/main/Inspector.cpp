#include "app/shell/main/Inspector.h"

#include "app/base/PreferencesModel.h"
#include "app/capture/CaptureModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/main/BatteryIcon.h"
#include "app/shell/main/CameraActions.h"
#include "app/shell/main/CameraCommand.h"
#include "kit/device/ExposureLayout.h"
#include "ui/components/ElidedLabel.h"
#include "ui/components/LightMeterView.h"
#include "ui/components/SegmentedControl.h"
#include "ui/components/ShutterButton.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/scrubber/ScrubberControl.h"
#include "ui/theme/FocusRing.h"
#include "ui/theme/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace pexil::shell {

namespace {

constexpr int kMinimumWidth = 280;
constexpr int kMargin = 16;
// What the settings have at the narrowest: nothing in them may ask for more.
constexpr int kNarrowestContent = kMinimumWidth - 2 * kMargin;

// A picker that never widens the column for a long value: the value is elided and shown
// whole in the tool tip.
void keepNarrow(QComboBox* box) {
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(6);
    box->setFocusPolicy(Qt::NoFocus);
}

QLabel* sectionHeader(const QString& title, QWidget* parent) {
    auto* header = new QLabel(title, parent);
    header->setFont(ui::Theme::font(11, QFont::DemiBold));
    header->setStyleSheet(QStringLiteral("color: %1; padding-top: 6px;").arg(ui::Theme::dim().name()));
    return header;
}

QWidget* row(const QString& caption, QWidget* control, QWidget* parent) {
    auto* w = new QWidget(parent);
    auto* layout = new QHBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new QLabel(caption, w);
    label->setFont(ui::Theme::font(12));
    label->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    label->setFixedWidth(74);
    // Screen readers take a control's label from its buddy.
    label->setBuddy(control);
    layout->addWidget(label);
    layout->addWidget(control, 1);
    w->setMinimumHeight(26);
    return w;
}

}  // namespace

Inspector::Inspector(ConnectionModel& connection, CameraSettingsModel& settings,
                     CaptureModel& capture, PreferencesModel& prefs, CameraActions& actions,
                     QWidget* parent)
    : QWidget(parent),
      connection_(connection),
      capture_(capture),
      prefs_(prefs),
      cameraSettings_(settings),
      title_(new ui::ElidedLabel(this)),
      battery_(new BatteryIcon(this)),
      placeholder_(new QLabel(this)),
      settings_(new QWidget(this)),
      program_(new ui::SegmentedControl(settings_)),
      programMenu_(new QComboBox(settings_)),
      meter_(new ui::LightMeterView(settings_)),
      scrubberColumn_(new QVBoxLayout),
      whiteBalance_(new QComboBox(settings_)),
      quality_(new QComboBox(settings_)),
      focusMode_(new ui::ElidedLabel(settings_)),
      autofocusFirst_(new QCheckBox(QStringLiteral("撮影前に AF"), settings_)),
      shutter_(new ui::ShutterButton(64, this)) {
    setMinimumWidth(kMinimumWidth);
    setMaximumWidth(380);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Not a stop of its own for Tab: the dials in it take the focus, and it scrolls to them.
    scroll->setFocusPolicy(Qt::NoFocus);
    auto* content = new QWidget(scroll);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(kMargin, 22, kMargin, 12);
    column->setSpacing(10);

    auto* summary = new QHBoxLayout;
    title_->setFont(ui::Theme::font(15, QFont::DemiBold));
    summary->addWidget(title_, 1);
    summary->addWidget(battery_);
    column->addLayout(summary);
    placeholder_->setWordWrap(true);
    placeholder_->setFont(ui::Theme::font(12));
    placeholder_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    column->addWidget(placeholder_);

    auto* settingsColumn = new QVBoxLayout(settings_);
    settingsColumn->setContentsMargins(0, 0, 0, 0);
    settingsColumn->setSpacing(10);
    settingsColumn->addWidget(sectionHeader(QStringLiteral("露出"), settings_));
    program_->setToolTip(QStringLiteral("露出モード"));
    program_->setAccessibleName(program_->toolTip());
    settingsColumn->addWidget(program_, 0, Qt::AlignLeft);
    keepNarrow(programMenu_);
    programMenu_->setToolTip(program_->toolTip());
    programMenu_->setAccessibleName(program_->toolTip());
    programMenu_->hide();
    settingsColumn->addWidget(programMenu_);
    settingsColumn->addWidget(row(QStringLiteral("露出計"), meter_, settings_));
    scrubberColumn_->setSpacing(10);
    settingsColumn->addLayout(scrubberColumn_);
    settingsColumn->addWidget(sectionHeader(QStringLiteral("画質とフォーカス"), settings_));
    for (QComboBox* box : {whiteBalance_, quality_}) keepNarrow(box);
    settingsColumn->addWidget(row(QStringLiteral("白バランス"), whiteBalance_, settings_));
    settingsColumn->addWidget(row(QStringLiteral("画質"), quality_, settings_));
    auto* focus = new QWidget(settings_);
    auto* focusRow = new QHBoxLayout(focus);
    focusRow->setContentsMargins(0, 0, 0, 0);
    auto* lock = new QLabel(focus);
    lock->setPixmap(ui::GlyphIconEngine::icon(u"lock.fill", ui::Theme::dimmer()).pixmap(12, 12));
    lock->setAccessibleName(QStringLiteral("ここでは変えられません"));
    focusMode_->setFont(ui::Theme::font(12));
    focusRow->addWidget(focusMode_, 1);
    focusRow->addWidget(lock);
    focus->setToolTip(QStringLiteral("本体の AF モードスイッチで切り替えます"));
    settingsColumn->addWidget(row(QStringLiteral("AF モード"), focus, settings_));
    autofocusFirst_->setFocusPolicy(Qt::NoFocus);
    settingsColumn->addWidget(autofocusFirst_);
    column->addWidget(settings_);
    column->addStretch(1);
    scroll->setWidget(content);
    outer->addWidget(scroll, 1);

    shutter_->setToolTip(QStringLiteral("シャッター（スペース / Ctrl+T）"));
    outer->addWidget(shutter_, 0, Qt::AlignHCenter);
    // The button's own edge leaves room for its focus ring: the face keeps its distance.
    outer->addSpacing(16 - ui::FocusRing::margin);

    connect(shutter_, &ui::ShutterButton::clicked, actions.action(CameraCommand::shoot), &QAction::trigger);
    connect(program_, &ui::SegmentedControl::activated, this, &Inspector::chooseProgram);
    connect(programMenu_, &QComboBox::activated, this, &Inspector::chooseProgram);
    connect(whiteBalance_, &QComboBox::activated, this, [this] {
        cameraSettings_.setText(PTP::Prop::whiteBalance, whiteBalance_->currentText());
    });
    connect(quality_, &QComboBox::activated, this, [this] {
        cameraSettings_.setText(PTP::Prop::compressionSetting, quality_->currentText());
    });
    connect(autofocusFirst_, &QCheckBox::toggled, &prefs_,
            &PreferencesModel::setAutofocusBeforeShot);

    connect(&connection_, &ConnectionModel::stateChanged, this, &Inspector::updateState);
    connect(&connection_, &ConnectionModel::warmupChanged, this, &Inspector::updateState);
    connect(&capture_, &CaptureModel::busyChanged, this, &Inspector::updateState);
    connect(&prefs_, &PreferencesModel::changed, this, &Inspector::updateState);
    connect(&cameraSettings_, &CameraSettingsModel::propsChanged, this, &Inspector::updateProps);
    connect(&cameraSettings_, &CameraSettingsModel::lightMeterChanged, this,
            &Inspector::updateProps);
    updateState();
    updateProps();
}

QString Inspector::title() const { return title_->fullText(); }

QString Inspector::placeholder() const { return placeholder_->isHidden() ? QString() : placeholder_->text(); }

ui::ScrubberControl* Inspector::scrubber(PTP::Prop prop) const {
    const auto it = scrubbers_.find(prop);
    return it == scrubbers_.end() ? nullptr : it->second;
}

QComboBox* Inspector::picker(PTP::Prop prop) const {
    if (prop == PTP::Prop::whiteBalance) return whiteBalance_;
    if (prop == PTP::Prop::compressionSetting) return quality_;
    if (prop == PTP::Prop::exposureProgram && programAsMenu_) return programMenu_;
    return nullptr;
}

void Inspector::updateState() {
    const auto& state = connection_.state();
    const bool connected = state.is(ConnectionState::Kind::connected);
    title_->setFullText(ShellTexts::summaryTitle(state, connection_.warmup()));
    placeholder_->setText(ShellTexts::inspectorPlaceholder(state));
    placeholder_->setVisible(!connected);
    settings_->setVisible(connected);
    shutter_->setShutterEnabled(CameraCommands::isEnabled(CameraCommand::shoot, state));
    shutter_->setBusy(capture_.busy());
    const QSignalBlocker blocker(autofocusFirst_);
    autofocusFirst_->setChecked(prefs_.autofocusBeforeShot());
}

void Inspector::fillPicker(QComboBox* box, PTP::Prop prop) {
    const QSignalBlocker blocker(box);
    const auto it = cameraSettings_.props().find(prop);
    const QStringList choices =
        it == cameraSettings_.props().end() ? QStringList() : it->second.choiceTexts();
    if (box->count() != choices.size() || [&] {
            for (int i = 0; i < choices.size(); ++i)
                if (box->itemText(i) != choices[i]) return true;
            return false;
        }()) {
        box->clear();
        box->addItems(choices);
    }
    // A body without the setting (a Nikon 1 has no white balance to set) shows no row for it.
    box->parentWidget()->setVisible(it != cameraSettings_.props().end());
    box->setCurrentIndex(static_cast<int>(choices.indexOf(cameraSettings_.text(prop))));
    box->setEnabled(cameraSettings_.isWritable(prop));
    box->setToolTip(cameraSettings_.text(prop));
}

void Inspector::updateProps() {
    battery_->setLevel(cameraSettings_.batteryPercent());
    meter_->setValue(cameraSettings_.lightMeterMeaningful() ? cameraSettings_.lightMeter()
                                                            : std::nullopt);

    const auto& props = cameraSettings_.props();
    const auto program = props.find(PTP::Prop::exposureProgram);
    std::vector<std::int64_t> choices = program == props.end() ? std::vector<std::int64_t>{} : program->second.choices;
    if (choices != programChoices_) {
        // The segments are rebuilt only when the camera offers other programs.
        programChoices_ = choices;
        auto* fresh = new ui::SegmentedControl(settings_);
        fresh->setToolTip(program_->toolTip());
        fresh->setAccessibleName(program_->accessibleName());
        if (program != props.end())
            for (const QString& text : program->second.choiceTexts()) fresh->addSegment(text);
        // The layout hands back the item that held the old picker; it is ours to free.
        std::unique_ptr<QLayoutItem>(settings_->layout()->replaceWidget(program_, fresh));
        program_->deleteLater();
        program_ = fresh;
        connect(program_, &ui::SegmentedControl::activated, this, &Inspector::chooseProgram);
        const QSignalBlocker menuBlocker(programMenu_);
        programMenu_->clear();
        for (int i = 0; i < program_->count(); ++i) programMenu_->addItem(program_->segmentText(i));
        // A strip while every mode fits the narrowest column; a menu for bodies with scene
        // and effect modes, which would run past its edge.
        programAsMenu_ = program_->sizeHint().width() > kNarrowestContent;
    }
    const QSignalBlocker blocker(program_);
    int current = -1;
    if (program != props.end())
        for (std::size_t i = 0; i < programChoices_.size(); ++i)
            if (programChoices_[i] == program->second.current) current = static_cast<int>(i);
    program_->setCurrentIndex(current);
    program_->setEnabled(cameraSettings_.isWritable(PTP::Prop::exposureProgram));
    program_->setVisible(!programChoices_.empty() && !programAsMenu_);
    {
        const QSignalBlocker menuBlocker(programMenu_);
        programMenu_->setCurrentIndex(current);
        programMenu_->setEnabled(cameraSettings_.isWritable(PTP::Prop::exposureProgram));
        programMenu_->setToolTip(program != props.end() ? program->second.currentText() : QString());
        programMenu_->setVisible(!programChoices_.empty() && programAsMenu_);
    }

    updateScrubbers();
    fillPicker(whiteBalance_, PTP::Prop::whiteBalance);
    fillPicker(quality_, PTP::Prop::compressionSetting);
    focusMode_->setFullText(cameraSettings_.text(PTP::Prop::focusMode).isEmpty()
                                ? QStringLiteral("―")
                                : cameraSettings_.text(PTP::Prop::focusMode));
}

void Inspector::updateScrubbers() {
    const auto& props = cameraSettings_.props();
    const std::vector<PTP::Prop> adjustable = ExposureLayout::adjustable(props);
    std::vector<PTP::Prop> shown = adjustable;
    for (const PTP::Prop prop : ExposureLayout::cameraDecided(props))
        if (props.count(prop) && std::find(shown.begin(), shown.end(), prop) == shown.end()) shown.push_back(prop);

    // Dials that stay keep their widget, so a drag or an animation in progress is not cut off.
    for (auto it = scrubbers_.begin(); it != scrubbers_.end();) {
        if (std::find(shown.begin(), shown.end(), it->first) == shown.end()) {
            scrubberColumn_->removeWidget(it->second);
            it->second->hide();
            it->second->deleteLater();
            it = scrubbers_.erase(it);
        } else {
            ++it;
        }
    }
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const PTP::Prop prop = shown[i];
        ui::ScrubberControl*& dial = scrubbers_[prop];
        if (!dial) {
            dial = new ui::ScrubberControl(settings_);
            dial->setTitle(PTP::label(prop));
            connect(dial, &ui::ScrubberControl::selectionActivated, this,
                    [this, prop](const QString& text) { cameraSettings_.setText(prop, text); });
        }
        scrubberColumn_->removeWidget(dial);
        scrubberColumn_->insertWidget(static_cast<int>(i), dial);
        const auto desc = props.find(prop);
        const QStringList options = desc == props.end() ? QStringList() : desc->second.choiceTexts();
        if (dial->options() != options) dial->setOptions(options);
        dial->setSelection(cameraSettings_.text(prop));
        // Values the camera decides in this program are shown but not offered.
        dial->setEnabled(cameraSettings_.isWritable(prop) &&
                         std::find(adjustable.begin(), adjustable.end(), prop) != adjustable.end());
    }
    orderTabs();
}

void Inspector::setTabOrderAfter(QWidget* previous) {
    tabPrevious_ = previous;
    orderTabs();
}

void Inspector::orderTabs() {
    // Dials are made after the rest of the window, so they would come last; a disabled one
    // takes no focus and cannot be placed, so the order is laid again whenever one changes.
    QWidget* previous = tabPrevious_;
    const auto follow = [&previous](QWidget* next) {
        if (next->focusPolicy() == Qt::NoFocus) return;
        if (previous) QWidget::setTabOrder(previous, next);
        previous = next;
    };
    for (int i = 0; i < scrubberColumn_->count(); ++i)
        if (QWidget* dial = scrubberColumn_->itemAt(i)->widget()) follow(dial);
    follow(shutter_);
}

void Inspector::chooseProgram(int index) {
    if (index >= 0 && index < static_cast<int>(programChoices_.size()))
        cameraSettings_.setProp(PTP::Prop::exposureProgram,
                                programChoices_[static_cast<std::size_t>(index)]);
}

}  // namespace pexil::shell
