#include "app/shell/geotag/GeotagWindow.h"

#include "app/geo/GeoStore.h"
#include "app/shell/geotag/ReceiverBar.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/components/ElidedLabel.h"
#include "ui/theme/Theme.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace pexil::shell {

namespace {

enum Role { exactRole = Qt::UserRole, gapRole, positionRole };

constexpr int dotSize = 6;
constexpr int rowDotSize = 5;

QString colorName(const QColor& color) {
    return color.name(QColor::HexArgb);
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setFont(font);
    l->setTextFormat(Qt::PlainText);
    QPalette palette = l->palette();
    palette.setColor(QPalette::WindowText, color);
    l->setPalette(palette);
    return l;
}

QPixmap dot(const QColor& color, int size) {
    const qreal ratio = 2;
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0, 0, size, size));
    return pixmap;
}

QLabel* symbolLabel(QStringView symbol, const QColor& tint, int size, QWidget* parent) {
    auto* l = new QLabel(parent);
    l->setFixedSize(size, size);
    l->setPixmap(ui::GlyphIconEngine::icon(symbol, tint).pixmap(size, size));
    return l;
}

QFont monospaced(int pixelSize) {
    QFont font;
    font.setFamilies({QStringLiteral("Noto Sans Mono CJK JP"), QStringLiteral("DejaVu Sans Mono")});
    font.setStyleHint(QFont::Monospace);
    font.setPixelSize(pixelSize);
    return font;
}

// A match row: a dot (green exact, blue estimated), the file name, then flush right the gap of
// an estimated match and the position.
class MatchDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return {200, QFontMetrics(monospaced(11)).height() + 4};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        painter->save();
        painter->setRenderHint(QPainter::Antialiasing);
        const QRect row = option.rect.adjusted(4, 2, -6, -2);
        const bool exact = index.data(exactRole).toBool();
        painter->setPen(Qt::NoPen);
        painter->setBrush(exact ? ui::Theme::green() : ui::Theme::blue());
        painter->drawEllipse(
            QRectF(row.left(), row.center().y() - rowDotSize / 2.0 + 0.5, rowDotSize, rowDotSize));

        int right = row.right();
        const QFont digits = ui::Theme::digitsFont(10);
        const QFontMetrics digitMetrics(digits);
        const QString position = index.data(positionRole).toString();
        const int positionWidth = digitMetrics.horizontalAdvance(position);
        painter->setFont(digits);
        painter->setPen(ui::Theme::secondaryText());
        painter->drawText(QRect(right - positionWidth, row.top(), positionWidth, row.height()),
                          Qt::AlignVCenter | Qt::AlignRight, position);
        right -= positionWidth + 10;
        const QString gap = index.data(gapRole).toString();
        if (!gap.isEmpty()) {
            const QFont gapFont = ui::Theme::font(10);
            const int gapWidth = QFontMetrics(gapFont).horizontalAdvance(gap);
            painter->setFont(gapFont);
            painter->setPen(ui::Theme::tertiaryText());
            painter->drawText(QRect(right - gapWidth, row.top(), gapWidth, row.height()),
                              Qt::AlignVCenter | Qt::AlignRight, gap);
            right -= gapWidth + 10;
        }
        const QFont nameFont = monospaced(11);
        const int nameLeft = row.left() + rowDotSize + 8;
        painter->setFont(nameFont);
        painter->setPen(ui::Theme::text());
        const QString name = QFontMetrics(nameFont).elidedText(
            index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, std::max(0, right - nameLeft));
        painter->drawText(QRect(nameLeft, row.top(), std::max(0, right - nameLeft), row.height()),
                          Qt::AlignVCenter | Qt::AlignLeft, name);
        painter->restore();
    }
};

}  // namespace

GeotagWindow::GeotagWindow(GeoStore& store, async::Runtime& runtime, GeoTagModel::Options options,
                           QWidget* parent)
    : QDialog(parent), store_(store), model_(new GeoTagModel(runtime, std::move(options), this)) {
    setWindowTitle(QStringLiteral("位置情報を付与"));
    setMinimumSize(620, 460);
    setSizeGripEnabled(true);
    resize(700, 520);  // its own size, not the smallest the layout allows
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(14);
    column->addWidget(header());
    receiverBar_ = new ReceiverBar(store.receiver(), this);
    column->addWidget(receiverBar_);
    column->addWidget(sources());
    column->addWidget(optionsRow());
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFixedHeight(1);
    divider->setStyleSheet(
        QStringLiteral("background: %1; border: none").arg(colorName(ui::Theme::dimmer())));
    column->addWidget(divider);
    column->addWidget(results(), 1);
    column->addWidget(footer());

    connect(model_, &GeoTagModel::stateChanged, this, &GeotagWindow::update);
    connect(model_, &GeoTagModel::resultsChanged, this, &GeotagWindow::updateResults);
    connect(&store_, &GeoStore::recordChanged, this, [this] {
        if (isVisible()) adoptStored();
    });
    update();
    updateResults();
}

GeotagWindow::~GeotagWindow() = default;

QWidget* GeotagWindow::header() {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    column->addWidget(label(QStringLiteral("位置情報を付与"), ui::Theme::font(15, QFont::DemiBold),
                            ui::Theme::text(), box));
    auto* lead =
        label(QStringLiteral(
                  "iPhone の Pexil で記録した撮影地点を、カードから取り込んだ写真へ書き込みます。"),
              ui::Theme::font(11), ui::Theme::secondaryText(), box);
    lead->setWordWrap(true);
    column->addWidget(lead);
    return box;
}

QWidget* GeotagWindow::sources() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    const auto box = [&](const QString& title, ui::ElidedLabel*& detail, QLabel*& subtitle,
                         QFileDialog* (GeotagWindow::*action)()) {
        auto* frame = new QFrame(row);
        frame->setObjectName(QStringLiteral("sourceBox"));
        frame->setStyleSheet(
            QStringLiteral("QFrame#sourceBox { background: %1; border: 1px solid %2; "
                           "border-radius: 8px; }")
                .arg(colorName(ui::Theme::surfaceRaised()), colorName(ui::Theme::dimmer())));
        auto* column = new QVBoxLayout(frame);
        column->setContentsMargins(10, 10, 10, 10);
        column->setSpacing(3);
        column->addWidget(
            label(title, ui::Theme::font(11, QFont::Medium), ui::Theme::secondaryText(), frame));
        // Cut in the middle: a name's start and its extension say most.
        auto* elided = new ui::ElidedLabel(frame, Qt::ElideMiddle);
        elided->setFont(ui::Theme::font(12, QFont::Medium));
        detail = elided;
        column->addWidget(detail);
        subtitle = label(QString(), ui::Theme::font(10), ui::Theme::secondaryText(), frame);
        column->addWidget(subtitle);
        auto* choose = new QPushButton(QStringLiteral("選択…"), frame);
        choose->setFont(ui::Theme::font(11));
        choose->setAutoDefault(false);  // Return belongs to "書き込む"
        connect(choose, &QPushButton::clicked, this, [this, action] { (this->*action)(); });
        column->addWidget(choose, 0, Qt::AlignLeft);
        column->addStretch(1);
        layout->addWidget(frame, 1);
    };
    box(QStringLiteral("位置情報"), payloadDetail_, payloadSubtitle_, &GeotagWindow::pickPayload);
    box(QStringLiteral("写真フォルダ"), folderDetail_, folderSubtitle_, &GeotagWindow::pickFolder);
    return row;
}

QWidget* GeotagWindow::optionsRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(
        label(QStringLiteral("時刻の許容差"), ui::Theme::font(12), ui::Theme::text(), row));
    tolerance_ = new QComboBox(row);
    tolerance_->setFixedWidth(90);
    tolerance_->setFont(ui::Theme::font(12));
    for (const GeoTagModel::Tolerance& choice : GeoTagModel::toleranceChoices())
        tolerance_->addItem(choice.label, choice.seconds);
    connect(tolerance_, &QComboBox::activated, this,
            [this](int index) { model_->setTolerance(tolerance_->itemData(index).toDouble()); });
    layout->addWidget(tolerance_);
    layout->addSpacing(8);
    overwrite_ = new QCheckBox(QStringLiteral("既に位置がある写真も上書き"), row);
    overwrite_->setFont(ui::Theme::font(12));
    connect(overwrite_, &QCheckBox::toggled, model_, &GeoTagModel::setOverwriteExisting);
    layout->addWidget(overwrite_);
    layout->addStretch(1);
    return row;
}

QWidget* GeotagWindow::results() {
    auto* box = new QWidget(this);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);

    auto* tallies = new QHBoxLayout;
    tallies->setSpacing(16);
    const auto tally = [&](const QColor& color, const QString& text, QLabel*& count) {
        auto* item = new QWidget(box);
        auto* row = new QHBoxLayout(item);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(5);
        auto* mark = new QLabel(item);
        mark->setFixedSize(dotSize, dotSize);
        mark->setPixmap(dot(color, dotSize));
        row->addWidget(mark);
        auto* name = label(text, ui::Theme::font(11), ui::Theme::text(), item);
        name->setObjectName(QStringLiteral("tallyLabel"));
        row->addWidget(name);
        count = label(QStringLiteral("0"), ui::Theme::digitsFont(11), ui::Theme::text(), item);
        row->addWidget(count);
        tallies->addWidget(item);
        return item;
    };
    tally(ui::Theme::green(), QStringLiteral("ファイル名で確定"), exactCount_);
    tally(ui::Theme::blue(), QStringLiteral("撮影時刻から推定"), estimatedCount_);
    taggedTally_ = tally(ui::Theme::dim(), QStringLiteral("既に位置あり"), taggedCount_);
    tally(ui::Theme::secondaryText(), QStringLiteral("該当なし"), unmatchedCount_);
    tallies->addStretch(1);
    column->addLayout(tallies);

    auto* reportColumn = new QVBoxLayout;
    reportColumn->setSpacing(3);
    const auto reportRow = [&](QStringView symbol, const QColor& tint, QLabel*& text) {
        auto* item = new QWidget(box);
        auto* row = new QHBoxLayout(item);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(5);
        row->addWidget(symbolLabel(symbol, tint, 13, item));
        text = label(QString(), ui::Theme::font(11), ui::Theme::text(), item);
        text->setWordWrap(true);
        row->addWidget(text, 1);
        reportColumn->addWidget(item);
        item->hide();
        return item;
    };
    writtenRow_ = reportRow(u"checkmark.circle.fill", ui::Theme::green(), writtenText_);
    failedRow_ = reportRow(u"exclamationmark.triangle.fill", ui::Theme::orange(), failedText_);
    column->addLayout(reportColumn);

    list_ = new QListWidget(box);
    list_->setMinimumHeight(120);
    list_->setUniformItemSizes(true);
    list_->setSelectionMode(QAbstractItemView::NoSelection);
    list_->setFocusPolicy(Qt::NoFocus);
    list_->setSpacing(1);
    list_->setItemDelegate(new MatchDelegate(list_));
    column->addWidget(list_, 1);
    return box;
}

QWidget* GeotagWindow::footer() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    version_ = label(QString(), ui::Theme::font(10), ui::Theme::tertiaryText(), row);
    layout->addWidget(version_);
    missing_ = new QWidget(row);
    auto* missingRow = new QHBoxLayout(missing_);
    missingRow->setContentsMargins(0, 0, 0, 0);
    missingRow->setSpacing(4);
    missingRow->addWidget(
        symbolLabel(u"exclamationmark.triangle", ui::Theme::orange(), 12, missing_));
    missingRow->addWidget(label(QStringLiteral("exiftool が見つかりません"), ui::Theme::font(10),
                                ui::Theme::orange(), missing_));
    // Where to get it on this system: Debian's package puts it where it is looked for.
    missingRow->addWidget(label(QStringLiteral("（sudo apt install libimage-exiftool-perl）"),
                                ui::Theme::font(10), ui::Theme::tertiaryText(), missing_));
    layout->addWidget(missing_);
    layout->addStretch(1);
    busy_ = new QProgressBar(row);
    busy_->setRange(0, 0);
    busy_->setTextVisible(false);
    busy_->setFixedSize(60, 6);
    layout->addWidget(busy_);
    write_ = new QPushButton(QStringLiteral("書き込む"), row);
    write_->setDefault(true);
    connect(write_, &QPushButton::clicked, model_, &GeoTagModel::apply);
    layout->addWidget(write_);
    return row;
}

QFileDialog* GeotagWindow::pickPayload() {
    auto* dialog = new QFileDialog(
        this, QStringLiteral("iPhone から受け取った位置情報ファイルを選んでください"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setNameFilter(QStringLiteral("JSON (*.json)"));
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& path) {
        if (!path.isEmpty()) model_->loadPayload(path);
    });
    dialog->open();
    return dialog;
}

QFileDialog* GeotagWindow::pickFolder() {
    auto* dialog = new QFileDialog(
        this, QStringLiteral("位置情報を付与する写真が入ったフォルダを選んでください"),
        model_->folder().value_or(QDir::homePath()));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) model_->setFolder(folder);
    });
    dialog->open();
    return dialog;
}

void GeotagWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!model_->payload()) adoptStored();
}

void GeotagWindow::adoptStored() {
    if (!store_.payload()) return;
    // A record saved before senders were kept is named after the phone it came from.
    model_->adopt(*store_.payload(), store_.sender().value_or(QStringLiteral("iPhone")));
}

void GeotagWindow::update() {
    const GeoTagModel& m = *model_;
    payloadDetail_
        ->setFullText(m.payloadName().value_or(QStringLiteral("未選択")));
    const auto payloadSummary = m.payloadSummary();
    payloadSubtitle_->setText(payloadSummary.value_or(QString()));
    payloadSubtitle_->setVisible(payloadSummary.has_value());
    folderDetail_
        ->setFullText(m.folder() ? QFileInfo(*m.folder()).fileName() : QStringLiteral("未選択"));
    const auto folderSummary = m.folderSummary();
    folderSubtitle_->setText(folderSummary.value_or(QString()));
    folderSubtitle_->setVisible(folderSummary.has_value());

    const auto& choices = GeoTagModel::toleranceChoices();
    const auto chosen = std::find_if(choices.begin(), choices.end(), [&](const auto& choice) {
        return choice.seconds == m.tolerance();
    });
    if (chosen != choices.end())
        tolerance_->setCurrentIndex(static_cast<int>(chosen - choices.begin()));
    {
        const QSignalBlocker blocker(overwrite_);
        overwrite_->setChecked(m.overwriteExisting());
    }

    const auto written = m.writtenText();
    writtenText_->setText(written.value_or(QString()));
    writtenRow_->setVisible(written.has_value());
    const auto failed = m.failedText();
    failedText_->setText(failed.value_or(QString()));
    failedRow_->setVisible(failed.has_value());

    if (m.exifToolVersion()) version_->setText(QStringLiteral("ExifTool ") + *m.exifToolVersion());
    version_->setVisible(m.exifToolVersion().has_value());
    missing_->setVisible(!m.exifToolVersion().has_value());
    busy_->setVisible(m.working() || m.scanning());
    write_->setEnabled(m.canApply());
    updateAlert();
}

void GeotagWindow::updateResults() {
    const GeoTagModel::Tally t = model_->tally();
    exactCount_->setText(QString::number(t.exact));
    estimatedCount_->setText(QString::number(t.estimated));
    taggedCount_->setText(QString::number(t.alreadyTagged));
    taggedTally_->setVisible(t.alreadyTagged != 0);
    unmatchedCount_->setText(QString::number(t.unmatched));
    const auto folderSummary = model_->folderSummary();
    folderSubtitle_->setText(folderSummary.value_or(QString()));

    list_->clear();
    for (const GeoWriter::Match& match : model_->matches()) {
        auto* item = new QListWidgetItem(QFileInfo(match.url).fileName(), list_);
        item->setData(exactRole, match.exact);
        item->setData(gapRole, GeoTagModel::gapText(match).value_or(QString()));
        item->setData(positionRole, GeoTagModel::positionText(match.point));
        item->setToolTip(match.url);
    }
    write_->setEnabled(model_->canApply());
}

void GeotagWindow::updateAlert() {
    const std::optional<QString>& problem = model_->problem();
    if (!problem) {
        if (QMessageBox* box = std::exchange(alert_, nullptr)) {
            box->close();
            box->deleteLater();
        }
        return;
    }
    if (alert_) {
        alert_->setText(*problem);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("エラー"), *problem,
                                QMessageBox::Ok, this);
    box->setWindowModality(Qt::WindowModal);
    alert_ = box;
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (alert_ != box) return;  // closed because the problem went away
        alert_ = nullptr;
        box->deleteLater();
        // Dismissing the alert, by its button or otherwise, clears the problem.
        model_->clearProblem();
    });
    box->open();
}

QString GeotagWindow::payloadDetail() const {
    return payloadDetail_->fullText();
}
QString GeotagWindow::payloadSubtitle() const {
    return payloadSubtitle_->isHidden() ? QString() : payloadSubtitle_->text();
}
QString GeotagWindow::folderDetail() const {
    return folderDetail_->fullText();
}
QString GeotagWindow::folderSubtitle() const {
    return folderSubtitle_->isHidden() ? QString() : folderSubtitle_->text();
}

QStringList GeotagWindow::tallyTexts() const {
    QStringList texts;
    for (QLabel* count : {exactCount_, estimatedCount_, taggedCount_, unmatchedCount_}) {
        QWidget* item = count->parentWidget();
        if (item->isHidden()) continue;
        const auto* name = item->findChild<QLabel*>(QStringLiteral("tallyLabel"));
        texts << name->text() + u' ' + count->text();
    }
    return texts;
}

QStringList GeotagWindow::reportTexts() const {
    QStringList texts;
    if (!writtenRow_->isHidden()) texts << writtenText_->text();
    if (!failedRow_->isHidden()) texts << failedText_->text();
    return texts;
}

QString GeotagWindow::footerText() const {
    return version_->isHidden() ? QStringLiteral("exiftool が見つかりません") : version_->text();
}

QStringList GeotagWindow::rowTexts() const {
    QStringList rows;
    for (int i = 0; i < list_->count(); ++i) {
        const QListWidgetItem* item = list_->item(i);
        QStringList parts{item->text()};
        const QString gap = item->data(gapRole).toString();
        if (!gap.isEmpty()) parts << gap;
        parts << item->data(positionRole).toString();
        rows << parts.join(u' ');
    }
    return rows;
}

}  // namespace pexil::shell
