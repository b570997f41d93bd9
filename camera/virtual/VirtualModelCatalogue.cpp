#include "camera/virtual/VirtualBodyFile.h"
#include "camera/virtual/VirtualModel.h"

#include <QDir>
#include <QFile>

#include <cassert>
#include <map>

namespace pexil::camera {

namespace {

using Catalogue = std::map<QString, VirtualModel>;

// The built-in bodies keep their own tables, which the tests and the demo were written
// against; every reading of another body becomes a body of its own.
Catalogue readCatalogue() {
    Catalogue bodies;
    for (const VirtualBody body : {VirtualBody::d850, VirtualBody::z6, VirtualBody::j5, VirtualBody::generic})
        bodies.emplace(virtualBodyName(body), virtualModel(body));
    const QDir dir(QStringLiteral(":/virtual-bodies"));
    for (const QString& entry : dir.entryList({QStringLiteral("*.body")}, QDir::Files, QDir::Name)) {
        const QString name = entry.chopped(5);
        QFile file(dir.filePath(entry));
        if (!file.open(QIODevice::ReadOnly)) continue;
        const auto reading = parseVirtualBodyFile(QString::fromUtf8(file.readAll()));
        assert(reading && "malformed body file");
        if (reading) bodies.emplace(name, virtualModelFromFile(*reading, name));
    }
    return bodies;
}

const Catalogue& catalogue() {
    static const Catalogue bodies = readCatalogue();
    return bodies;
}

}  // namespace

QStringList virtualModelNames() {
    QStringList names;
    for (const auto& [name, model] : catalogue()) names.append(name);
    return names;
}

const VirtualModel* findVirtualModel(QStringView name) {
    const auto it = catalogue().find(name.toString());
    return it == catalogue().end() ? nullptr : &it->second;
}

}  // namespace pexil::camera
