#pragma once

#include <QColor>
#include <QString>
#include <QTemporaryDir>

namespace pondra::test {

/// Points XDG_CONFIG_HOME, XDG_DATA_HOME and XDG_CACHE_HOME at a fresh
/// temporary folder for as long as it lives, so no test touches the real
/// user's files.
class ScopedXdgHome final
{
public:
    ScopedXdgHome();
    ~ScopedXdgHome();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldData, m_oldCache;
};

/// Absolute path of a file under the source tree's tests/data folder.
QString testDataPath(const QString& name);

/// Where gallery pictures go: "<build folder>/gallery", made when missing.
QString galleryFolder();

/// Two colours within `tolerance` in each of red, green and blue.
inline bool isNear(const QColor& a, const QColor& b, int tolerance = 8)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance &&
           qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace pondra::test
