#pragma once

#include <QButtonGroup>
#include <QWidget>

class QHBoxLayout;

namespace pexil::ui {

// A row of mutually exclusive segments on a rounded backing; the chosen one sits on an amber
// pill. Segments are checkable buttons of one exclusive QButtonGroup; they take no keyboard
// focus. currentIndexChanged() fires on every change, activated() only when the user picks.
//
// Screen readers meet a group (named by its owner with setAccessibleName) whose description
// is the chosen segment's text, holding the segments as radio buttons.
class SegmentedControl final : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int currentIndex READ currentIndex WRITE setCurrentIndex NOTIFY currentIndexChanged)
public:
    explicit SegmentedControl(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(SegmentedControl)

    // Appends a segment showing `text` (and `icon` before it, if given); returns its index.
    int addSegment(const QString& text, const QIcon& icon = {}, const QString& toolTip = {});
    void setSegmentText(int index, const QString& text);
    QString segmentText(int index) const;
    int count() const;

    // -1: none chosen. Out-of-range indices choose none.
    int currentIndex() const { return group_.checkedId(); }
    void setCurrentIndex(int index);

    // The segment button at `index` (for tests and tool tips); null when out of range.
    QAbstractButton* segment(int index) const { return group_.button(index); }

signals:
    void currentIndexChanged(int index);
    void activated(int index);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QButtonGroup group_;
    QHBoxLayout* layout_;
};

}  // namespace pexil::ui
