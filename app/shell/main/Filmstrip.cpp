#include "app/shell/main/Filmstrip.h"

#include "app/capture/CaptureModel.h"
#include "app/card/CardModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/settings/CameraSettingsModel.h"
#include "app/shell/main/IncomingCell.h"
#include "app/shell/main/SourceToggle.h"
#include "app/shell/main/ThumbnailDelegate.h"
#include "app/shots/ShotFilter.h"
#include "app/shots/ShotsModel.h"
#include "ui/components/ElidedLabel.h"
#include "ui/components/SegmentedControl.h"
#include "ui/icons/GlyphIconEngine.h"
#include "ui/theme/Theme.h"

#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QVBoxLayout>

namespace pexil::shell {

Filmstrip::Filmstrip(ShotsModel& shots, CaptureModel& capture, CameraSettingsModel& settings,
                     ConnectionModel& connection, CardModel& card, QWidget* parent)
    : QWidget(parent),
      shots_(shots),
      capture_(capture),
      settings_(settings),
      source_(new SourceToggle(connection, shots, card, this)),
      count_(new QLabel(this)),
      series_(new ui::ElidedLabel(this)),
      buffer_(new QLabel(this)),
      bufferIcon_(new QLabel(this)),
      filter_(new ShotFilter(this)),
      filterChoice_(new ui::SegmentedControl(this)),
      view_(new QListView(this)),
      incoming_(new IncomingCell(this)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 6, 12, 8);
    column->setSpacing(6);
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    header->addWidget(source_);
    count_->setFont(ui::Theme::digitsFont(12));
    count_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::dim().name()));
    header->addWidget(count_);
    series_->setFont(ui::Theme::digitsFont(12));
    series_->setStyleSheet(QStringLiteral("color: %1").arg(ui::Theme::amber().name()));
    series_->hide();
    // Cut short rather than widen the window; the tool tip has it whole.
    series_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    header->addWidget(series_, 1);
    header->addStretch(1);
    // In the order of ShotFilter::Kind.
    filterChoice_->addSegment(QStringLiteral("すべて"));
    filterChoice_->addSegment(QStringLiteral("ピック"));
    filterChoice_->addSegment(QStringLiteral("不採用以外"));
    filterChoice_->setCurrentIndex(0);
    filterChoice_->setAccessibleName(QStringLiteral("表示する写真"));
    connect(filterChoice_, &ui::SegmentedControl::activated, this,
            [this](int index) { filter_->setKind(static_cast<ShotFilter::Kind>(index)); });
    header->addWidget(filterChoice_);
    bufferIcon_->setPixmap(ui::GlyphIconEngine::icon(u"square.stack.3d.up", ui::Theme::dim()).pixmap(14, 14));
    bufferIcon_->setAccessibleName(QStringLiteral("バッファ"));
    buffer_->setFont(ui::Theme::digitsFont(12));
    buffer_->setStyleSheet(count_->styleSheet());
    for (QLabel* label : {bufferIcon_, buffer_}) {
        label->setToolTip(QStringLiteral("連写であと何コマ撮れるか"));
        header->addWidget(label);
    }
    column->addLayout(header);

    filter_->setSourceModel(&shots_);
    view_->setModel(filter_);
    view_->setItemDelegate(new ThumbnailDelegate(view_));
    view_->setViewMode(QListView::IconMode);
    view_->setFlow(QListView::LeftToRight);
    view_->setWrapping(false);
    view_->setUniformItemSizes(true);
    view_->setMovement(QListView::Static);
    view_->setSpacing(3);  // between cells: 2 × 3 = the row's spacing of 6
    view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setSelectionMode(QAbstractItemView::NoSelection);
    // Tab reaches the strip; the arrows (Home, End) then step through the shots, each shown
    // as it is reached.
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->setAccessibleName(QStringLiteral("撮影した写真"));
    view_->setFrameShape(QFrame::NoFrame);
    view_->setFixedHeight(84);
    view_->setStyleSheet(QStringLiteral("QListView { background: transparent; }"));
    auto* strip = new QHBoxLayout;
    strip->setSpacing(3);
    strip->addWidget(incoming_, 0, Qt::AlignVCenter);
    strip->addWidget(view_, 1);
    column->addLayout(strip);
    connect(&capture_, &CaptureModel::incomingChanged, this,
            [this] { incoming_->setIncoming(capture_.incoming()); });

    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                const QUuid id = current.data(ShotsModel::IdRole).toUuid();
                if (current.isValid() && view_->hasFocus() && shots_.selection() != id)
                    shots_.select(id);
            });
    connect(&shots_, &ShotsModel::selectionChanged, this, [this] {
        // The keyboard continues from the shot shown, however it was chosen.
        const int row = shots_.selection() ? shots_.rowOf(*shots_.selection()) : -1;
        const QModelIndex listed =
            row >= 0 ? filter_->mapFromSource(shots_.index(row)) : QModelIndex();
        if (listed.isValid() && view_->currentIndex() != listed)
            view_->selectionModel()->setCurrentIndex(listed, QItemSelectionModel::NoUpdate);
    });
    connect(view_, &QListView::clicked, this, [this](const QModelIndex& index) {
        shots_.select(index.data(ShotsModel::IdRole).toUuid());
    });
    // The newest shot arrives on the left: bring it into view.
    connect(&shots_, &QAbstractItemModel::rowsInserted, this, [this] { view_->scrollToTop(); });
    connect(&shots_, &ShotsModel::shotsChanged, this, &Filmstrip::update);
    connect(&shots_, &ShotsModel::newCountChanged, this, &Filmstrip::update);
    for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(filter_, signal, this, &Filmstrip::update);
    connect(filter_, &QAbstractItemModel::modelReset, this, &Filmstrip::update);
    connect(filter_, &QAbstractItemModel::layoutChanged, this, &Filmstrip::update);
    connect(&settings_, &CameraSettingsModel::bufferRemainingChanged, this, &Filmstrip::update);
    update();
}

QString Filmstrip::countText() const {
    const int listed = filter_->rowCount();
    const QString count = listed == shots_.rowCount()
                              ? QString::number(listed) + QStringLiteral(" 枚")
                              : QStringLiteral("%1 / %2 枚").arg(listed).arg(shots_.rowCount());
    const int fresh = shots_.newCount();
    return fresh > 0 ? count + QStringLiteral("（新着 %1）").arg(fresh) : count;
}

void Filmstrip::setSeriesText(const QString& text) {
    series_->setFullText(text);
    series_->setVisible(!text.isEmpty());
}

QString Filmstrip::seriesText() const {
    return series_->fullText();
}

QString Filmstrip::bufferText() const {
    const auto remaining = settings_.bufferRemaining();
    return remaining ? QStringLiteral("バッファ ") + QString::number(*remaining) : QString();
}

void Filmstrip::update() {
    count_->setText(countText());
    const QString buffer = bufferText();
    buffer_->setText(buffer);
    buffer_->setVisible(!buffer.isEmpty());
    bufferIcon_->setVisible(!buffer.isEmpty());
}

}  // namespace pexil::shell
