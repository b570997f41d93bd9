#pragma once

#include <QByteArray>
#include <QString>

namespace pexil::ComputerName {

// The name this computer shows to people, and under which the geo receiver is advertised:
// the pretty host name set with hostnamectl (PRETTY_HOSTNAME in /etc/machine-info) when
// the system has one, else the host name, else "Mac" (what the phone application has
// always shown for a computer without a name).
//
// Reads the file on every call, so a name changed while the program runs is picked up the
// next time it is needed. Any thread; never fails.
QString current(const QString& machineInfoPath = QStringLiteral("/etc/machine-info"));

// The value of PRETTY_HOSTNAME in the text of a machine-info file (an environment-style
// file: KEY=value lines, values optionally in single or double quotes with backslash
// escapes, # comments), trimmed; empty when the key is missing or blank.
QString prettyHostName(const QByteArray& machineInfo);

// The rule of current() without touching the system: the first of `pretty` and `hostName`
// that is not blank, else "Mac".
QString choose(const QString& pretty, const QString& hostName);

}  // namespace pexil::ComputerName
