#include "ui/components/SegmentedControl.h"

#include "ui/components/AccessibleRole.h"
#include "ui/theme/Theme.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace pexil::ui {

namespace {

// One segment: text (and icon) only; the control paints the backing.
class Segment final : public QAbstractButton {
public:
    explicit Segment(QWidget* parent) : QAbstractButton(parent) {
        setCheckable(true);
        // Read as radio buttons rather than check boxes; the control's exclusive group
        // decides which one is on either way.
        setAutoExclusive(true);
        setFocusPolicy(Qt::NoFocus);
        setFont(Theme::font(12, QFont::Medium));
        setIconSize(QSize(14, 14));
        setAttribute(Qt::WA_Hover);  // repaint the ink under the pointer
    }

    QSize sizeHint() const override {
        const int iconW = icon().isNull() ? 0 : iconSize().width() + 4;
        return {fontMetrics().horizontalAdvance(text()) + iconW + 20, 24};
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (isChecked()) {
            QPainterPath pill;
            pill.addRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 5, 5);
            // The body's own dial may hold the choice: then it is shown, but not as a button.
            QColor locked = Theme::amber();
            locked.setAlpha(70);
            p.fillPath(pill, isEnabled() ? Theme::amber() : locked);
        }
        const QColor ink = !isEnabled() ? (isChecked() ? Theme::text() : Theme::dimmer())
                           : isChecked() ? Theme::onAmber()
                                         : (underMouse() ? Theme::text() : Theme::dim());
        const int iconW = icon().isNull() ? 0 : iconSize().width() + 4;
        const int textW = fontMetrics().horizontalAdvance(text());
        int x = (width() - iconW - textW) / 2;
        if (iconW) {
            const QRect r(x, (height() - iconSize().height()) / 2, iconSize().width(), iconSize().height());
            icon().paint(&p, r, Qt::AlignCenter, isChecked() ? QIcon::Selected : QIcon::Normal);
            x += iconW;
        }
        p.setPen(ink);
        p.drawText(QRect(x, 0, textW, height()), Qt::AlignCenter, text());
    }
};

}  // namespace

SegmentedControl::SegmentedControl(QWidget* parent)
    : QWidget(parent), layout_(new QHBoxLayout(this)) {
    registerAccessibleRole<SegmentedControl, QAccessible::Grouping>();
    layout_->setContentsMargins(1, 1, 1, 1);
    layout_->setSpacing(0);
    group_.setExclusive(true);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    connect(&group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) {
            // Here rather than on currentIndexChanged, which owners block while they set it.
            setAccessibleDescription(segmentText(id));
            emit currentIndexChanged(id);
        }
        update();
    });
    connect(&group_, &QButtonGroup::idClicked, this, &SegmentedControl::activated);
}

int SegmentedControl::addSegment(const QString& text, const QIcon& icon, const QString& toolTip) {
    auto* segment = new Segment(this);  // owned by this widget
    segment->setText(text);
    segment->setIcon(icon);
    segment->setToolTip(toolTip);
    const int index = count();
    group_.addButton(segment, index);
    layout_->addWidget(segment);
    return index;
}

void SegmentedControl::setSegmentText(int index, const QString& text) {
    if (QAbstractButton* b = segment(index)) {
        b->setText(text);
        b->updateGeometry();
        if (index == currentIndex()) setAccessibleDescription(text);
    }
}

QString SegmentedControl::segmentText(int index) const {
    const QAbstractButton* b = segment(index);
    return b ? b->text() : QString();
}

int SegmentedControl::count() const { return int(group_.buttons().size()); }

void SegmentedControl::setCurrentIndex(int index) {
    if (index == currentIndex()) return;
    if (QAbstractButton* b = segment(index)) {
        b->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its last button directly.
    if (QAbstractButton* checked = group_.checkedButton()) {
        group_.setExclusive(false);
        checked->setChecked(false);
        group_.setExclusive(true);
        setAccessibleDescription(QString());
        emit currentIndexChanged(-1);
    }
}

void SegmentedControl::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath backing;
    backing.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
    p.fillPath(backing, Theme::surfaceRaised());
    p.setPen(QPen(QColor(255, 255, 255, 18), 1));
    p.drawPath(backing);
}

}  // namespace pexil::ui
