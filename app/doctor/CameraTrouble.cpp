#include "app/doctor/CameraTrouble.h"

#include "app/doctor/UsbDoctor.h"

namespace pexil {

CameraTrouble::CameraTrouble(Examine examine, QObject* parent)
    : QObject(parent), examine_(std::move(examine)) {
    if (!examine_) examine_ = [] { return UsbDoctor::examine(UsbDoctor::Places{}); };
}

void CameraTrouble::update(const ConnectionState& state) {
    using Kind = ConnectionState::Kind;
    const bool ended =
        (state.is(Kind::failed) || state.is(Kind::waiting)) && state.text && !state.text->isEmpty();
    if (!ended) {
        set(std::nullopt);
        return;
    }
    std::optional<DoctorFinding> found;
    for (DoctorFinding& f : examine_()) {
        const bool blocks =
            f.topic == QLatin1String("access") || f.topic == QLatin1String("holder");
        if (f.level == DoctorFinding::Level::fail && blocks) {
            found = std::move(f);
            break;
        }
    }
    set(std::move(found));
}

void CameraTrouble::set(std::optional<DoctorFinding> finding) {
    if (finding == finding_) return;
    finding_ = std::move(finding);
    emit changed();
}

}  // namespace pexil
