#pragma once

#include "app/geo/GeoReceiver.h"

#include <QColor>
#include <QWidget>

class QLabel;

namespace pexil::shell {

// One line showing the geo receiver's state as it changes: a symbol in the state's tint, the
// state's text, on a rounded backing of the tint at a tenth of its opacity.
class ReceiverBar final : public QWidget {
    Q_OBJECT
public:
    explicit ReceiverBar(GeoReceiver& receiver, QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(ReceiverBar)

    QString text() const;
    QColor tint() const { return tint_; }
    // The design's symbol name of the state on show ("wifi", "arrow.down.circle" …).
    QString symbol() const { return symbol_; }

    struct Look {
        const char16_t* symbol;
        QColor tint;
    };
    static Look lookOf(const GeoReceiver::State& state);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void present(const GeoReceiver::State& state);

    QLabel* icon_;
    QLabel* text_;
    QColor tint_;
    QString symbol_;
};

}  // namespace pexil::shell
