#include "TestEnvironment.h"

#include <QDir>
#include <QtGlobal>

namespace pondra::test {

ScopedXdgHome::ScopedXdgHome()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldData(qgetenv("XDG_DATA_HOME")),
      m_oldCache(qgetenv("XDG_CACHE_HOME"))
{
    QDir(m_dir.path()).mkpath(QStringLiteral("config"));
    QDir(m_dir.path()).mkpath(QStringLiteral("data"));
    QDir(m_dir.path()).mkpath(QStringLiteral("cache"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/data")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(m_dir.path() + QStringLiteral("/cache")));
}

ScopedXdgHome::~ScopedXdgHome()
{
    auto restore = [](const char* name, const QByteArray& value) {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    };
    restore("XDG_CONFIG_HOME", m_oldConfig);
    restore("XDG_DATA_HOME", m_oldData);
    restore("XDG_CACHE_HOME", m_oldCache);
}

QString testDataPath(const QString& name)
{
    return QString::fromLocal8Bit(qgetenv("PONDRA_SOURCE_DIR")) + QStringLiteral("/tests/data/") + name;
}

QString galleryFolder()
{
    const QString root = qEnvironmentVariable("PONDRA_BINARY_DIR", QDir::currentPath());
    QDir().mkpath(root + QStringLiteral("/gallery"));
    return root + QStringLiteral("/gallery");
}

} // namespace pondra::test
