#pragma once

#include <QString>

namespace pexil::cli {

// Text from outside (a camera's file name, a phone's sender name) made safe for one output
// line: control characters become "\n", "\t", "\r" or "\xHH" and a backslash is doubled, so a
// name can neither forge a line of its own nor split the one it is on. Scripts read our
// output line by line; a name is the only part of a line we do not write ourselves.
inline QString lineSafe(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == u'\\')
            out += QStringLiteral("\\\\");
        else if (u == u'\n')
            out += QStringLiteral("\\n");
        else if (u == u'\r')
            out += QStringLiteral("\\r");
        else if (u == u'\t')
            out += QStringLiteral("\\t");
        // C0, DEL, C1 and the line and paragraph separators some terminals break on.
        else if (u < 0x20 || (u >= 0x7F && u < 0xA0) || u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\x%1").arg(static_cast<uint>(u), u > 0xFF ? 4 : 2, 16,
                                               QChar(u'0'));
        else
            out += c;
    }
    return out;
}

}  // namespace pexil::cli
