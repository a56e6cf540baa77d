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
    return existing(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/pondra"));
}
