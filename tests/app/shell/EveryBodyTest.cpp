// The window on every body the virtual camera can be: each names itself, names every value it
// offers, shows its current mode and fits the inspector at the window's smallest sizes.
#include "ShellHarness.h"

#include "app/shell/main/CameraStatusMenu.h"
#include "app/shell/main/Inspector.h"
#include "app/shell/main/MainWindow.h"
#include "camera/virtual/VirtualModel.h"
#include "kit/device/PropFormat.h"
#include "ui/components/SegmentedControl.h"

#include <QComboBox>
#include <QRegularExpression>

namespace pexil::shell {
namespace {

using testing::ShellHarness;

bool bare(const QString& text) {
    static const QRegularExpression number(QStringLiteral("^(-?\\d+|0x[0-9A-F]+)$"));
    return number.match(text).hasMatch();
}

// The widgets of the inspector that stick out of it sideways.
QStringList outside(const Inspector& inspector) {
    QStringList out;
    for (const QWidget* child : inspector.findChildren<QWidget*>()) {
        if (!child->isVisibleTo(&inspector) || child->width() == 0) continue;
        const QRect r(child->mapTo(&inspector, QPoint(0, 0)), child->size());
        if (r.left() < 0 || r.right() >= inspector.width())
            out.append(QString::fromUtf8(child->metaObject()->className()) + u' ' + child->objectName() +
                       QStringLiteral(" %1..%2 of %3").arg(r.left()).arg(r.right()).arg(inspector.width()));
    }
    return out;
}

TEST(EveryBodyTest, namesItselfAndEveryValueShowsItsModeAndFitsTheInspector) {
    const QStringList bodies = camera::virtualModelNames();
    ASSERT_GE(bodies.size(), 25);
    for (const QString& body : bodies) {
        SCOPED_TRACE(body.toStdString());
        const camera::VirtualModel& model = *camera::findVirtualModel(body);
        ShellHarness h(0, body);
        MainWindow window(*h.model);
        window.show();
        ASSERT_TRUE(h.connectAndWait());
        const Inspector& inspector = *window.inspector();
        EXPECT_EQ(*h.model->connection().state().text, model.model);
        EXPECT_EQ(inspector.title(), model.model);
        EXPECT_EQ(window.statusMenu()->text(), model.model);

        // Other makers' codes mean other things: only a Nikon's are named.
        for (const auto& [prop, desc] : h.model->settings().props()) {
            if (prop == PTP::Prop::iso || !model.isNikon()) continue;
            EXPECT_FALSE(bare(desc.currentText())) << PTP::name(prop).toStdString() << ": " << desc.currentText().toStdString();
            for (const QString& text : desc.choiceTexts())
                EXPECT_FALSE(bare(text)) << PTP::name(prop).toStdString() << ": " << text.toStdString();
        }
        // The settings the program names without mirroring them, from the body's own table.
        if (model.isNikon()) {
            for (const PTP::Prop prop : {PTP::Prop::exposureMetering, PTP::Prop::flashMode,
                                         PTP::Prop::stillCaptureMode, PTP::Prop::focusMetering}) {
                const camera::PropertySpec* spec = model.property(PTP::code(prop));
                if (!spec) continue;
                for (const std::int64_t value : spec->choices)
                    EXPECT_FALSE(bare(PropFormat::text(prop, value, PropFormat::vendorNikon)))
                        << PTP::name(prop).toStdString() << ": " << value;
            }
        }

        const auto program = h.model->settings().props().find(PTP::Prop::exposureProgram);
        if (program != h.model->settings().props().end() && !program->second.choices.empty()) {
            const auto& choices = program->second.choices;
            const int current = static_cast<int>(std::find(choices.begin(), choices.end(), program->second.current) - choices.begin());
            ASSERT_LT(current, static_cast<int>(choices.size()));
            if (inspector.programMenu()->isVisibleTo(&inspector)) {
                EXPECT_FALSE(inspector.programPicker()->isVisibleTo(&inspector));
                EXPECT_EQ(inspector.programMenu()->currentIndex(), current);
                EXPECT_EQ(inspector.programMenu()->currentText(), program->second.currentText());
            } else {
                EXPECT_EQ(inspector.programPicker()->currentIndex(), current);
            }
        }

        for (const QSize size : {window.minimumSize(), QSize(1024, 700)}) {
            window.resize(size);
            QApplication::sendPostedEvents();
            QApplication::processEvents();
            const QStringList sticking = outside(inspector);
            EXPECT_TRUE(sticking.isEmpty()) << size.width() << "x" << size.height() << ": "
                                            << sticking.join(QStringLiteral(", ")).toStdString();
        }
    }
}

}  // namespace
}  // namespace pexil::shell
