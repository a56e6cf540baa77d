#include "platform/http/QtHttpClient.h"
#include "platform/updater/FakeUpdater.h"
#include "platform/updater/FeedUpdater.h"
#include "platform/urlopener/FakeUrlOpener.h"
#include "ui/tray/CheckForUpdates.h"

#include "MiniHttpServer.h"
#include "ViewTesting.h"

#include <QAction>
#include <QMessageBox>
#include <QPushButton>

#include <memory>

using namespace pondra;
using test::HttpResponseSpec;
using test::MiniHttpServer;

namespace {

const QVersionNumber runningVersion(1, 4, 0);

QPushButton* buttonNamed(QMessageBox& box, const QString& text)
{
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == text)
            return qobject_cast<QPushButton*>(button);
    }
    return nullptr;
}

/// The command over an updater the test answers.
struct FakeRig
{
    FakeUpdater* updater = nullptr;
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
    std::unique_ptr<CheckForUpdatesViewModel> model;
    std::unique_ptr<CheckForUpdatesView> view;

    explicit FakeRig(bool canCheck)
    {
        auto owned = std::make_unique<FakeUpdater>();
        updater = owned.get();
        updater->setCanCheckForUpdates(canCheck);
        model = std::make_unique<CheckForUpdatesViewModel>(std::move(owned));
        view = std::make_unique<CheckForUpdatesView>(*model, opener);
    }
    /// One check, answered with a newer version offered at `page`.
    QMessageBox* offer(const QUrl& page)
    {
        view->action()->trigger();
        updater->answer(updater->checks.size() - 1,
                        {UpdateCheckResult::Kind::updateAvailable, QStringLiteral("2.0"), page, {}});
        return view->answerMessage();
    }
};

/// The command over the feed checker on a loopback feed, on virtual time.
struct FeedRig
{
    VirtualScheduler scheduler;
    std::shared_ptr<FakeUrlOpener> opener = std::make_shared<FakeUrlOpener>();
    FeedUpdater* updater = nullptr;
    std::unique_ptr<CheckForUpdatesViewModel> model;
    std::unique_ptr<CheckForUpdatesView> view;

    explicit FeedRig(const QUrl& feed)
    {
        auto owned =
            std::make_unique<FeedUpdater>(feed, std::make_shared<QtHttpClient>(), scheduler, runningVersion);
        updater = owned.get();
        model = std::make_unique<CheckForUpdatesViewModel>(std::move(owned));
        view = std::make_unique<CheckForUpdatesView>(*model, opener);
    }
    QAction& command() { return *view->action(); }
    QMessageBox* answer() { return view->answerMessage(); }
};

} // namespace

class TestUpdater final : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void commandFollowsTheUpdater()
    {
        FakeRig rig(true);
        FakeUpdater& updater = *rig.updater;
        QAction& command = *rig.view->action();
        // The updater's value from the start, not the initial false.
        QVERIFY(rig.model->canCheckForUpdates.get());
        QCOMPARE(command.text(), QStringLiteral("Check for Updates\u2026"));
        QVERIFY(command.isEnabled());
        updater.setCanCheckForUpdates(false);
        QVERIFY(!command.isEnabled());
        command.trigger();
        QCOMPARE(updater.checks.size(), 0);
        updater.setCanCheckForUpdates(true);
        QVERIFY(command.isEnabled());
        command.trigger();
        QCOMPARE(updater.checks.size(), 1);
        command.trigger();
        QCOMPARE(updater.checks.size(), 2);
    }

    void thisBuildsUpdater()
    {
        CheckForUpdatesViewModel model;
        CheckForUpdatesView view(model, std::make_shared<FakeUrlOpener>());
        // Built without a feed address, the command is shown disabled.
        if (!QByteArray(PONDRA_TEST_UPDATE_FEED_URL).isEmpty())
            QSKIP("this build names an update feed");
        QVERIFY(!model.canCheckForUpdates.get());
        QVERIFY(!view.action()->isEnabled());
    }

    void feedAddresses_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("allowed");
        QTest::newRow("https") << "https://updates.example.org/pondra.json" << true;
        QTest::newRow("http on 127.0.0.1") << "http://127.0.0.1:8080/feed.json" << true;
        QTest::newRow("http on localhost") << "http://localhost/feed.json" << true;
        QTest::newRow("http on ::1") << "http://[::1]:8080/feed.json" << true;
        QTest::newRow("http elsewhere") << "http://updates.example.org/pondra.json" << false;
        QTest::newRow("file") << "file:///tmp/feed.json" << false;
        QTest::newRow("https without host") << "https:///feed.json" << false;
    }
    void feedAddresses()
    {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(isSecureUpdateLink(QUrl(url)), allowed);
        if (!allowed)
            QTest::ignoreMessage(
                QtCriticalMsg,
                qPrintable(QStringLiteral("Ignoring update feed %1: only https feeds are checked")
                               .arg(QUrl(url).toString())));
        VirtualScheduler scheduler;
        FeedUpdater updater(QUrl(url), std::make_shared<QtHttpClient>(), scheduler, runningVersion);
        QCOMPARE(updater.canCheckForUpdates().get(), allowed);
    }

    /// One request per choice, and the answer it gives, for each kind of feed.
    void answers_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("offersDownload");
        const QString unreadable =
            QStringLiteral("Couldn't check for updates: The update feed could not be read");
        QTest::newRow("newer") << 200
                               << QByteArray("{\"version\":\"1.5.0\",\"url\":\"https://example.org/get\"}")
                               << "Pondra 1.5.0 is available." << true;
        QTest::newRow("newer by number, not by text")
            << 200 << QByteArray("{\"version\":\"1.10\",\"url\":\"https://example.org/get\"}")
            << "Pondra 1.10 is available." << true;
        QTest::newRow("same") << 200
                              << QByteArray("{\"version\":\"1.4.0\",\"url\":\"https://example.org/get\"}")
                              << "Pondra is up to date." << false;
        QTest::newRow("older") << 200
                               << QByteArray("{\"version\":\"1.3.9\",\"url\":\"https://example.org/get\"}")
                               << "Pondra is up to date." << false;
        QTest::newRow("not JSON") << 200 << QByteArray("<html>moved</html>") << unreadable << false;
        QTest::newRow("no version") << 200 << QByteArray("{\"url\":\"https://example.org/get\"}")
                                    << unreadable << false;
        QTest::newRow("version with a suffix")
            << 200 << QByteArray("{\"version\":\"2.0.0-beta\",\"url\":\"https://example.org/get\"}")
            << unreadable << false;
        QTest::newRow("version as a number")
            << 200 << QByteArray("{\"version\":2,\"url\":\"https://example.org/get\"}") << unreadable
            << false;
        QTest::newRow("link that is not a web page")
            << 200 << QByteArray("{\"version\":\"2.0.0\",\"url\":\"mailto:team@example.org\"}") << unreadable
            << false;
        QTest::newRow("link without a host")
            << 200 << QByteArray("{\"version\":\"2.0.0\",\"url\":\"https:///get\"}") << unreadable << false;
        QTest::newRow("not found") << 404 << QByteArray("nope")
                                   << "Couldn't check for updates: The server answered with status 404"
                                   << false;
    }
    void answers()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, text);
        QFETCH(bool, offersDownload);
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([&](const test::HttpRequestHead&) { return HttpResponseSpec{status, body}; });
        FeedRig rig(server.url(QStringLiteral("/feed.json")));
        if (text.startsWith(QLatin1String("Couldn't")))
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(text));
        QVERIFY(rig.command().isEnabled());
        rig.command().trigger();
        // While the check runs, the command cannot start another.
        QVERIFY(!rig.command().isEnabled());
        rig.command().trigger();
        QTRY_VERIFY(rig.answer());
        QVERIFY(rig.command().isEnabled());
        QCOMPARE(server.requests().size(), 1);
        const test::HttpRequestHead& request = server.requests().first();
        QCOMPARE(request.method, QByteArray("GET"));
        QCOMPARE(request.target, QByteArray("/feed.json"));
        QVERIFY(!request.headers.contains("authorization"));

        QMessageBox& box = *rig.answer();
        QCOMPARE(box.text(), text);
        QVERIFY(box.isVisible());
        QCOMPARE(box.windowModality(), Qt::NonModal);
        QCOMPARE(buttonNamed(box, QStringLiteral("Open Download Page")) != nullptr, offersDownload);

        // Each choice is one more request, and its answer replaces the last.
        if (text.startsWith(QLatin1String("Couldn't")))
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(text));
        int answers = 0;
        connect(rig.model.get(), &CheckForUpdatesViewModel::answered, this, [&answers] { ++answers; });
        rig.command().trigger();
        QTRY_COMPARE(answers, 1);
        QCOMPARE(server.requests().size(), 2);
        QVERIFY(rig.answer() && rig.answer()->isVisible());
    }

    void unreachableFeed()
    {
        quint16 closedPort = 0;
        {
            MiniHttpServer gone;
            QVERIFY(gone.listen());
            closedPort = gone.port();
        }
        FeedRig rig(QUrl(QStringLiteral("http://127.0.0.1:%1/feed.json").arg(closedPort)));
        QTest::ignoreMessage(QtCriticalMsg, "Couldn't check for updates: Connection refused");
        rig.command().trigger();
        QTRY_VERIFY(rig.answer());
        QCOMPARE(rig.answer()->text(), QStringLiteral("Couldn't check for updates: Connection refused"));
        QVERIFY(rig.command().isEnabled());
    }

    void feedThatNeverAnswersTimesOut()
    {
        MiniHttpServer server;
        QVERIFY(server.listen());
        server.setHandler([](const test::HttpRequestHead&) { return HttpResponseSpec{200, {}, {}, true}; });
        FeedRig rig(server.url(QStringLiteral("/feed.json")));
        rig.command().trigger();
        QTRY_COMPARE(server.requests().size(), 1);
        rig.scheduler.advance(FeedUpdater::deadline - std::chrono::milliseconds(1));
        QVERIFY(!rig.answer());
        QVERIFY(!rig.command().isEnabled());
        QTest::ignoreMessage(QtCriticalMsg, "Couldn't check for updates: The request timed out");
        rig.scheduler.advance(std::chrono::milliseconds(1));
        QVERIFY(rig.answer());
        QCOMPARE(rig.answer()->text(), QStringLiteral("Couldn't check for updates: The request timed out"));
        QVERIFY(rig.command().isEnabled());
    }

    /// The feed's link is refused when it is less secure than the feed itself.
    void downloadLinkAsSecureAsTheFeed_data()
    {
        QTest::addColumn<bool>("feedOverTls");
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("offered");
        QTest::newRow("https feed, https link") << true << "https://example.org/get" << true;
        QTest::newRow("https feed, http link") << true << "http://example.org/get" << false;
        QTest::newRow("https feed, http link on loopback") << true << "http://127.0.0.1/get" << false;
        QTest::newRow("loopback feed, https link") << false << "https://example.org/get" << true;
        QTest::newRow("loopback feed, loopback link") << false << "http://127.0.0.1/get" << true;
        QTest::newRow("loopback feed, http link elsewhere") << false << "http://example.org/get" << false;
    }
    void downloadLinkAsSecureAsTheFeed()
    {
        QFETCH(bool, feedOverTls);
        QFETCH(QString, link);
        QFETCH(bool, offered);
        MiniHttpServer server;
        if (feedOverTls) {
            static const std::optional<test::TestCertificate> certificate = test::TestCertificate::make();
            QVERIFY2(certificate, "the openssl tool made no certificate");
            certificate->trustInThisProcess();
            QVERIFY(server.listenTls(*certificate));
        } else {
            QVERIFY(server.listen());
        }
        const QByteArray feed = "{\"version\":\"2.0.0\",\"url\":\"" + link.toUtf8() + "\"}";
        server.setHandler([&](const test::HttpRequestHead&) { return HttpResponseSpec{200, feed}; });
        FeedRig rig(server.url(QStringLiteral("/feed.json")));
        const QString unreadable =
            QStringLiteral("Couldn't check for updates: The update feed could not be read");
        if (!offered)
            QTest::ignoreMessage(QtCriticalMsg, qPrintable(unreadable));
        rig.command().trigger();
        QTRY_VERIFY(rig.answer());
        QCOMPARE(rig.answer()->text(), offered ? QStringLiteral("Pondra 2.0.0 is available.") : unreadable);
        QPushButton* open = buttonNamed(*rig.answer(), QStringLiteral("Open Download Page"));
        QCOMPARE(open != nullptr, offered);
        if (open) {
            open->click();
            QCOMPARE(rig.opener->opened, QList<QUrl>{QUrl(link)});
        }
    }

    void downloadPageOpensOnlySecureLinks_data()
    {
        QTest::addColumn<QUrl>("page");
        QTest::addColumn<bool>("opens");
        QTest::newRow("https") << QUrl(QStringLiteral("https://example.org/get")) << true;
        QTest::newRow("http") << QUrl(QStringLiteral("http://example.org/get")) << false;
        QTest::newRow("http on loopback") << QUrl(QStringLiteral("http://127.0.0.1:8080/get")) << true;
        QTest::newRow("file") << QUrl(QStringLiteral("file:///etc/passwd")) << false;
        QTest::newRow("no host") << QUrl(QStringLiteral("https:///get")) << false;
    }
    void downloadPageOpensOnlySecureLinks()
    {
        QFETCH(QUrl, page);
        QFETCH(bool, opens);
        FakeRig rig(true);
        QMessageBox* box = rig.offer(page);
        QVERIFY(box);
        QCOMPARE(box->text(), QStringLiteral("Pondra 2.0 is available."));
        // Enter dismisses; the browser opens only on a click.
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Close));
        QPushButton* open = buttonNamed(*box, QStringLiteral("Open Download Page"));
        QVERIFY(open);
        open->click();
        QCOMPARE(rig.opener->opened, opens ? QList<QUrl>{page} : QList<QUrl>{});
    }

    void closingOpensNothing()
    {
        FakeRig rig(true);
        QPointer<QMessageBox> box = rig.offer(QUrl(QStringLiteral("https://example.org/get")));
        box->button(QMessageBox::Close)->click();
        QVERIFY(rig.opener->opened.isEmpty());
        QTRY_VERIFY(!box);
        QVERIFY(!rig.view->answerMessage());
    }

    /// The three answers, in the gallery folder.
    void gallery()
    {
        FakeRig rig(true);
        const QList<std::pair<QString, UpdateCheckResult>> answers{
            {QStringLiteral("available"),
             {UpdateCheckResult::Kind::updateAvailable,
              QStringLiteral("1.5.0"),
              QUrl(QStringLiteral("https://example.org/get")),
              {}}},
            {QStringLiteral("current"), {UpdateCheckResult::Kind::upToDate, {}, {}, {}}},
            {QStringLiteral("failed"),
             {UpdateCheckResult::Kind::failed, {}, {}, QStringLiteral("Connection refused")}}};
        for (const auto& [name, result] : answers) {
            rig.view->action()->trigger();
            rig.updater->answer(rig.updater->checks.size() - 1, result);
            QMessageBox* box = rig.view->answerMessage();
            QVERIFY(box);
            QVERIFY(box->grab().save(test::galleryFolder() + QStringLiteral("/update-%1.png").arg(name)));
        }
    }
};

PONDRA_VIEW_TEST_MAIN(TestUpdater)
#include "tst_updater.moc"
