// The program's texts for translators: the template the build writes holds
// the fixed texts of the views in their classes' contexts, and a translation
// compiled at build time, found for the user's languages, changes what a
// window shows.
#include "program/Translations.h"
#include "ui/kit/WindowFinder.h"
#include "ui/settings/SettingsView.h"

#include "AppRig.h"
#include "ViewTesting.h"

#include <QComboBox>
#include <QFile>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QXmlStreamReader>

using namespace pondra;

namespace {

/// Every message of a translation source, as "context|source".
QStringList messagesOf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            out.append(context + QLatin1Char('|') + xml.readElementText());
    }
    return out;
}

/// The text of the settings window's label for `field`.
QString labelFor(QWidget* field)
{
    for (auto* form : field->window()->findChildren<QFormLayout*>()) {
        if (QWidget* label = form->labelForField(field))
            return static_cast<QLabel*>(label)->text();
    }
    return {};
}

/// The program's resources in a folder of the test's own, holding the
/// compiled test translations and whatever else a row puts there.
struct ResourceFolder
{
    QTemporaryDir dir;

    ResourceFolder()
    {
        QDir(dir.path()).mkpath(QStringLiteral("translations"));
        for (const char* name : {"pondra_eo.qm", "pondra_ia.qm"})
            QFile::copy(QStringLiteral(PONDRA_TEST_TRANSLATIONS "/") + QLatin1String(name),
                        dir.filePath(QStringLiteral("translations/") + QLatin1String(name)));
        qputenv("PONDRA_RESOURCE_DIR", dir.path().toLocal8Bit());
    }
    ~ResourceFolder() { qunsetenv("PONDRA_RESOURCE_DIR"); }
    void putGarbage(const QString& name)
    {
        QFile file(dir.filePath(QStringLiteral("translations/") + name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a translation");
    }
};

} // namespace

class TestTranslations final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    /// The template holds the fixed texts of every window, the second copy's
    /// alert and the update answers, each in the context of its class.
    void templateHoldsTheFixedTexts_data()
    {
        QTest::addColumn<QString>("message");
        const QStringList messages{
            "pondra::MiniUserRow|Ring",
            "pondra::MiniUserRow|Update status",
            "pondra::MiniUserRow|Away",
            "pondra::MiniUserRow|Pondra",
            "pondra::MiniWindow|reconnecting",
            "pondra::RingRequestView|Sure!",
            "pondra::ImageWindow|\u00b7",
            "pondra::ImageWindow|Team",
            "pondra::ImageWindow|Retake*",
            "pondra::ImageWindow|I'm Pondra",
            "pondra::MainPhotoView|Bad photo, try again",
            "pondra::StatusEditView|Your status will clear automatically tonight at 3:00 AM.",
            "pondra::StatusEditView|e.g. Focusing on design review",
            "pondra::StatusBarMenu|Keep Team Window on Top",
            "pondra::StatusBarMenu|Status: Away",
            "pondra::WindowRegistry|Settings...",
            "pondra::WindowRegistry|Quit Pondra",
            "pondra::SettingsView|Every 5 minutes",
            "pondra::SettingsView|Captures multiple frames and picks the best one. Turn off for faster "
            "single-frame capture.",
            "pondra::CursorRingView|is ringing\u2026",
            "pondra::CheckForUpdatesView|Check for Updates\u2026",
            "pondra::CheckForUpdatesView|Couldn't check for updates: %1",
            "pondra::CheckForUpdatesView|Open Download Page",
            "pondra::FeedUpdater|The request timed out",
            "pondra::SingleInstanceGuard|Pondra is already running",
            "pondra::SingleInstanceGuard|Another copy of Pondra is already open. Switching to it now.",
            "pondra::SingleInstanceGuard|Another copy of Pondra holds its lock but does not answer.",
        };
        for (const QString& message : messages)
            QTest::newRow(qPrintable(message)) << message;
    }
    void templateHoldsTheFixedTexts()
    {
        QFETCH(QString, message);
        static const QStringList messages = messagesOf(QStringLiteral(PONDRA_TRANSLATION_TEMPLATE));
        QVERIFY(messages.contains(message));
    }

    /// Every context is one of our classes (a text marked where the class is
    /// not known would reach no translation), and log lines are not there.
    void templateHoldsOnlyOurClassesTexts()
    {
        const QStringList messages = messagesOf(QStringLiteral(PONDRA_TRANSLATION_TEMPLATE));
        QVERIFY(!messages.isEmpty());
        for (const QString& message : messages)
            QVERIFY2(message.startsWith(QLatin1String("pondra::")), qPrintable(message));
        for (const QString& line : {QStringLiteral("No system tray available; running without the tray icon"),
                                    QStringLiteral("Couldn't check for updates: %@")})
            QVERIFY(!messages.contains(QStringLiteral("pondra::TrayIcon|") + line) &&
                    !messages.contains(QStringLiteral("pondra::FeedUpdater|") + line));
    }

    /// The first of the user's languages with a translation wins, up to the
    /// first English one; a region falls back to its language; a file that
    /// does not load is passed over.
    void loadsTheFirstMatchingLanguage_data()
    {
        QTest::addColumn<QStringList>("languages");
        QTest::addColumn<QString>("garbage");
        QTest::addColumn<QString>("loaded");
        QTest::addColumn<QString>("title");
        const QString source = QStringLiteral("Pondra Settings");
        const QString esperanto = QStringLiteral("Agordoj de Pondra");
        const QString interlingua = QStringLiteral("Configuration de Pondra");
        QTest::newRow("no languages") << QStringList() << QString() << QString() << source;
        QTest::newRow("none translated") << QStringList{"fr-FR", "de"} << QString() << QString() << source;
        QTest::newRow("exact") << QStringList{"eo"} << QString() << "eo" << esperanto;
        QTest::newRow("region falls back") << QStringList{"eo-BR"} << QString() << "eo" << esperanto;
        QTest::newRow("first match wins")
            << QStringList{"fr", "ia-FR", "eo"} << QString() << "ia" << interlingua;
        // The texts are written in English: a user who prefers it gets them as written.
        QTest::newRow("English first") << QStringList{"en-GB", "eo"} << QString() << QString() << source;
        QTest::newRow("English in a later place")
            << QStringList{"fr", "en", "ia", "eo"} << QString() << QString() << source;
        QTest::newRow("unreadable file passed over") << QStringList{"zz", "eo"} << "pondra_zz.qm"
                                                     << "eo" << esperanto;
    }
    void loadsTheFirstMatchingLanguage()
    {
        QFETCH(QStringList, languages);
        QFETCH(QString, garbage);
        QFETCH(QString, loaded);
        QFETCH(QString, title);
        ResourceFolder folder;
        if (!garbage.isEmpty())
            folder.putGarbage(garbage);
        test::AppRig rig;
        rig.build();
        {
            const Translations translations(languages);
            QCOMPARE(translations.language(), loaded);
            SettingsView view(*rig.app);
            QCOMPARE(view.windowTitle(), title);
            if (loaded == QLatin1String("eo")) {
                QCOMPARE(labelFor(view.serverURLField()), QStringLiteral("Adreso de la servilo"));
                QCOMPARE(view.autoRetakePicker()->itemText(4), QStringLiteral("\u0108iujn 5 minutojn"));
                // What is not translated stays as written.
                QCOMPARE(labelFor(view.emailField()), QStringLiteral("Email"));
            }
        }
        // Gone with the object: the texts are as written again.
        SettingsView view(*rig.app);
        QCOMPARE(view.windowTitle(), QStringLiteral("Pondra Settings"));
    }
};

PONDRA_VIEW_TEST_MAIN(TestTranslations)
#include "tst_translations.moc"
