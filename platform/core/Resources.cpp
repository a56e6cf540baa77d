#include "Resources.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QString pondra::resourcePath(const QString& name)
{
    auto existing = [&name](const QString& folder) -> QString {
        const QString path = QDir(folder).filePath(name);
        return QFileInfo::exists(path) ? QFileInfo(path).absoluteFilePath() : QString();
    };
    const QString fromEnv = qEnvironmentVariable("PONDRA_RESOURCE_DIR");
    if (!fromEnv.isEmpty())
        if (QString p = existing(fromEnv); !p.isEmpty())
            return p;
    QDir dir(QCoreApplication::applicationDirPath());
    for (int level = 0; level < 4; ++level) {
        if (QString p = existing(dir.filePath(QStringLiteral("resources"))); !p.isEmpty())
            return p;
        if (!dir.cdUp())
            break;
    }
    // Installed: the data beside the other programs' data, the bridge library
    // and its script (architecture-dependent) under lib.
    const QString prefix = QCoreApplication::applicationDirPath() + QStringLiteral("/..");
    if (QString p = existing(prefix + QStringLiteral("/share/pondra")); !p.isEmpty())
        return p;
    return existing(prefix + QStringLiteral("/lib/pondra"));
}
