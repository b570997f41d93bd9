#pragma once

#include <QWidget>

class QLabel;
class QToolButton;

namespace pexil::shell {

class PreviewZoom;

// Zoom out, the percentage of the picture's pixels, zoom in, fit and 1:1.
class ZoomControls final : public QWidget {
    Q_OBJECT
public:
    explicit ZoomControls(PreviewZoom& zoom, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ZoomControls)

    QString percentText() const;
    QToolButton* zoomOutButton() const { return out_; }

private:
    void update();

    PreviewZoom& zoom_;
    QToolButton* out_;
    QLabel* percent_;
};

}  // namespace pexil::shell
