#pragma once

#include "app/shots/Shot.h"

#include <QWidget>

#include <optional>

namespace pexil::shell {

// The filmstrip's cell for the picture between shutter and disk: a blank frame saying that
// the picture is coming, with a bar for the bytes received where the camera told the size.
class IncomingCell final : public QWidget {
    Q_OBJECT
public:
    explicit IncomingCell(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(IncomingCell)

    // Shown while there is one.
    void setIncoming(const std::optional<IncomingShot>& incoming);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<IncomingShot> incoming_;
};

}  // namespace pexil::shell
