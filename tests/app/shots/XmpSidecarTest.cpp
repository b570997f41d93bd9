// The marks beside the picture: a standard XMP packet that ExifTool and an XMP reader see as
// darktable and digiKam would, which keeps what other programs wrote there and never touches
// the picture itself.
#include "app/geo/ExifTool.h"
#include "app/shots/XmpSidecar.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <map>
#include <optional>

namespace pexil {
namespace {

const QString rdfNs = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QString xmpNs = QStringLiteral("http://ns.adobe.com/xap/1.0/");

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void put(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// The xmp: properties of a sidecar, read as an XMP reader does: an xpacket-wrapped
// x:xmpmeta with rdf:Descriptions holding properties as attributes or as elements.
std::map<QString, QString> xmpProperties(const QByteArray& packet) {
    std::map<QString, QString> out;
    QXmlStreamReader xml(packet);
    bool inDescription = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.namespaceUri() == rdfNs && xml.name() == u"Description") {
            inDescription = true;
            for (const QXmlStreamAttribute& a : xml.attributes())
                if (a.namespaceUri() == xmpNs) out[a.name().toString()] = a.value().toString();
        } else if (xml.isStartElement() && inDescription && xml.namespaceUri() == xmpNs) {
            const QString name = xml.name().toString();
            out[name] = xml.readElementText(QXmlStreamReader::SkipChildElements);
        } else if (xml.isEndElement() && xml.name() == u"Description") {
            inDescription = false;
        }
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    return out;
}

TEST(XmpSidecar, EachMarkIsWrittenAsTheRawEditorsReadIt) {
    struct Case {
        const char* name;
        ShotMark mark;
        const char* rating;
        const char* label;  // "" none
    };
    const Case cases[] = {
        {"three stars", {3, false}, "3", ""},
        {"a pick with five stars", {5, true}, "5", "Green"},
        {"a reject", {-1, false}, "-1", ""},
        {"no stars", {0, false}, "0", ""},
    };
    const auto exiftool = ExifTool::locate();
    ASSERT_TRUE(exiftool) << "these tests need an ExifTool installation (libimage-exiftool-perl)";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("DSC_0001.NEF"));
        put(picture, "raw bytes");
        ASSERT_EQ(XmpSidecar::write(picture, c.mark), std::nullopt);
        const QString sidecar = dir.filePath(QStringLiteral("DSC_0001.NEF.xmp"));
        EXPECT_EQ(XmpSidecar::pathFor(picture), sidecar);
        EXPECT_EQ(contents(picture), "raw bytes");
        EXPECT_EQ(XmpSidecar::read(picture), c.mark);

        const QByteArray packet = contents(sidecar);
        EXPECT_TRUE(packet.startsWith("<?xpacket begin=")) << packet.left(40).toStdString();
        const auto properties = xmpProperties(packet);
        EXPECT_EQ(properties.count(QStringLiteral("Rating"))
                      ? properties.at(QStringLiteral("Rating"))
                      : QString(),
                  QString::fromLatin1(c.rating));
        EXPECT_EQ(properties.count(QStringLiteral("Label")) ? properties.at(QStringLiteral("Label"))
                                                            : QString(),
                  QString::fromLatin1(c.label));

        const auto read =
            exiftool->run({QStringLiteral("-s3"), QStringLiteral("-f"),
                           QStringLiteral("-XMP:Rating"), QStringLiteral("-XMP:Label"), sidecar});
        ASSERT_EQ(read.status, 0) << read.error.toStdString();
        const QStringList lines = read.output.trimmed().split(u'\n');
        ASSERT_EQ(lines.size(), 2) << read.output.toStdString();
        EXPECT_EQ(lines[0].trimmed(), QString::fromLatin1(c.rating));
        EXPECT_EQ(lines[1].trimmed(),
                  *c.label ? QString::fromLatin1(c.label) : QStringLiteral("-"));
    }
}

TEST(XmpSidecar, WhatAnotherProgramWroteStaysAndOnlyOurPickIsTakenBack) {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("DSC_0002.NEF"));
    const QString sidecar = XmpSidecar::pathFor(picture);
    put(sidecar, R"(<?xml version="1.0" encoding="UTF-8"?>
<x:xmpmeta xmlns:x="adobe:ns:meta/">
 <rdf:RDF xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">
  <rdf:Description rdf:about=""
    xmlns:xmp="http://ns.adobe.com/xap/1.0/"
    xmlns:darktable="http://darktable.sf.net/"
   xmp:Rating="1" xmp:Label="Red" darktable:xmp_version="5"/>
 </rdf:RDF>
</x:xmpmeta>
)");
    ASSERT_EQ(XmpSidecar::write(picture, ShotMark{4, false}), std::nullopt);
    QByteArray packet = contents(sidecar);
    EXPECT_TRUE(packet.contains("xmp_version")) << packet.toStdString();
    EXPECT_EQ(xmpProperties(packet)[QStringLiteral("Label")], QStringLiteral("Red"));
    EXPECT_EQ(xmpProperties(packet)[QStringLiteral("Rating")], QStringLiteral("4"));

    ASSERT_EQ(XmpSidecar::write(picture, ShotMark{4, true}), std::nullopt);
    EXPECT_EQ(xmpProperties(contents(sidecar))[QStringLiteral("Label")], QStringLiteral("Green"));
    ASSERT_EQ(XmpSidecar::write(picture, ShotMark{4, false}), std::nullopt);
    packet = contents(sidecar);
    EXPECT_EQ(xmpProperties(packet).count(QStringLiteral("Label")), 0u);
    EXPECT_TRUE(packet.contains("xmp_version"));
}

TEST(XmpSidecar, AClientsFavouriteIsThePurpleLabelWhereNoOtherLabelIs) {
    struct Case {
        const char* name;
        const char* before;  // "" no sidecar
        ShotMark mark;
        std::optional<bool> favourite;
        const char* after;  // "" no label
    };
    const Case cases[] = {
        {"a favourite on an unmarked shot", "", {0, false}, true, "Purple"},
        {"a favourite not known here stays", "Purple", {3, false}, std::nullopt, "Purple"},
        {"a favourite taken back", "Purple", {0, false}, false, ""},
        {"the photographer's pick wins", "Purple", {2, true}, true, "Green"},
        {"a pick taken back shows the favourite", "Green", {2, false}, true, "Purple"},
        {"another program's label stays", "Red", {0, false}, true, "Red"},
        {"and is not taken back", "Red", {0, false}, false, "Red"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString picture = dir.filePath(QStringLiteral("DSC_0004.NEF"));
        if (*c.before)
            put(XmpSidecar::pathFor(picture),
                QByteArray(R"(<x:xmpmeta xmlns:x="adobe:ns:meta/"><rdf:RDF )"
                           R"(xmlns:rdf="http://www.w3.org/1999/02/22-rdf-syntax-ns#">)"
                           R"(<rdf:Description rdf:about="" )"
                           R"(xmlns:xmp="http://ns.adobe.com/xap/1.0/" xmp:Label=")") +
                    c.before + R"("/></rdf:RDF></x:xmpmeta>)");
        ASSERT_EQ(XmpSidecar::write(picture, c.mark, c.favourite), std::nullopt);
        const auto properties = xmpProperties(contents(XmpSidecar::pathFor(picture)));
        const auto label = properties.find(QStringLiteral("Label"));
        EXPECT_EQ(label == properties.end() ? QString() : label->second,
                  QString::fromLatin1(c.after));
        EXPECT_EQ(XmpSidecar::read(picture), c.mark) << "a favourite is not a pick";
    }
}

TEST(XmpSidecar, ASidecarThatCannotBeReadIsLeftAlone) {
    QTemporaryDir dir;
    const QString picture = dir.filePath(QStringLiteral("DSC_0003.JPG"));
    const QByteArray damaged = "<x:xmpmeta><rdf:RDF><unclosed";
    put(XmpSidecar::pathFor(picture), damaged);
    const auto failure = XmpSidecar::write(picture, ShotMark{2, false});
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->contains(QString::fromUtf8("サイドカーを読めない")))
        << failure->toStdString();
    EXPECT_EQ(contents(XmpSidecar::pathFor(picture)), damaged);
    EXPECT_EQ(XmpSidecar::read(picture), std::nullopt);
}

}  // namespace
}  // namespace pexil
