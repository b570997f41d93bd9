#include "app/shell/main/PreviewPane.h"

#include "app/capture/CaptureModel.h"
#include "app/connection/ConnectionModel.h"
#include "app/liveview/LiveViewModel.h"
#include "app/shell/ShellTexts.h"
#include "app/shell/main/LiveOverlay.h"
#include "app/shell/main/PreviewZoom.h"
#include "app/shots/ShotsModel.h"
#include "ui/components/AccessibleRole.h"
#include "ui/theme/Theme.h"

#include <QFileInfo>
#include <QFocusEvent>
#include <QMouseEvent>
#include <QNativeGestureEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace pexil::shell {

double PreviewPane::fitScale(QSizeF pane, QSizeF picture) {
    if (picture.width() <= 0 || picture.height() <= 0) return 0;
    return std::min(pane.width() / picture.width(), pane.height() / picture.height());
}

QRectF PreviewPane::pictureRect(QSizeF pane, QSizeF picture, double zoom, QPointF offset) {
    const double scale = fitScale(pane, picture) * zoom;
    const QSizeF size(picture.width() * scale, picture.height() * scale);
    const QPointF centre = QPointF(pane.width() / 2, pane.height() / 2) + offset;
    return {centre - QPointF(size.width() / 2, size.height() / 2), size};
}

double PreviewPane::wheelSteps(QPoint pixelDelta, QPoint angleDelta) {
    if (!pixelDelta.isNull()) return std::trunc(pixelDelta.y() / 10.0);
    return std::trunc(angleDelta.y() / 120.0);
}

PreviewPane::PreviewPane(ConnectionModel& connection, CaptureModel& capture, ShotsModel& shots,
                         LiveViewModel& live, PreviewZoom& zoom, QWidget* parent)
    : QWidget(parent),
      connection_(connection),
      capture_(capture),
      shots_(shots),
      live_(live),
      zoom_(zoom) {
    ui::registerAccessibleRole<PreviewPane, QAccessible::Graphic>();
    setAccessibleName(QStringLiteral("プレビュー"));
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(200, 150);
    connect(&connection_, &ConnectionModel::stateChanged, this, &PreviewPane::refresh);
    for (auto signal : {&ShotsModel::fullPreviewChanged, &ShotsModel::shotsChanged,
                        &ShotsModel::selectionChanged})
        connect(&shots_, signal, this, &PreviewPane::refresh);
    connect(&shots_, &ShotsModel::shotUpdated, this, &PreviewPane::refresh);
    connect(&shots_, &ShotsModel::analysisChanged, this, qOverload<>(&QWidget::update));
    for (auto signal : {&LiveViewModel::frameChanged, &LiveViewModel::isLiveChanged})
        connect(&live_, signal, this, &PreviewPane::refresh);
    connect(&live_, &LiveViewModel::aidsChanged, this, qOverload<>(&QWidget::update));
    live_.setPeakingColour(ui::Theme::amber().rgba());
    connect(&capture_, &CaptureModel::incomingChanged, this, [this] {
        update();
        describe();
    });
    connect(&zoom_, &PreviewZoom::changed, this, qOverload<>(&QWidget::update));
    describe();
}

QImage PreviewPane::image() const {
    if (live_.isLive()) return live_.frame();
    if (!shots_.fullPreview().isNull() && shots_.fullPreviewID() == shots_.selection())
        return shots_.fullPreview();
    const Shot* shot = shots_.shown();
    return shot ? shot->thumbnail : QImage();
}

QSizeF PreviewPane::pictureSize() const {
    const QImage shown = image();
    if (!live_.isLive()) {
        const Shot* shot = shots_.shown();
        if (shot && shot->meta.pixelWidth > 0 && shot->meta.pixelHeight > 0 && !shown.isNull())
            return QSizeF(shot->meta.pixelWidth, shot->meta.pixelHeight);
    }
    return shown.size();
}

QString PreviewPane::emptyText() const {
    if (capture_.incoming() && connection_.state().is(ConnectionState::Kind::connected))
        return ShellTexts::incoming(*capture_.incoming());
    return ShellTexts::previewEmpty(connection_.state());
}

QString PreviewPane::shownText() const {
    if (live_.isLive()) return QStringLiteral("ライブビュー");
    const Shot* shot = shots_.shown();
    if (shot && !image().isNull()) return QFileInfo(shot->path).fileName();
    return emptyText();
}

void PreviewPane::describe() { setAccessibleDescription(shownText()); }

void PreviewPane::refresh() {
    zoom_.setFit(fitScale(size(), pictureSize()));
    update();
    describe();
}

void PreviewPane::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    zoom_.setFit(fitScale(size(), pictureSize()));
}

void PreviewPane::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ui::Theme::background());
    const QImage shown = image();
    if (shown.isNull()) {
        painter.setPen(ui::Theme::dim());
        painter.setFont(ui::Theme::font(14));
        painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap, emptyText());
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF picture = pictureRect(size(), pictureSize(), zoom_.zoom(), zoom_.offset());
        painter.drawImage(picture, shown);
        if (live_.isLive())
            paintLiveAids(painter, picture);
        else
            paintShotAids(painter, picture);
    }
    ring_.paint(painter, *this, QRectF(rect()), 0);
}

void PreviewPane::paintLiveAids(QPainter& painter, const QRectF& picture) const {
    const FrameAnalysis& analysis = live_.analysis();
    if (!analysis.marks.isNull()) painter.drawImage(picture, analysis.marks);
    LiveOverlay::paintGuide(painter, picture, live_.aids().guide);
    if (const auto area = live_.afArea())
        LiveOverlay::paintAfArea(painter, picture, *area, live_.judgement());
    if (analysis.histogram)
        LiveOverlay::paintHistogram(painter, LiveOverlay::histogramBox(QRectF(rect())),
                                    *analysis.histogram);
}

void PreviewPane::paintShotAids(QPainter& painter, const QRectF& picture) const {
    const FrameAnalysis& analysis = shots_.analysis();
    if (!analysis.marks.isNull()) painter.drawImage(picture, analysis.marks);
    if (analysis.histogram)
        LiveOverlay::paintHistogram(painter, LiveOverlay::histogramBox(QRectF(rect())),
                                    *analysis.histogram);
}

std::optional<QPointF> PreviewPane::pictureFraction(QPointF at) const {
    const QRectF picture = pictureRect(size(), pictureSize(), zoom_.zoom(), zoom_.offset());
    if (picture.isEmpty() || !picture.contains(at)) return std::nullopt;
    return QPointF((at.x() - picture.left()) / picture.width(),
                   (at.y() - picture.top()) / picture.height());
}

bool PreviewPane::clicksFocus() const {
    return live_.isLive() && !live_.frame().isNull() && live_.canMoveAfArea();
}

void PreviewPane::magnifyAfArea() {
    const auto area = live_.afArea();
    if (!live_.isLive() || !area) return;
    const QRectF picture = pictureRect(size(), pictureSize(), zoom_.zoom(), zoom_.offset());
    const QPointF centre(picture.left() + area->center().x() * picture.width(),
                         picture.top() + area->center().y() * picture.height());
    if (!zoom_.stepInAt(centre, pictureSize(), size())) zoom_.fitToPane();
}

void PreviewPane::focusInEvent(QFocusEvent* event) {
    ring_.focusIn(event->reason());
    QWidget::focusInEvent(event);
}

void PreviewPane::mouseDoubleClickEvent(QMouseEvent* event) {
    if (image().isNull()) return;
    if (clicksFocus()) {
        // The first click of the pair moved the AF area already; AF runs once it is there.
        if (const auto at = pictureFraction(event->position()))
            live_.requestAfArea(*at, [this] { capture_.autofocus(); });
        return;
    }
    zoom_.doubleClick(event->position(), pictureSize(), size());
}

void PreviewPane::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    dragFrom_ = event->position();
    dragged_ = false;
}

void PreviewPane::mouseMoveEvent(QMouseEvent* event) {
    if (!dragFrom_) return;
    // A hand's tremor during a click is no drag.
    constexpr double dragDistance = 4;
    if (!dragged_ && (event->position() - *dragFrom_).manhattanLength() < dragDistance) return;
    dragged_ = true;
    zoom_.drag(event->position() - *dragFrom_);
}

void PreviewPane::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragFrom_) return;
    dragFrom_.reset();
    if (!dragged_ && clicksFocus()) {
        if (const auto at = pictureFraction(event->position())) live_.requestAfArea(*at);
        return;
    }
    zoom_.endDrag(pictureSize(), size());
}

void PreviewPane::wheelEvent(QWheelEvent* event) {
    if (!(event->modifiers() & Qt::ControlModifier)) {
        event->ignore();
        return;
    }
    const double steps = wheelSteps(event->pixelDelta(), event->angleDelta());
    if (steps != 0) zoom_.magnify(std::pow(PreviewZoom::stepFactor, steps));
    event->accept();
}

bool PreviewPane::event(QEvent* event) {
    if (event->type() == QEvent::NativeGesture) {
        auto* gesture = static_cast<QNativeGestureEvent*>(event);
        switch (gesture->gestureType()) {
            case Qt::BeginNativeGesture: pinch_ = 1; break;
            case Qt::ZoomNativeGesture: pinch_ *= 1 + gesture->value(); break;
            case Qt::EndNativeGesture:
                if (pinch_ != 1) zoom_.magnify(pinch_);
                pinch_ = 1;
                break;
            default: break;
        }
        return true;
    }
    return QWidget::event(event);
}

}  // namespace pexil::shell
