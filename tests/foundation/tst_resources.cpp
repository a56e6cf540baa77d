// Where the program finds what it ships: a copy of a small program that asks
// is placed in hand-made install and build trees, with decoys around it.
#include "platform/core/Resources.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace pondra;

namespace {

void makeFile(const QString& path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(path.toUtf8());
}

/// A copy of the probe at `path` (a copy, not a link: a program finds its
/// folder through the link).
void placeProbe(const QString& path)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(QFile::copy(QStringLiteral(PONDRA_RESOURCE_PROBE_PATH), path));
    QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner));
}

/// What the probe at `program` finds for each of `names`.
QStringList locate(const QString& program, const QStringList& names, const QString& resourceDir = {})
{
    QProcess probe;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("PONDRA_RESOURCE_DIR"));
    if (!resourceDir.isEmpty())
        env.insert(QStringLiteral("PONDRA_RESOURCE_DIR"), resourceDir);
    probe.setProcessEnvironment(env);
    probe.start(program, names);
    if (!probe.waitForFinished(10'000) || probe.exitCode() != 0)
        return {QStringLiteral("(the probe failed)")};
    QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
    lines.removeLast();
    return lines;
}

const QString icon = QStringLiteral("--icon");
const QString iconFile = QStringLiteral("org.pondra.Pondra.svg");
const QStringList shipped{QStringLiteral("ring.wav"), QStringLiteral("get-now-playing.pl"), iconFile};

} // namespace

class TestResources final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void installedProgramReadsOnlyItsInstallTree()
    {
        // ~/.local/bin/pondra, with folders named "resources" at every level
        // above it that hold everything it ships.
        QTemporaryDir base;
        const QString home = base.filePath(QStringLiteral("home"));
        const QString prefix = home + QStringLiteral("/.local");
        placeProbe(prefix + QStringLiteral("/bin/pondra"));
        makeFile(prefix + QStringLiteral("/share/pondra/ring.wav"));
        makeFile(prefix + QStringLiteral("/lib/pondra/get-now-playing.pl"));
        makeFile(prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/") + iconFile);
        for (const QString& above : {prefix + QStringLiteral("/bin"), prefix, home, base.path()})
            for (const QString& name : shipped + QStringList{QStringLiteral("only-above.txt")})
                makeFile(above + QStringLiteral("/resources/") + name);

        QCOMPARE(locate(prefix + QStringLiteral("/bin/pondra"),
                        {QStringLiteral("ring.wav"), QStringLiteral("get-now-playing.pl"), icon,
                         QStringLiteral("only-above.txt")}),
                 QStringList({prefix + QStringLiteral("/share/pondra/ring.wav"),
                              prefix + QStringLiteral("/lib/pondra/get-now-playing.pl"),
                              prefix + QStringLiteral("/share/icons/hicolor/scalable/apps/") + iconFile,
                              QString()}));
    }

    void buildTreeReadsOnlyTheFolderItsMarkerNames()
    {
        // A build tree with an install tree's shape around the program and a
        // resources folder where the build has none.
        QTemporaryDir base;
        const QString build = base.filePath(QStringLiteral("build"));
        placeProbe(build + QStringLiteral("/program/pondra"));
        const QString built = base.filePath(QStringLiteral("elsewhere/built"));
        QFile marker(build + QStringLiteral("/program/") + buildTreeMarkerName());
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.write(built.toUtf8() + '\n');
        marker.close();
        for (const QString& name : shipped)
            makeFile(built + QLatin1Char('/') + name);
        for (const QString& decoy : {QStringLiteral("/share/pondra/"), QStringLiteral("/lib/pondra/"),
                                     QStringLiteral("/resources/"), QStringLiteral("/program/resources/")})
            for (const QString& name :
                 QStringList{QStringLiteral("ring.wav"), QStringLiteral("not-built.txt")})
                makeFile(build + decoy + name);

        QCOMPARE(
            locate(build + QStringLiteral("/program/pondra"),
                   {QStringLiteral("ring.wav"), QStringLiteral("get-now-playing.pl"), icon,
                    QStringLiteral("not-built.txt")}),
            QStringList({built + QStringLiteral("/ring.wav"), built + QStringLiteral("/get-now-playing.pl"),
                         built + QLatin1Char('/') + iconFile, QString()}));
    }

    void folderNamedByTheTestComesFirst()
    {
        QTemporaryDir base;
        const QString prefix = base.filePath(QStringLiteral("prefix"));
        placeProbe(prefix + QStringLiteral("/bin/pondra"));
        makeFile(prefix + QStringLiteral("/share/pondra/ring.wav"));
        makeFile(prefix + QStringLiteral("/share/pondra/tray.svg"));
        const QString fromTest = base.filePath(QStringLiteral("test"));
        makeFile(fromTest + QStringLiteral("/ring.wav"));
        makeFile(fromTest + QLatin1Char('/') + iconFile);
        // What the test's folder lacks still comes from the program's own tree.
        QCOMPARE(locate(prefix + QStringLiteral("/bin/pondra"),
                        {QStringLiteral("ring.wav"), icon, QStringLiteral("tray.svg")}, fromTest),
                 QStringList({fromTest + QStringLiteral("/ring.wav"), fromTest + QLatin1Char('/') + iconFile,
                              prefix + QStringLiteral("/share/pondra/tray.svg")}));
    }

    void thisBuildShipsTheIcon()
    {
        // Run from the build tree, as the program is: its icon is among the built files.
        const QString path = applicationIconPath();
        QVERIFY2(!path.isEmpty(), "the application icon is not among the built resources");
        QCOMPARE(QFileInfo(path).fileName(), iconFile);
    }
};

QTEST_GUILESS_MAIN(TestResources)
#include "tst_resources.moc"
