// The main window as the keyboard and a screen reader meet it, on the demo's wiring: every
// control a user operates has a name, the custom controls tell their value, a filmstrip cell
// says which picture it is, and Tab runs picture → strip → inspector → shutter.
#include "ShellHarness.h"

#include "app/shell/card/CardTexts.h"
#include "app/shell/main/Filmstrip.h"
#include "app/shell/main/Inspector.h"
#include "app/shell/main/MainWindow.h"
#include "app/shell/main/PreviewPane.h"
#include "app/shell/main/SourceToggle.h"
#include "kit/device/ExposureLayout.h"
#include "ui/components/SegmentedControl.h"
#include "ui/components/ShutterButton.h"
#include "ui/scrubber/ScrubberControl.h"

#include <QAccessible>
#include <QComboBox>
#include <QFileInfo>
#include <QListView>
#include <QTest>

namespace pexil::shell {
namespace {

using testing::ShellHarness;
using Named = std::pair<QAccessible::Role, QString>;

// What a user operates, besides whatever takes the focus. Scroll bars and the splitter's grip
// take no focus and are named by their role; decorative pictures are not controls.
constexpr QAccessible::Role operated[] = {
    QAccessible::Button,     QAccessible::CheckBox,       QAccessible::RadioButton, QAccessible::ComboBox,
    QAccessible::Slider,     QAccessible::EditableText,   QAccessible::ButtonMenu,  QAccessible::ButtonDropDown,
    QAccessible::MenuItem,   QAccessible::List,           QAccessible::ListItem};

// Every interface on screen under `iface`.
void collect(QAccessibleInterface* iface, std::vector<QAccessibleInterface*>& out) {
    if (!iface || iface->state().invisible) return;
    out.push_back(iface);
    for (int i = 0; i < iface->childCount(); ++i) collect(iface->child(i), out);
}

QString describe(const QObject* o) {
    return o ? QString::fromLatin1(o->metaObject()->className()) + u' ' + o->property("accessibleName").toString()
             : QStringLiteral("nothing");
}

class AccessibilityTest : public ::testing::Test {
protected:
    AccessibilityTest() : window(*h.model) {
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    // The camera connected and `count` shots taken and read, the newest shown.
    bool shoot(std::size_t count) {
        if (!h.connectAndWait()) return false;
        for (std::size_t n = 1; n <= count; ++n) {
            h.model->capture().shoot();
            if (!h.until([&] {
                    return h.model->shots().list().size() == n &&
                           h.model->shots().list().front().meta.captured;
                }))
                return false;
        }
        return h.until([&] { return !h.model->capture().busy(); });
    }
    QAccessibleInterface* of(QObject* o) { return QAccessible::queryAccessibleInterface(o); }

    ShellHarness h;
    MainWindow window;
};

TEST_F(AccessibilityTest, everyControlHasANameAndTheCustomOnesTheirRole) {
    ASSERT_TRUE(shoot(1));
    std::vector<Named> expected{{QAccessible::Graphic, "プレビュー"},  {QAccessible::Button, "AF を実行"},
                                {QAccessible::Button, "縮小"},        {QAccessible::Button, "拡大"},
                                {QAccessible::Button, "全体"},        {QAccessible::Button, "等倍"},
                                {QAccessible::List, "撮影した写真"},  {QAccessible::Button, "シャッター"},
                                {QAccessible::Grouping, "表示するもの"},
                                {QAccessible::RadioButton, window.filmstrip()->sourceToggle()->tetherText()}};
    for (const PTP::Prop prop : ExposureLayout::adjustable(h.model->settings().props()))
        expected.emplace_back(QAccessible::Slider, PTP::label(prop));
    if (window.inspector()->programPicker()->isVisibleTo(&window))
        expected.emplace_back(QAccessible::Grouping, "露出モード");

    std::vector<QAccessibleInterface*> shown;
    collect(of(&window), shown);
    EXPECT_GT(shown.size(), 60u);  // the walk reached the toolbar, the strip and the inspector
    std::vector<Named> found;
    for (QAccessibleInterface* iface : shown) {
        found.emplace_back(iface->role(), iface->text(QAccessible::Name));
        if (std::find(std::begin(operated), std::end(operated), iface->role()) != std::end(operated) ||
            iface->state().focusable) {
            EXPECT_FALSE(found.back().second.trimmed().isEmpty()) << describe(iface->object()).toStdString();
        }
    }
    for (const Named& e : expected)
        EXPECT_TRUE(std::find(found.begin(), found.end(), e) != found.end())
            << e.second.toStdString() << ' ' << e.first;
}

TEST_F(AccessibilityTest, theCustomControlsAndTheStripsCellsTellWhatTheyHold) {
    ASSERT_TRUE(shoot(2));
    const auto adjustable = ExposureLayout::adjustable(h.model->settings().props());
    for (const PTP::Prop prop : adjustable) {
        ui::ScrubberControl* dial = window.inspector()->scrubber(prop);
        QAccessibleValueInterface* value = of(dial)->valueInterface();
        ASSERT_NE(value, nullptr) << PTP::label(prop).toStdString();
        EXPECT_EQ(of(dial)->text(QAccessible::Value), dial->selection());
        EXPECT_EQ(of(dial)->text(QAccessible::Description), dial->selection());
        EXPECT_EQ(value->currentValue().toInt(), dial->options().indexOf(dial->selection()));
        EXPECT_EQ(value->maximumValue().toInt(), dial->options().size() - 1);
    }
    // An assistive tool sets a dial as a user's pick: the camera is asked for it.
    ui::ScrubberControl* first = window.inspector()->scrubber(adjustable.front());
    const int next = (first->baseIndex() + 1) % int(first->options().size());
    of(first)->valueInterface()->setCurrentValue(next);
    EXPECT_TRUE(h.until(
        [&] { return h.model->settings().text(adjustable.front()) == first->options()[next]; }));

    EXPECT_EQ(of(window.preview())->text(QAccessible::Description),
              QFileInfo(h.model->shots().list().front().path).fileName());
    for (ui::SegmentedControl* segments : {window.filmstrip()->sourceToggle()->findChild<ui::SegmentedControl*>(),
                                           window.inspector()->programPicker()}) {
        ASSERT_GE(segments->currentIndex(), 0);
        EXPECT_EQ(of(segments)->text(QAccessible::Description), segments->segmentText(segments->currentIndex()));
    }
    // The pickers are labelled by their row's caption (on Linux their name is their value).
    const std::pair<PTP::Prop, QString> pickers[] = {{PTP::Prop::whiteBalance, "白バランス"},
                                                     {PTP::Prop::compressionSetting, "画質"}};
    for (const auto& [prop, caption] : pickers) {
        const auto labels = of(window.inspector()->picker(prop))->relations(QAccessible::Label);
        ASSERT_EQ(labels.size(), 1) << caption.toStdString();
        EXPECT_EQ(labels.front().first->text(QAccessible::Name), caption);
    }
    // A cell says its file, when it was taken and whether the preview shows it (newest first).
    QAccessibleTableInterface* strip = of(window.filmstrip()->view())->tableInterface();
    ASSERT_EQ(strip->rowCount(), 2);
    for (int row = 0; row < 2; ++row) {
        const Shot& shot = h.model->shots().list()[std::size_t(row)];
        EXPECT_EQ(strip->cellAt(row, 0)->text(QAccessible::Name),
                  QFileInfo(shot.path).fileName() + "、" + CardTexts::dateTime(shot.meta.captured) + " 撮影");
        EXPECT_EQ(strip->cellAt(row, 0)->text(QAccessible::Description),
                  shot.meta.summary() + (row == 0 ? "、表示中" : ""));
    }
}

TEST_F(AccessibilityTest, tabRunsFromThePictureToTheStripDownTheInspectorToTheShutter) {
    // The window opens with the keyboard on the strip, where the arrows work at once.
    EXPECT_EQ(QApplication::focusWidget(), window.filmstrip()->view());
    ASSERT_TRUE(shoot(1));
    QStringList expected{describe(window.preview()), describe(window.filmstrip()->view())};
    for (const PTP::Prop prop : ExposureLayout::adjustable(h.model->settings().props()))
        if (ui::ScrubberControl* dial = window.inspector()->scrubber(prop); dial->isEnabled())
            expected << describe(dial);
    expected << describe(window.inspector()->shutter());

    window.preview()->setFocus(Qt::TabFocusReason);
    QStringList reached{describe(QApplication::focusWidget())};
    while (reached.size() < expected.size()) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        reached << describe(QApplication::focusWidget());
    }
    EXPECT_EQ(reached, expected);
}

}  // namespace
}  // namespace pexil::shell
