#pragma once

#include "app/base/LiveAids.h"
#include "app/shots/FrameAnalysis.h"
#include "kit/liveview/LiveViewHeader.h"

#include <QRectF>

class QPainter;

namespace pexil::shell::LiveOverlay {

// What is drawn over the live picture at `picture` (where it lies in the pane): the lines
// or masks of `guide`, the AF area (`area` in fractions of the picture) in the colour of
// the body's judgement, and the histogram in a box of its own.
void paintGuide(QPainter& painter, const QRectF& picture, LiveAids::Guide guide);
void paintAfArea(QPainter& painter, const QRectF& picture, const QRectF& area,
                 FocusJudgement judgement);
void paintHistogram(QPainter& painter, const QRectF& box, const Histogram& histogram);
// Where the histogram goes in a pane of `pane`: its bottom-left corner, inside a margin.
QRectF histogramBox(const QRectF& pane);

}  // namespace pexil::shell::LiveOverlay
