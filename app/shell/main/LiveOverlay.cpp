#include "app/shell/main/LiveOverlay.h"

#include "ui/theme/Theme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace pexil::shell::LiveOverlay {

namespace {

// The centred crop of `picture` with width:height `w`:`h`.
QRectF crop(const QRectF& picture, double w, double h) {
    const double ratio = w / h;
    QSizeF size = picture.size();
    if (size.width() / size.height() > ratio)
        size.setWidth(size.height() * ratio);
    else
        size.setHeight(size.width() / ratio);
    QRectF out(QPointF(), size);
    out.moveCenter(picture.center());
    return out;
}

}  // namespace

void paintGuide(QPainter& painter, const QRectF& picture, LiveAids::Guide guide) {
    if (guide == LiveAids::Guide::none || picture.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (guide == LiveAids::Guide::thirds) {
        painter.setPen(QPen(QColor(255, 255, 255, 140), 1));
        for (int i = 1; i <= 2; ++i) {
            const double x = picture.left() + picture.width() * i / 3;
            const double y = picture.top() + picture.height() * i / 3;
            painter.drawLine(QPointF(x, picture.top()), QPointF(x, picture.bottom()));
            painter.drawLine(QPointF(picture.left(), y), QPointF(picture.right(), y));
        }
    } else {
        const QRectF kept = guide == LiveAids::Guide::square       ? crop(picture, 1, 1)
                            : guide == LiveAids::Guide::fourByFive ? crop(picture, 4, 5)
                                                                   : crop(picture, 16, 9);
        // What falls outside the chosen frame is dimmed, its edge drawn.
        QPainterPath outside;
        outside.addRect(picture);
        outside.addRect(kept);
        outside.setFillRule(Qt::OddEvenFill);
        painter.fillPath(outside, QColor(0, 0, 0, 150));
        painter.setPen(QPen(QColor(255, 255, 255, 160), 1));
        painter.drawRect(kept);
    }
    painter.restore();
}

void paintAfArea(QPainter& painter, const QRectF& picture, const QRectF& area,
                 FocusJudgement judgement) {
    if (area.isEmpty() || picture.isEmpty()) return;
    const QRectF box(picture.left() + area.left() * picture.width(),
                     picture.top() + area.top() * picture.height(), area.width() * picture.width(),
                     area.height() * picture.height());
    const QColor colour = judgement == FocusJudgement::focused      ? ui::Theme::green()
                          : judgement == FocusJudgement::notFocused ? ui::Theme::danger()
                                                                    : QColor(255, 255, 255);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    // Corner brackets, as a body draws its AF area: the subject inside stays visible.
    const double arm = std::max(6.0, std::min(box.width(), box.height()) / 4);
    QPainterPath corners;
    for (const auto& [corner, dx, dy] :
         {std::tuple{box.topLeft(), 1.0, 1.0}, std::tuple{box.topRight(), -1.0, 1.0},
          std::tuple{box.bottomLeft(), 1.0, -1.0}, std::tuple{box.bottomRight(), -1.0, -1.0}}) {
        corners.moveTo(corner + QPointF(dx * arm, 0));
        corners.lineTo(corner);
        corners.lineTo(corner + QPointF(0, dy * arm));
    }
    painter.setPen(QPen(QColor(0, 0, 0, 120), 4, Qt::SolidLine, Qt::SquareCap));
    painter.drawPath(corners);
    painter.setPen(QPen(colour, 2, Qt::SolidLine, Qt::SquareCap));
    painter.drawPath(corners);
    painter.restore();
}

QRectF histogramBox(const QRectF& pane) {
    constexpr double width = 180;
    constexpr double height = 90;
    constexpr double margin = 12;
    return {pane.left() + margin, pane.bottom() - margin - height, width, height};
}

void paintHistogram(QPainter& painter, const QRectF& box, const Histogram& histogram) {
    if (histogram.pixels == 0 || box.isEmpty()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 160));
    painter.drawRoundedRect(box, 6, 6);
    const QRectF plot = box.adjusted(6, 6, -6, -6);
    // Scaled to the tallest bin away from the two ends, so a clipped end does not flatten
    // the rest; the ends are cut off at the top instead.
    std::uint32_t tallest = 1;
    for (const auto& channel : histogram.bins)
        for (std::size_t i = 1; i + 1 < channel.size(); ++i)
            tallest = std::max(tallest, channel[i]);
    const auto curve = [&](const std::array<std::uint32_t, 256>& bins) {
        QPainterPath path(QPointF(plot.left(), plot.bottom()));
        for (std::size_t i = 0; i < bins.size(); ++i) {
            const double level = std::min(1.0, static_cast<double>(bins[i]) / tallest);
            path.lineTo(plot.left() + plot.width() * i / 255.0,
                        plot.bottom() - plot.height() * level);
        }
        path.lineTo(plot.right(), plot.bottom());
        path.closeSubpath();
        return path;
    };
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    const std::array<QColor, 3> colours{QColor(200, 40, 40, 170), QColor(40, 170, 60, 170),
                                        QColor(50, 80, 220, 170)};
    for (int c = Histogram::red; c <= Histogram::blue; ++c)
        painter.fillPath(curve(histogram.bins[static_cast<std::size_t>(c)]),
                         colours[static_cast<std::size_t>(c)]);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(QPen(QColor(255, 255, 255, 220), 1.2));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(curve(histogram.bins[Histogram::luminance]));
    painter.restore();
}

}  // namespace pexil::shell::LiveOverlay
