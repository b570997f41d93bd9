#pragma once

#include <QCoreApplication>
#include <QString>

namespace pexil {

// A user-facing text looked up with the Japanese original as key; without a translation
// table the Japanese text is what the user sees.
inline QString localized(const char* japanese) {
    return QCoreApplication::translate("Pexil", japanese);
}

}  // namespace pexil
