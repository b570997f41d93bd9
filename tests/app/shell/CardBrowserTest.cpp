// The card browser in the main window on the demo's wiring: a virtual Nikon with a card of
// pictures through the real camera service, the session model on the virtual clock, the
// window offscreen.
#include "ShellHarness.h"

#include "app/card/CardModel.h"
#include "app/shell/card/CardActionBar.h"
#include "app/shell/card/CardBrowser.h"
#include "app/shell/card/CardGridLayout.h"
#include "app/shell/card/CardGridView.h"
#include "app/shell/card/CardInfoRow.h"
#include "app/shell/card/CardLoadingView.h"
#include "app/shell/card/CardPreviewView.h"
#include "app/shell/card/CardSpinner.h"
#include "app/shell/card/CardTexts.h"
#include "app/shell/main/Filmstrip.h"
#include "app/shell/main/MainWindow.h"
#include "app/shell/main/SourceToggle.h"
#include "app/shots/XmpSidecar.h"
#include "ui/components/ElidedLabel.h"
#include "ui/components/GlassButton.h"
#include "ui/components/SegmentedControl.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

constexpr std::uint16_t kGeneralError = 0x2002;

// --- the rules, without a window ---

TEST(CardGridLayoutTest, adaptiveColumnsBetween150And230) {
    struct Case {
        int width, columns, columnWidth;
    };
    // Available width = width − 2 × 16; columns of at least 150, 10 apart, grown up to 230.
    for (const Case c : {Case{100, 1, 150}, Case{182, 1, 150}, Case{341, 1, 230}, Case{342, 2, 150},
                         Case{400, 2, 179}, Case{700, 4, 159}, Case{2000, 12, 154}}) {
        const auto l = CardGridLayout::make(c.width, 10);
        EXPECT_EQ(l.columns, c.columns) << c.width;
        EXPECT_EQ(l.columnWidth, c.columnWidth) << c.width;
        EXPECT_GE(l.columnWidth, CardGridLayout::minColumn);
        EXPECT_LE(l.columnWidth, CardGridLayout::maxColumn);
    }
    // One picture on a wide window: capped at 230 and the rest left around it.
    const auto single = CardGridLayout::make(300, 1);
    EXPECT_EQ(single.columnWidth, 230);
    EXPECT_EQ(single.left, 16 + (268 - 230) / 2);
}

TEST(CardGridLayoutTest, cellsAreThreeToTwoAndHitTestingMatchesTheRectangles) {
    const auto l = CardGridLayout::make(698, 23);  // 4 columns of 159 fill it exactly
    const QRect first = l.cellRect(0);
    EXPECT_EQ(first.topLeft(), QPoint(16, 16));
    const QRect image = CardGridLayout::imageRect(first);
    EXPECT_EQ(image.width(), first.width() - 10);
    EXPECT_NEAR(double(image.width()) / image.height(), 1.5, 0.02);
    EXPECT_EQ(l.cellRect(1).left() - first.right() - 1, 10);
    EXPECT_EQ(l.cellRect(l.columns).top() - first.bottom() - 1, 14);
    EXPECT_EQ(l.contentHeight(), l.cellRect(22).bottom() + 1 + 16);
    for (int i = 0; i < 23; ++i) EXPECT_EQ(l.indexAt(l.cellRect(i).center()), i);
    EXPECT_EQ(l.indexAt({5, 5}), -1);                                    // padding
    EXPECT_EQ(l.indexAt({first.right() + 5, first.center().y()}), -1);   // between columns
    EXPECT_EQ(l.indexAt({first.center().x(), first.bottom() + 7}), -1);  // between rows
    EXPECT_EQ(l.indexAt(l.cellRect(22).center() + QPoint(l.columnWidth + 10, 0)),
              -1);  // past the end
}

TEST(CardGridLayoutTest, visibleRangeIsTheRowsTheBandTouches) {
    const auto l = CardGridLayout::make(700, 40);  // 4 columns, 10 rows
    const int pitch = l.cellHeight() + 14;
    struct Case {
        int top, height, first, last;
    };
    for (const Case c :
         {Case{0, 10, 0, 0},                        // only the padding
          Case{0, 17, 0, 4},                        // the first pixel of row 0
          Case{16 + l.cellHeight(), 14, 4, 4},      // the gap below row 0
          Case{16 + l.cellHeight() - 1, 16, 0, 8},  // the last pixel of row 0 and row 1
          Case{16 + 3 * pitch, pitch, 12, 16},      // exactly row 3
          Case{0, 100000, 0, 40}}) {
        EXPECT_EQ(l.visibleRange(c.top, c.height), std::make_pair(c.first, c.last))
            << c.top << "+" << c.height;
    }
}

TEST(CardTextsTest, statusLineFirstMatchingCase) {
    const QString summary = QStringLiteral("2 枚を取り込みました");
    struct Case {
        std::optional<ImportPhase> phase;
        std::optional<QString> summary;
        bool loading;
        std::size_t items;
        std::optional<int> expected;
        QString text;
    };
    for (const Case& c : {
             Case{ImportPhase::downloading(2, 5), summary, true, 9, 20,
                  QStringLiteral("取り込み中 2 / 5")},
             Case{ImportPhase::geotagging(3),
                  summary,
                  false,
                  9,
                  {},
                  QStringLiteral("位置を書き込み中（3 枚）")},
             Case{{}, summary, true, 9, 20, summary},
             Case{{}, {}, true, 9, {}, QStringLiteral("カードを読み込み中 9 件")},
             Case{{}, {}, true, 9, 120, QStringLiteral("カードを読み込み中 9 / 120 件")},
             Case{{}, {}, false, 9, 9, QStringLiteral("9 枚・未取り込み 4 枚")},
         })
        EXPECT_EQ(CardTexts::statusText(c.phase, c.summary, c.loading, c.items, c.expected, 4),
                  c.text);
}

TEST(CardTextsTest, labelsAndHelp) {
    EXPECT_EQ(CardTexts::cardLabel(true, 0), QStringLiteral("カード 読込中"));
    EXPECT_EQ(CardTexts::cardLabel(true, 12), QStringLiteral("カード 12"));
    EXPECT_EQ(CardTexts::cardLabel(false, 0), QStringLiteral("カード 0"));
    EXPECT_EQ(CardLoadingView::countText(12, std::nullopt), QStringLiteral("12"));
    EXPECT_EQ(CardLoadingView::countText(12, 300), QStringLiteral("12 / 300"));
    const QDateTime when(QDate(2026, 3, 4), QTime(9, 5, 7));
    EXPECT_EQ(CardTexts::dateTime(when), QStringLiteral("2026年3月4日 9:05:07"));
    EXPECT_EQ(CardTexts::dateTime(std::nullopt), QString());
    EXPECT_EQ(CardTexts::geoHelp(QStringLiteral("Aya の iPhone"), when, 12, 340),
              QStringLiteral("Aya の iPhone から 2026年3月4日 9:05 に受け取った記録（正確な位置 12 "
                             "件・軌跡 340 点）"));
    // No name from the phone, and no time: the defaults.
    for (const auto& sender : {std::optional<QString>(), std::optional<QString>(QString())})
        EXPECT_EQ(CardTexts::geoHelp(sender, std::nullopt, 0, 1),
                  QStringLiteral("iPhone から  に受け取った記録（正確な位置 0 件・軌跡 1 点）"));
    EXPECT_EQ(CardTexts::geoText(false, 0),
              QStringLiteral(
                  "位置情報なし。iPhone の Pexil から PC へ送ると、取り込むときに書き込めます"));
    EXPECT_EQ(CardTexts::geoText(true, 7), QStringLiteral("位置あり 7 枚"));
    EXPECT_EQ(CardTexts::fileSize(24'500'000), QStringLiteral("24.5 MB"));
}

// --- the window ---

class CardBrowserTest : public ::testing::Test {
protected:
    explicit CardBrowserTest(int photos = 24) : h(photos), window(*h.model) {
        window.show();
        QApplication::setActiveWindow(&window);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    ~CardBrowserTest() override {
        if (HasFailure())
            window.grab().save(
                QStringLiteral("CardBrowserTest-%1.png")
                    .arg(QString::fromUtf8(
                        ::testing::UnitTest::GetInstance()->current_test_info()->name())));
    }

    CardModel& card() { return h.model->card(); }
    CardBrowser* browser() { return window.cardBrowser(); }
    CardGridView* grid() { return browser()->grid(); }
    CardActionBar* bar() { return window.cardActionBar(); }

    // Connected, the card listed, and the card source chosen with the switch.
    void openCard(std::size_t photos) {
        ASSERT_TRUE(h.connectAndWait());
        ASSERT_TRUE(h.until([&] { return !card().loading() && card().items().size() == photos; }));
        // The action bar is hidden until the card is shown: the filmstrip's switch.
        QTest::mouseClick(window.filmstrip()->sourceToggle()->control()->segment(1),
                          Qt::LeftButton);
        ASSERT_TRUE(card().active());
        ASSERT_TRUE(window.showsCard());
        QApplication::sendPostedEvents();
    }
    void click(int index, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::mouseClick(grid()->viewport(), Qt::LeftButton, modifiers,
                          grid()->visualRect(index).center());
    }
    QString idAt(int index) { return card().items()[static_cast<std::size_t>(index)].id; }
    std::set<QString> ids(const std::vector<int>& rows) {
        std::set<QString> out;
        for (int r : rows) out.insert(idAt(r));
        return out;
    }
    QSet<QString> idsIn(std::pair<int, int> range) {
        QSet<QString> out;
        for (int i = range.first; i < range.second; ++i) out.insert(idAt(i));
        return out;
    }
    QSet<QString> queued() {
        QSet<QString> out;
        for (const QString& id : card().thumbnailQueue()) out.insert(id);
        return out;
    }
    QSet<QString> fetched() {
        QSet<QString> out;
        for (const QString& id : card().thumbnailRequested()) out.insert(id);
        return out;
    }

    ShellHarness h;
    MainWindow window;
};

TEST_F(CardBrowserTest, sourceSwitchNeedsTheCameraAndShowsTheCard) {
    for (SourceToggle* toggle : {bar()->sourceToggle(), window.filmstrip()->sourceToggle()}) {
        EXPECT_FALSE(toggle->isEnabled());
        EXPECT_EQ(toggle->tetherText(), QStringLiteral("テザー 0"));
    }
    EXPECT_FALSE(window.showsCard());
    openCard(24);
    for (SourceToggle* toggle : {bar()->sourceToggle(), window.filmstrip()->sourceToggle()}) {
        EXPECT_TRUE(toggle->isEnabled());
        EXPECT_EQ(toggle->cardText(), QStringLiteral("カード 24"));
        EXPECT_EQ(toggle->control()->currentIndex(), 1);
    }
    EXPECT_EQ(browser()->page(), CardBrowser::Page::grid);
    EXPECT_TRUE(bar()->isVisibleTo(&window));
    EXPECT_EQ(bar()->height(), CardActionBar::barHeight);
    EXPECT_EQ(window.cardInfoRow()->shownTexts(), QStringList{CardTexts::hint()});
    EXPECT_EQ(bar()->statusText(), QStringLiteral("24 枚・未取り込み 24 枚"));
    EXPECT_EQ(bar()->geoText(), CardTexts::geoText(false, 0));
    EXPECT_FALSE(bar()->writeLocationsBox()->isVisibleTo(&window));

    // Back to the shots with the switch in the action bar.
    QTest::mouseClick(bar()->sourceToggle()->control()->segment(0), Qt::LeftButton);
    EXPECT_FALSE(card().active());
    EXPECT_FALSE(window.showsCard());
}

// A camera that is gone leaves no card to show: the browser says so, and does not claim an
// empty card nor keep loading.
TEST_F(CardBrowserTest, withTheCameraGoneTheBrowserSaysSoInsteadOfAnEmptyCard) {
    openCard(24);
    h.unplug();
    ASSERT_TRUE(h.until([&] {
        return !h.model->connection().state().is(ConnectionState::Kind::connected) &&
               card().items().empty();
    }));
    QApplication::sendPostedEvents();
    EXPECT_FALSE(card().loading());
    EXPECT_EQ(browser()->page(), CardBrowser::Page::empty);
    EXPECT_EQ(browser()->emptyText(), CardTexts::noCamera());
    EXPECT_EQ(window.filmstrip()->sourceToggle()->cardText(), QStringLiteral("カード 0"));
}

// At the smallest sizes a photographer uses, every button shows its whole text and the geo
// advice keeps a readable width.
TEST_F(CardBrowserTest, theActionBarFitsAtTheSmallSizes) {
    openCard(24);
    for (const QSize size : {QSize(1024, 700), window.minimumSize()}) {
        window.resize(size);
        QApplication::sendPostedEvents();
        QApplication::processEvents();
        if (qEnvironmentVariableIsSet("PEXIL_GRAB"))
            window.grab().save(qEnvironmentVariable("PEXIL_GRAB") + QStringLiteral("-%1.png").arg(size.width()));
        for (QPushButton* button : bar()->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(bar())) continue;
            EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString() << " at " << size.width();
        }
        EXPECT_GE(bar()->geoLabel()->width(), 160) << size.width();
        // Cut texts show whole in the tool tip.
        if (bar()->geoLabel()->isElided()) {
            EXPECT_EQ(bar()->geoLabel()->toolTip(), bar()->geoText());
        }
    }
}

TEST_F(CardBrowserTest, onlyCellsInViewAskForThumbnailsAndThoseScrolledAwayAreWithdrawn) {
    window.resize(MainWindow::minimumContent);
    openCard(24);
    const auto firstScreen = grid()->visibleRange();
    ASSERT_EQ(firstScreen.first, 0);
    ASSERT_LT(firstScreen.second, 24) << "the test needs a card longer than the window";
    const QSet<QString> firstIds = idsIn(firstScreen);
    ASSERT_TRUE(h.until(
        [&] { return card().thumbnailQueue().empty() && !card().thumbnailWorkerRunning(); }));
    EXPECT_EQ(fetched(), firstIds);
    for (const QString& id : firstIds)
        EXPECT_FALSE(card().item(id)->thumbnail.isNull()) << id.toStdString();

    // Half way, then to the end before the camera could answer: the middle is withdrawn.
    QScrollBar* bar = grid()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const QSet<QString> middle = idsIn(grid()->visibleRange()) - firstIds;
    ASSERT_FALSE(middle.isEmpty());
    EXPECT_EQ(queued() + (fetched() - firstIds), middle);
    const QSet<QString> fetchedInMiddle = fetched() - firstIds;  // taken by the worker already
    bar->setValue(bar->maximum());
    const QSet<QString> last = idsIn(grid()->visibleRange());
    QSet<QString> lacking;  // in view without a thumbnail
    for (const QString& id : last)
        if (card().item(id)->thumbnail.isNull()) lacking.insert(id);
    EXPECT_TRUE((queued() - last).isEmpty()) << "only what is in view waits";
    ASSERT_FALSE((middle - last).isEmpty()) << "the test needs a middle that scrolls away";
    EXPECT_TRUE((queued() & (middle - last)).isEmpty()) << "what scrolled away was withdrawn";
    EXPECT_TRUE((lacking - queued() - fetched()).isEmpty()) << "everything in view was asked for";
    EXPECT_EQ(grid()->requested(), lacking);

    ASSERT_TRUE(h.until(
        [&] { return card().thumbnailQueue().empty() && !card().thumbnailWorkerRunning(); }));
    for (const QString& id : last)
        EXPECT_FALSE(card().item(id)->thumbnail.isNull()) << id.toStdString();
    // Never asked for: what only flashed by in the middle.
    EXPECT_EQ(fetched(), firstIds + last + fetchedInMiddle);

    // The cell's help is its date; over the imported badge none yet (nothing imported).
    const int lastIndex = 23;
    const CardItem& item = card().items().back();
    EXPECT_EQ(grid()->toolTipAt(grid()->visualRect(lastIndex).center()),
              CardTexts::dateTime(item.captured));
    EXPECT_FALSE(CardTexts::dateTime(item.captured).isEmpty());
}

TEST_F(CardBrowserTest, clicksSelectWithCtrlAndShiftAndTheInfoRowFollows) {
    openCard(24);
    struct Step {
        int row;
        Qt::KeyboardModifiers modifiers;
        std::vector<int> selected;
    };
    const std::vector<Step> steps{
        {0, Qt::NoModifier, {0}},
        {2, Qt::ControlModifier, {0, 2}},
        {5, Qt::ShiftModifier, {2, 3, 4, 5}},  // from the anchor, the Ctrl-clicked one
        {3, Qt::ControlModifier, {2, 4, 5}},
        {1, Qt::ShiftModifier, {1, 2, 3}},                     // the anchor moved to 3
        {1, Qt::ControlModifier | Qt::ShiftModifier, {2, 3}},  // Ctrl wins
        {4, Qt::NoModifier, {4}},
    };
    for (const Step& s : steps) {
        click(s.row, s.modifiers);
        EXPECT_EQ(card().selection(), ids(s.selected)) << "after a click on " << s.row;
    }
    const CardItem& one = card().items()[4];
    const QStringList texts = window.cardInfoRow()->shownTexts();
    ASSERT_GE(texts.size(), 3);
    EXPECT_EQ(texts[0], one.name);
    EXPECT_EQ(texts[1], CardTexts::dateTime(one.captured));
    EXPECT_EQ(texts[2], CardTexts::fileSize(one.size));
    EXPECT_EQ(bar()->importSelectedButton()->text(), QStringLiteral("選んだ 1 枚を取り込む"));
    click(6, Qt::ShiftModifier);
    EXPECT_EQ(window.cardInfoRow()->shownTexts(), QStringList{QStringLiteral("3 枚を選択中")});
    EXPECT_EQ(bar()->importSelectedButton()->text(), QStringLiteral("選んだ 3 枚を取り込む"));
    EXPECT_TRUE(bar()->importSelectedButton()->isEnabled());
}

TEST_F(CardBrowserTest, theKeyboardMovesSelectsExtendsAndOpensInTheGrid) {
    openCard(24);
    window.resize(1024, 700);
    QApplication::sendPostedEvents();
    ASSERT_TRUE(grid()->hasFocus()) << "the grid takes the keyboard when the card is shown";
    const int columns = grid()->gridLayout().columns;
    ASSERT_GE(columns, 2);
    struct Step {
        QKeyCombination key;
        int current;
        std::vector<int> selected;
    };
    const std::vector<Step> steps{
        {Qt::Key_Right, 1, {1}},
        {Qt::Key_Down, 1 + columns, {1 + columns}},
        {QKeyCombination(Qt::ShiftModifier, Qt::Key_Left), columns, {columns, 1 + columns}},
        {QKeyCombination(Qt::ShiftModifier, Qt::Key_Left), columns - 1, {columns - 1, columns, 1 + columns}},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_Home), 0, {columns - 1, columns, 1 + columns}},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_Space), 0, {0, columns - 1, columns, 1 + columns}},
        {Qt::Key_Up, 0, {0}},  // the first row stops there
        {Qt::Key_End, 23, {23}},
        {Qt::Key_Right, 23, {23}},
        {QKeyCombination(Qt::ControlModifier, Qt::Key_A), 23, {}},  // all, checked below
        {Qt::Key_Escape, 23, {}},
    };
    for (const Step& s : steps) {
        QTest::keyClick(grid(), s.key.key(), s.key.keyboardModifiers());
        EXPECT_EQ(grid()->currentIndex(), s.current) << QKeySequence(s.key).toString().toStdString();
        if (s.key == QKeyCombination(Qt::ControlModifier, Qt::Key_A))
            EXPECT_EQ(card().selection().size(), 24u);
        else
            EXPECT_EQ(card().selection(), ids(s.selected)) << QKeySequence(s.key).toString().toStdString();
    }
    // The current cell is scrolled into view, and Enter opens it; Esc comes back to it.
    EXPECT_TRUE(grid()->viewport()->rect().intersects(grid()->visualRect(23)));
    QTest::keyClick(grid(), Qt::Key_Home);
    QTest::keyClick(grid(), Qt::Key_Right);
    QTest::keyClick(grid(), Qt::Key_Return);
    ASSERT_EQ(browser()->page(), CardBrowser::Page::large);
    EXPECT_EQ(card().focus(), idAt(1));
    EXPECT_TRUE(browser()->large()->hasFocus());
    QTest::keyClick(browser()->large(), Qt::Key_Right);
    QTest::keyClick(browser()->large(), Qt::Key_Escape);
    ASSERT_EQ(browser()->page(), CardBrowser::Page::grid);
    EXPECT_TRUE(grid()->hasFocus());
    EXPECT_EQ(grid()->currentIndex(), 2);
    // Space is the grid's own there, never the shutter.
    const std::size_t shots = h.model->shots().list().size();
    QTest::keyClick(grid(), Qt::Key_Space);
    EXPECT_EQ(card().selection(), ids({2}));
    EXPECT_EQ(h.model->shots().list().size(), shots);
    // Back to the tether view by the menu's key, and the filmstrip has the keyboard.
    QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(window.showsCard());
    QTest::keyClick(&window, Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(window.showsCard());
    EXPECT_TRUE(grid()->hasFocus());
}

// Chosen and imported without the mouse; when the button goes grey the keyboard comes back
// to the grid rather than passing on to the exposure dials.
TEST_F(CardBrowserTest, theKeyboardImportsTheChosenPicturesAndComesBackToTheGrid) {
    openCard(24);
    ASSERT_TRUE(grid()->hasFocus());
    QTest::keyClick(grid(), Qt::Key_Right, Qt::ShiftModifier);
    ASSERT_EQ(card().selection(), ids({0, 1}));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), bar()->importSelectedButton());
    QTest::keyClick(bar()->importSelectedButton(), Qt::Key_Space);
    ASSERT_TRUE(h.until([&] { return card().lastSummary().has_value(); }));
    EXPECT_EQ(*card().lastSummary(), QStringLiteral("2 枚を取り込みました"));
    EXPECT_FALSE(bar()->importSelectedButton()->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), grid());
}

// In the large view the marking keys act on the copy this run imported, as in the
// filmstrip; a picture only on the card takes none.
TEST_F(CardBrowserTest, theLargeViewMarksAPictureOnceItIsImported) {
    openCard(24);
    card().open(idAt(1));
    QWidget* large = browser()->large();
    ASSERT_TRUE(h.until([&] { return large->isVisible(); }));
    QTest::keyClick(large, Qt::Key_3);
    EXPECT_EQ(card().markOf(idAt(1)), ShotMark{});
    EXPECT_FALSE(card().importedPath(idAt(1)));

    card().select({idAt(1)});
    card().importSelected();
    ASSERT_TRUE(h.until([&] { return card().lastSummary().has_value(); }));
    const auto path = card().importedPath(idAt(1));
    ASSERT_TRUE(path);
    QTest::keyClick(large, Qt::Key_3);
    QTest::keyClick(large, Qt::Key_P);
    EXPECT_EQ(card().markOf(idAt(1)), (ShotMark{3, true}));
    EXPECT_TRUE(window.cardInfoRow()->shownTexts().contains(QStringLiteral("星 3、ピック")))
        << window.cardInfoRow()->shownTexts().join(u'|').toStdString();
    ASSERT_TRUE(h.until([&] { return XmpSidecar::read(*path) == ShotMark{3, true}; }));
    QTest::keyClick(large, Qt::Key_X);
    ASSERT_TRUE(h.until([&] { return XmpSidecar::read(*path) == ShotMark{-1, false}; }));
}

TEST_F(CardBrowserTest, aScreenReaderSeesTheCellsWithTheirNamesStatesAndTheKeyboardsCell) {
    openCard(24);
    window.resize(1024, 700);
    QApplication::sendPostedEvents();
    ASSERT_LT(grid()->visibleRange().second, 24) << "the last cells are scrolled away";
    card().click(idAt(3));
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(grid());
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), QStringLiteral("カードの写真"));
    ASSERT_EQ(list->childCount(), 24);
    for (int i : {0, 3, 23}) {
        QAccessibleInterface* cell = list->child(i);
        ASSERT_NE(cell, nullptr) << i;
        const CardItem& item = card().items()[static_cast<std::size_t>(i)];
        EXPECT_EQ(cell->role(), QAccessible::ListItem);
        EXPECT_EQ(cell->text(QAccessible::Name), item.name);
        EXPECT_EQ(cell->parent(), list);
        EXPECT_EQ(list->indexOfChild(cell), i);
        EXPECT_EQ(cell->state().selected, i == 3) << i;
        const QString description = cell->text(QAccessible::Description);
        EXPECT_TRUE(description.contains(CardTexts::dateTime(item.captured))) << description.toStdString();
        EXPECT_TRUE(description.contains(item.imported ? QStringLiteral("取り込み済み") : QStringLiteral("未取り込み")));
        // Hit testing agrees with the painted cell.
        if (cell->state().offscreen) continue;
        EXPECT_EQ(list->childAt(cell->rect().center().x(), cell->rect().center().y()), cell) << i;
    }
    EXPECT_TRUE(list->child(23)->state().offscreen);
    // The keyboard's cell is the focused child.
    grid()->setFocus();
    QTest::keyClick(grid(), Qt::Key_Right);
    ASSERT_NE(list->focusChild(), nullptr);
    EXPECT_EQ(list->focusChild()->text(QAccessible::Name), card().items()[1].name);
    EXPECT_TRUE(list->focusChild()->state().focused);
}

TEST_F(CardBrowserTest, largeViewStepsWithArrowsShowsChevronsWhereThereIsMoreAndEscapeReturns) {
    openCard(24);
    QTest::mouseDClick(grid()->viewport(), Qt::LeftButton, Qt::NoModifier,
                       grid()->visualRect(0).center());
    ASSERT_EQ(browser()->page(), CardBrowser::Page::large);
    CardPreviewView* large = browser()->large();
    EXPECT_EQ(card().focus(), idAt(0));
    EXPECT_TRUE(large->hasFocus());
    EXPECT_EQ(large->closeButton()->toolTip(), QStringLiteral("一覧へ戻る（Esc）"));
    // Described in the row: the picture shown large.
    EXPECT_EQ(window.cardInfoRow()->described(), idAt(0));

    struct Step {
        Qt::Key key;
        int focus;
        bool previous, next;
    };
    // The first picture: only "next". Stepping past either end does nothing.
    EXPECT_FALSE(large->previousButton()->isVisibleTo(large));
    EXPECT_TRUE(large->nextButton()->isVisibleTo(large));
    for (const Step& s : {Step{Qt::Key_Left, 0, false, true}, Step{Qt::Key_Right, 1, true, true},
                          Step{Qt::Key_Right, 2, true, true}, Step{Qt::Key_Left, 1, true, true}}) {
        QTest::keyClick(large, s.key);
        EXPECT_EQ(card().focus(), idAt(s.focus));
        EXPECT_EQ(large->previousButton()->isVisibleTo(large), s.previous) << s.focus;
        EXPECT_EQ(large->nextButton()->isVisibleTo(large), s.next) << s.focus;
    }
    EXPECT_EQ(card().selection(), ids({1}));
    // The picture arrives: drawn fitted, the spinner gone.
    ASSERT_TRUE(h.until([&] { return !card().preview().isNull(); }));
    EXPECT_FALSE(large->spinner()->isVisibleTo(large));
    EXPECT_TRUE(large->rect().contains(large->imageRect()));
    EXPECT_FALSE(large->imageRect().isEmpty());

    // The last picture: only "previous"; the chevron steps back.
    card().open(idAt(23));
    EXPECT_TRUE(large->previousButton()->isVisibleTo(large));
    EXPECT_FALSE(large->nextButton()->isVisibleTo(large));
    QTest::keyClick(large, Qt::Key_Right);
    EXPECT_EQ(card().focus(), idAt(23));
    QTest::mouseClick(large->previousButton(), Qt::LeftButton);
    EXPECT_EQ(card().focus(), idAt(22));

    QTest::keyClick(large, Qt::Key_Escape);
    EXPECT_EQ(browser()->page(), CardBrowser::Page::grid);
    EXPECT_FALSE(card().focus());
    EXPECT_TRUE(card().preview().isNull());
    EXPECT_EQ(card().selection(), ids({22}));
}

TEST_F(CardBrowserTest, actionBarBeforeDuringAndAfterAnImportWithOneFailure) {
    openCard(24);
    // The three oldest, the middle one unreadable on the card.
    grid()->scrollToIndex(23);
    click(23);
    click(21, Qt::ShiftModifier);
    const QString failing = card().items()[22].name;
    h.vcam->failObject(failing, kGeneralError);
    QPushButton* selected = bar()->importSelectedButton();
    QPushButton* all = bar()->importAllButton();
    EXPECT_EQ(selected->text(), QStringLiteral("選んだ 3 枚を取り込む"));
    EXPECT_EQ(all->text(), QStringLiteral("未取り込みをすべて取り込む（24）"));
    EXPECT_TRUE(selected->isEnabled());
    EXPECT_TRUE(all->isEnabled());
    EXPECT_EQ(all->toolTip(), QString());

    struct Seen {
        CardActionBar::Status status;
        QString text;
        int progress;
        bool selectedEnabled, allEnabled;
        bool importButtonsShown, cancelShown;
    };
    std::vector<Seen> seen;
    QObject::connect(&card(), &CardModel::importPhaseChanged, bar(), [&] {
        seen.push_back(
            {bar()->status(), bar()->statusText(),
             bar()->progressBar()->isVisibleTo(bar()) ? bar()->progressBar()->value() : -1,
             selected->isEnabled(), all->isEnabled(),
             selected->isVisibleTo(bar()) || all->isVisibleTo(bar()), bar()->cancelButton()->isVisibleTo(bar())});
    });
    QTest::mouseClick(selected, Qt::LeftButton);
    ASSERT_TRUE(h.until([&] { return card().lastSummary().has_value(); }, 600));

    using S = CardActionBar::Status;
    ASSERT_EQ(seen.size(), 5u);
    for (std::size_t k = 0; k <= 3; ++k) {
        EXPECT_EQ(seen[k].status, S::downloading);
        EXPECT_EQ(seen[k].text, QStringLiteral("取り込み中 %1 / 3").arg(k));
        EXPECT_EQ(seen[k].progress, int(k));
        EXPECT_FALSE(seen[k].selectedEnabled);
        EXPECT_FALSE(seen[k].allEnabled);
        // Progress and 中止 in their place, so the count beside them has room.
        EXPECT_FALSE(seen[k].importButtonsShown);
        EXPECT_TRUE(seen[k].cancelShown);
    }
    const QString summary =
        QStringLiteral("2 枚を取り込みました。1 枚は取り込めませんでした（%1）").arg(failing);
    // The phase ends just before the summary is set, in the same turn: nothing is painted
    // in between.
    EXPECT_EQ(seen[4].status, S::counts);
    EXPECT_EQ(bar()->status(), S::summary);
    EXPECT_EQ(bar()->statusText(), summary);
    EXPECT_TRUE(bar()->summaryMark()->isVisibleTo(bar()));
    // A picture was left behind: a warning, not a mark of success.
    EXPECT_EQ(bar()->summaryMark()->accessibleName(), QStringLiteral("一部失敗"));
    EXPECT_FALSE(bar()->progressBar()->isVisibleTo(bar()));
    // The failed one is still selected and still to import; the other two are marked.
    EXPECT_EQ(selected->text(), QStringLiteral("選んだ 1 枚を取り込む"));
    EXPECT_TRUE(selected->isEnabled());
    EXPECT_TRUE(selected->isVisibleTo(bar()) && all->isVisibleTo(bar()));
    EXPECT_EQ(all->text(), QStringLiteral("未取り込みをすべて取り込む（22）"));
    EXPECT_TRUE(card().items()[21].imported);
    EXPECT_FALSE(card().items()[22].imported);
    EXPECT_EQ(grid()->toolTipAt(
                  CardGridLayout::importedBadge(CardGridLayout::imageRect(grid()->visualRect(21)))
                      .center()),
              QStringLiteral("取り込み済み"));
    EXPECT_EQ(window.cardInfoRow()->shownTexts(), QStringList{QStringLiteral("3 枚を選択中")});
    click(21);
    EXPECT_TRUE(window.cardInfoRow()->shownTexts().contains(QStringLiteral("取り込み済み")));
}

class EmptyCardTest : public CardBrowserTest {
protected:
    EmptyCardTest() : CardBrowserTest(0) {}
};

TEST_F(EmptyCardTest, anEmptyCardSaysSoAndOffersNothingToImport) {
    openCard(0);
    EXPECT_EQ(browser()->page(), CardBrowser::Page::empty);
    const QList<QLabel*> labels = browser()->emptyView()->findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [](QLabel* l) {
        return l->text() == QStringLiteral("カードに写真がありません");
    }));
    EXPECT_EQ(bar()->sourceToggle()->cardText(), QStringLiteral("カード 0"));
    EXPECT_EQ(bar()->statusText(), QStringLiteral("0 枚・未取り込み 0 枚"));
    EXPECT_FALSE(bar()->importAllButton()->isEnabled());
    EXPECT_FALSE(bar()->importSelectedButton()->isEnabled());
    EXPECT_EQ(bar()->importAllButton()->text(), QStringLiteral("未取り込みをすべて取り込む（0）"));
    EXPECT_FALSE(bar()->importAllButton()->isVisibleTo(bar())) << "nothing to offer on an empty card";
}

}  // namespace
}  // namespace pexil::shell
