#pragma once

#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>

class QPainter;

namespace pexil::shell {

// One cell of the card grid as painted: the image frame (made once per thumbnail and width by
// frame(), so scrolling only copies pixmaps), the name below, the selection border and the
// badges. A spinner turns in the frame while there is no image.
struct CardCell {
    QString name;
    QPixmap frame;  // null: no thumbnail yet
    bool imported = false;
    bool locatable = false;
    bool selected = false;

    // The badge symbols, drawn once per device pixel ratio.
    struct Badges {
        QPixmap imported;
        QPixmap locatable;
        static Badges make(qreal devicePixelRatio);
    };

    // The thumbnail fitted into an image rectangle of `size` on the surface colour, clipped to
    // the rounded corners.
    static QPixmap frameFor(const QImage& thumbnail, QSize size, qreal devicePixelRatio);
    // `spinnerStep` turns the spinner (one step of twelve per tick).
    void paint(QPainter& painter, const QRect& cell, const Badges& badges, int spinnerStep) const;
};

// A small spinning arc of twelve steps, in the dim colour, centred in `rect`.
void paintSpinner(QPainter& painter, const QRectF& rect, int step);

}  // namespace pexil::shell
