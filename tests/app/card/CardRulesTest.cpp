// The card model's pure rules: the list order and the import summary.
#include "app/card/CardModel.h"

#include <gtest/gtest.h>

namespace pexil {
namespace {

QDateTime at(int minute) {
    return QDateTime(QDate(2024, 5, 1), QTime(10, minute), Qt::UTC);
}

CardItem item(const char* id, std::optional<QDateTime> captured) {
    CardItem out;
    out.id = QString::fromUtf8(id);
    out.captured = std::move(captured);
    return out;
}

QStringList idsOf(const CardItems& items) {
    QStringList out;
    for (const CardItem& i : items) out << i.id;
    return out;
}

TEST(CardRules, SortIsNewestFirstByDateThenId) {
    struct Case {
        const char* what;
        CardItems items;
        QStringList expected;
    };
    const std::vector<Case> cases = {
        {"newest first",
         {item("A/1", at(1)), item("A/3", at(3)), item("A/2", at(2))},
         {"A/3", "A/2", "A/1"}},
        {"equal dates: greater id first",
         {item("100/DSC_0001.JPG", at(5)), item("101/DSC_0001.JPG", at(5)),
          item("100/DSC_0002.NEF", at(5))},
         {"101/DSC_0001.JPG", "100/DSC_0002.NEF", "100/DSC_0001.JPG"}},
        {"undated counts as the most distant past",
         {item("A/none", std::nullopt), item("A/old", at(0)), item("A/new", at(9))},
         {"A/new", "A/old", "A/none"}},
        {"undated among themselves by id",
         {item("A/a", std::nullopt), item("A/c", std::nullopt), item("A/b", std::nullopt)},
         {"A/c", "A/b", "A/a"}},
    };
    for (Case c : cases) {
        CardModel::sortNewestFirst(c.items);
        EXPECT_EQ(idsOf(c.items), c.expected) << c.what;
    }
}

TEST(CardRules, SummaryTexts) {
    struct Case {
        int saved;
        std::optional<int> written;
        QStringList failed;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {3, std::nullopt, {}, "3 枚を取り込みました"},
        {2, 1, {}, "2 枚を取り込みました（位置を書き込んだのは 1 枚）"},
        {2, 0, {}, "2 枚を取り込みました（位置を書き込んだのは 0 枚）"},
        {2,
         std::nullopt,
         {"DSC_0002.NEF"},
         "2 枚を取り込みました。1 枚は取り込めませんでした（DSC_0002.NEF）"},
        {1,
         1,
         {"A.JPG", "B.NEF"},
         "1 枚を取り込みました（位置を書き込んだのは 1 枚）。2 枚は取り込めませんでした（A.JPG, "
         "B.NEF）"},
        {0,
         std::nullopt,
         {"A", "B", "C", "D", "E"},
         "0 枚を取り込みました。5 枚は取り込めませんでした（A, B, C）"},
        // A name that looks like a placeholder is shown as it is.
        {0,
         std::nullopt,
         {"%1%2.JPG"},
         "0 枚を取り込みました。1 枚は取り込めませんでした（%1%2.JPG）"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CardModel::summary(c.saved, c.written, c.failed), QString::fromUtf8(c.expected))
            << c.expected;
}

}  // namespace
}  // namespace pexil
