#pragma once

#include "app/geo/GeoWriter.h"

#include <QDir>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

namespace pexil {

// An ExifTool installation, run as a child process: positions are written into picture
// files by ExifTool, never by this program.
//
// A plain value. Threads: every operation may run on any thread; run(), version() and apply()
// block until ExifTool has exited, without a time-out: a batch of a thousand raw files
// legitimately takes minutes, and ExifTool replaces each file only when its copy is complete,
// so the wait is never cut short by this program.
struct ExifTool {
    QString script;        // the ExifTool program file, run by the Perl interpreter
    QString libDirectory;  // given to Perl as PERL5LIB
    QString perl = QStringLiteral("/usr/bin/perl");

    struct Output {
        QString output;   // standard output, UTF-8 (invalid sequences replaced), not trimmed
        QString error;    // standard error, decoded the same way, trimmed
        int status = -1;  // exit status; -1 when Perl could not start or was killed
        friend bool operator==(const Output&, const Output&) = default;
    };

    // Where locate() looks. The resource directory holds exiftool/exiftool (readable is
    // enough) with its modules in exiftool/lib; system scripts must be executable files and
    // get "/" as module path.
    struct Places {
        QString resourceDirectory;  // empty: none
        QStringList systemScripts;
    };
    // The directory of the running executable, then /usr/bin/exiftool (Debian's
    // libimage-exiftool-perl), /usr/local/bin/exiftool, /opt/homebrew/bin/exiftool.
    static Places defaultPlaces();

    // The first installation found, none when there is none. Touches nothing.
    static std::optional<ExifTool> locate(const Places& places = defaultPlaces());

    // Runs Perl with the script and `args`, with PERL5LIB replaced by libDirectory; standard
    // input reads nothing. Both output pipes are drained while the child runs, so neither can
    // fill up and stall it. A start failure gives status -1 with its description as error.
    Output run(const QStringList& args) const;

    // The output of "-ver", trimmed; none when empty. The exit status is not looked at.
    std::optional<QString> version() const;

    using Progress = std::function<void(int done, int total)>;
    using LogSink = std::function<void(const QString&)>;

    // Writes each match's position into its picture and reports, per picture, whether it
    // carries GPS data afterwards; reasons are Japanese. A point out of range
    // (GeoPosition::fault) is never handed to ExifTool: its picture fails with "書き込みません: "
    // and the fault, whatever it carried before. No ExifTool: every other picture fails with
    // "exiftool が見つかりません" and nothing is logged. An empty list gives an empty
    // report. `progress` hears (0, n) before and (n, n) after the run, nothing in between.
    static GeoWriter::Report apply(const std::vector<GeoWriter::Match>& matches,
                                   const Progress& progress, const LogSink& log,
                                   const Places& places = defaultPlaces());

    // apply() with this installation, whatever locate() would find; the argument file is made in
    // `temporaryDirectory`. Logs "位置情報の書き込み開始: N 件", "exiftool 終了: status S[ / first
    // 200 characters of the error]" for each ExifTool run and "書き込み完了: 成功 W / 失敗 F".
    //
    // All pictures go into one argument file for one run, except those whose path holds a line
    // break and also a "$" or "@": an argument file can carry neither safely on one line, so
    // they are handed to a second run as plain command-line arguments.
    GeoWriter::Report write(const std::vector<GeoWriter::Match>& matches, const Progress& progress,
                            const LogSink& log,
                            const QString& temporaryDirectory = QDir::tempPath()) const;

    // The tag assignments written for one point, in order (no file, no -execute).
    static QStringList tagArguments(const GeoPoint& point);
    // A number as the shortest decimal text that reads back as the same double, never in
    // exponent form, with ".0" on whole numbers: 139.0, 35.681236, 0.00001.
    static QString number(double value);
    // One argument as a line of an argument file: as it is, or, when it holds a line break, a
    // "#[CSTR]" line with C escapes. None for an argument no line can carry (a line break
    // together with "$" or "@", which ExifTool's C-string lines always escape).
    static std::optional<QString> argumentFileLine(const QString& argument);
};

}  // namespace pexil
