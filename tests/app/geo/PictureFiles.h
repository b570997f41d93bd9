#pragma once

// Small but real picture files for the geotagging tests: a baseline JPEG and an uncompressed
// TIFF, each with an EXIF block written here byte by byte, so that the reader under test
// (Exiv2) and the writer (ExifTool) both see files they were not built from.

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

namespace pexil::testing {

struct PictureSpec {
    std::optional<QByteArray> dateTimeOriginal;  // written as given, then a NUL
    bool dateAsBytes = false;                    // type UNDEFINED instead of ASCII: not text
    bool gps = false;        // a GPS block: version, latitude reference and latitude
    bool bigEndian = false;  // TIFF byte order of the EXIF data
};

namespace detail {

struct Entry {
    std::uint16_t tag;
    std::uint16_t type;  // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 7 UNDEFINED
    std::uint32_t count;
    QByteArray data;  // already in the file's byte order
};

class Tiff {
public:
    explicit Tiff(bool bigEndian) : big_(bigEndian) {}

    QByteArray u16(std::uint32_t v) const { return bytes(v, 2); }
    QByteArray u32(std::uint32_t v) const { return bytes(v, 4); }

    // Header, then each IFD followed by its out-of-line values, then `tail`. Pointer entries
    // (Exif, GPS, strip offsets) name an IFD index or the tail and are filled in here.
    struct Pointer {
        std::size_t ifd;
        std::uint16_t tag;
        int target;  // IFD index, or -1 for the tail
    };
    QByteArray build(std::vector<std::vector<Entry>> ifds, const std::vector<Pointer>& pointers,
                     const QByteArray& tail) const {
        std::vector<std::uint32_t> at(ifds.size());
        std::uint32_t offset = 8;
        for (std::size_t i = 0; i < ifds.size(); ++i) {
            at[i] = offset;
            offset += 2 + 12 * static_cast<std::uint32_t>(ifds[i].size()) + 4;
            for (const Entry& e : ifds[i])
                if (e.data.size() > 4)
                    offset += static_cast<std::uint32_t>(e.data.size() + (e.data.size() & 1));
        }
        const std::uint32_t tailAt = offset;
        for (const Pointer& p : pointers)
            for (Entry& e : ifds[p.ifd])
                if (e.tag == p.tag)
                    e.data = u32(p.target < 0 ? tailAt : at[static_cast<std::size_t>(p.target)]);

        QByteArray out = big_ ? QByteArray("MM") : QByteArray("II");
        out += u16(42) + u32(8);
        for (std::size_t i = 0; i < ifds.size(); ++i) {
            QByteArray table = u16(static_cast<std::uint32_t>(ifds[i].size()));
            QByteArray extra;
            const std::uint32_t extraAt =
                at[i] + 2 + 12 * static_cast<std::uint32_t>(ifds[i].size()) + 4;
            for (const Entry& e : ifds[i]) {
                table += u16(e.tag) + u16(e.type) + u32(e.count);
                if (e.data.size() > 4) {
                    table += u32(extraAt + static_cast<std::uint32_t>(extra.size()));
                    extra += e.data;
                    if (e.data.size() & 1) extra += '\0';
                } else {
                    table += e.data + QByteArray(4 - e.data.size(), '\0');
                }
            }
            table += u32(0);
            out += table + extra;
        }
        return out + tail;
    }

private:
    QByteArray bytes(std::uint32_t v, int width) const {
        QByteArray b(width, '\0');
        for (int i = 0; i < width; ++i)
            b[big_ ? width - 1 - i : i] = static_cast<char>((v >> (8 * i)) & 0xFF);
        return b;
    }
    bool big_;
};

// The EXIF and GPS IFDs asked for; pointers to them from IFD0 are added to `ifd0`.
inline void addMetadata(const Tiff& t, const PictureSpec& spec, std::vector<Entry>& ifd0,
                        std::vector<std::vector<Entry>>& ifds,
                        std::vector<Tiff::Pointer>& pointers) {
    if (spec.dateTimeOriginal) {
        const QByteArray value = *spec.dateTimeOriginal + '\0';
        ifd0.push_back({0x8769, 4, 1, {}});
        pointers.push_back({0, 0x8769, static_cast<int>(ifds.size())});
        ifds.push_back({{0x9003, static_cast<std::uint16_t>(spec.dateAsBytes ? 7 : 2),
                         static_cast<std::uint32_t>(value.size()), value}});
    }
    if (spec.gps) {
        ifd0.push_back({0x8825, 4, 1, {}});
        pointers.push_back({0, 0x8825, static_cast<int>(ifds.size())});
        const QByteArray latitude =
            t.u32(48) + t.u32(1) + t.u32(30) + t.u32(1) + t.u32(0) + t.u32(1);
        ifds.push_back({{0x0000, 1, 4, QByteArray("\x02\x03\x00\x00", 4)},
                        {0x0001, 2, 2, QByteArray("N\0", 2)},
                        {0x0002, 5, 3, latitude}});
    }
}

}  // namespace detail

// The EXIF block alone: a TIFF structure whose IFD0 only points to the other IFDs.
inline QByteArray exifTiff(const PictureSpec& spec) {
    const detail::Tiff t(spec.bigEndian);
    std::vector<detail::Entry> ifd0;
    std::vector<std::vector<detail::Entry>> ifds(1);
    std::vector<detail::Tiff::Pointer> pointers;
    detail::addMetadata(t, spec, ifd0, ifds, pointers);
    ifds[0] = ifd0;
    return t.build(ifds, pointers, {});
}

// An 8×8 flat grey baseline JPEG: one quantisation table, one component, and Huffman tables
// with a single one-bit code each, so the entropy-coded data is "DC difference 0, end of
// block" padded with ones: 0x3F.
inline QByteArray jpeg(const PictureSpec& spec = {}) {
    const auto segment = [](std::uint8_t marker, const QByteArray& body) {
        const int length = static_cast<int>(body.size()) + 2;
        return QByteArray("\xFF", 1) + static_cast<char>(marker) + static_cast<char>(length >> 8) +
               static_cast<char>(length & 0xFF) + body;
    };
    QByteArray out("\xFF\xD8", 2);
    if (spec.dateTimeOriginal || spec.gps)
        out += segment(0xE1, QByteArray("Exif\0\0", 6) + exifTiff(spec));
    out += segment(0xDB, QByteArray(1, '\0') + QByteArray(64, '\x10'));
    out += segment(0xC0, QByteArray("\x08\x00\x08\x00\x08\x01\x01\x11\x00", 9));
    const QByteArray oneCode = QByteArray("\x01", 1) + QByteArray(15, '\0') + QByteArray(1, '\0');
    out += segment(0xC4, QByteArray(1, '\x00') + oneCode);  // DC table 0
    out += segment(0xC4, QByteArray(1, '\x10') + oneCode);  // AC table 0
    out += segment(0xDA, QByteArray("\x01\x01\x00\x00\x3F\x00", 6));
    out += QByteArray("\x3F\xFF\xD9", 3);
    return out;
}

// An 8×8 uncompressed grey TIFF with the metadata of `spec`.
inline QByteArray tiff(const PictureSpec& spec = {}) {
    const detail::Tiff t(spec.bigEndian);
    std::vector<detail::Entry> ifd0{
        {256, 3, 1, t.u16(8)}, {257, 3, 1, t.u16(8)}, {258, 3, 1, t.u16(8)},
        {259, 3, 1, t.u16(1)}, {262, 3, 1, t.u16(1)}, {273, 4, 1, {}},
        {277, 3, 1, t.u16(1)}, {278, 3, 1, t.u16(8)}, {279, 4, 1, t.u32(64)}};
    std::vector<std::vector<detail::Entry>> ifds(1);
    std::vector<detail::Tiff::Pointer> pointers{{0, 273, -1}};
    detail::addMetadata(t, spec, ifd0, ifds, pointers);
    ifds[0] = ifd0;
    return t.build(ifds, pointers, QByteArray(64, '\x80'));
}

inline bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What ExifTool itself reads back, as numbers: the independent check of a write.
struct ReadBack {
    std::optional<double> lat, lon, alt;
    QString copyright;
};
inline ReadBack readBack(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("/usr/bin/exiftool"),
            {QStringLiteral("-n"), QStringLiteral("-s3"), QStringLiteral("-f"),
             QStringLiteral("-GPSLatitude"), QStringLiteral("-GPSLongitude"),
             QStringLiteral("-GPSAltitude"), QStringLiteral("-Copyright"), path});
    p.waitForFinished(30000);
    const QStringList lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n');
    ReadBack r;
    const auto number = [&](qsizetype i) -> std::optional<double> {
        bool ok = false;
        const double v = i < lines.size() ? lines[i].toDouble(&ok) : 0;
        return ok ? std::optional(v) : std::nullopt;
    };
    r.lat = number(0);
    r.lon = number(1);
    r.alt = number(2);
    if (lines.size() > 3 && lines[3] != QLatin1String("-")) r.copyright = lines[3];
    return r;
}

}  // namespace pexil::testing
