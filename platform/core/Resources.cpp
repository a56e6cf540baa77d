#include "Resources.h"

#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <initializer_list>

namespace pondra {

namespace {

QString existingFile(const QString& folder, const QString& name)
{
    const QString path = QDir(folder).filePath(name);
    return QFileInfo::exists(path) ? QFileInfo(path).absoluteFilePath() : QString();
}

/// `name` in the folder the test names, the build's resources folder, or
/// the given folders of the install tree, in that order of precedence.
QString locate(const QString& name, std::initializer_list<const char*> installFolders)
{
    const QString fromEnv = qEnvironmentVariable("PONDRA_RESOURCE_DIR");
    if (!fromEnv.isEmpty())
        if (QString p = existingFile(fromEnv, name); !p.isEmpty())
            return p;
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (programFolder.isEmpty())
        return {};
    // The build tree says where its resources are; an installed program has
    // no marker (it is never installed).
    QFile marker(QDir(programFolder).filePath(buildTreeMarkerName()));
    if (marker.open(QIODevice::ReadOnly)) {
        const QString builtResources = QString::fromUtf8(marker.readAll()).trimmed();
        return builtResources.isEmpty() ? QString() : existingFile(builtResources, name);
    }
    for (const char* folder : installFolders) {
        if (QString p = existingFile(programFolder + QStringLiteral("/../") + QLatin1String(folder), name);
            !p.isEmpty())
            return p;
    }
    return {};
}

} // namespace

QString buildTreeMarkerName()
{
    return QStringLiteral(PONDRA_BUILD_TREE_MARKER);
}

QString resourcePath(const QString& name)
{
    // Data beside the other programs' data; the bridge library and its
    // script (architecture-dependent) under lib.
    return locate(name, {"share/pondra", "lib/pondra"});
}

QString applicationIconPath()
{
    // Named after the program, as its desktop entry names it.
    return locate(QLatin1String(bundleIdentifier) + QStringLiteral(".svg"),
                  {"share/icons/hicolor/scalable/apps"});
}

} // namespace pondra
