// The client end to end against a local HTTP server: outcomes and limits as the user sees them, scheduling.
#include "update/Updater.h"

#include "../common/PeakMemory.h"
#include "FeedServer.h"
#include "dateutil/Clock.h"
#include "update/MessageBoxPresenter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

using update::CheckResult;
using update::Updater;
using Outcome = CheckResult::Outcome;
using Failure = CheckResult::Failure;

const QString kBuild = QStringLiteral("100");

QByteArray release(const QString& version, const QString& link = QStringLiteral("https://example.test/get")) {
    return feedOf(QStringLiteral("<item><sparkle:version>%1</sparkle:version><link>%2</link></item>")
                      .arg(version, link));
}

// The dialog the client's own presenter has on screen, or null.
QMessageBox* dialogOf(const Updater& updater) {
    return static_cast<update::MessageBoxPresenter*>(updater.presenter())->dialog();
}

// Receives the links that QDesktopServices would hand to the system.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    LinkCatcher() {
        for (auto scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~LinkCatcher() override {
        for (auto scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    Q_SLOT void open(const QUrl& url) { opened.push_back(url); }
    QList<QUrl> opened;
};

class UpdaterTest : public testing::Test {
protected:
    void SetUp() override {
        // The local servers are reached directly, whatever proxy this machine sets (each test runs in a
        // process of its own: nothing needs restoring).
        for (const char* name :
             {"http_proxy", "https_proxy", "no_proxy", "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY"})
            qunsetenv(name);
        // Settings of its own, so test processes that run side by side never share the stored time.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        m_updater.setTransferTimeout(std::chrono::milliseconds(300));
        m_updater.setBuildVersion(kBuild);
    }
    CheckResult check(const QUrl& feed) {
        m_updater.setFeedURL(feed);
        QSignalSpy spy(&m_updater, &Updater::checkFinished);
        m_updater.checkForUpdates();
        if (spy.isEmpty() && !spy.wait(5000))
            return {};
        return spy.takeFirst().at(0).value<CheckResult>();
    }

    QTemporaryDir m_settingsDir;
    LinkCatcher m_links;
    FeedServer m_server;
    Updater m_updater;
};

// Each outcome in its own plain-text dialog; a newer version offers its download page if that is a web page.
TEST_F(UpdaterTest, UserCheckShowsEveryOutcomeInPlainText) {
    m_server.serve("/newer", 200, release("199"));
    // Build numbers as versions, short versions shown: offered to build 100, the same as 110, older than 111.
    QFile sample(QStringLiteral(VARNEL_SAMPLE_FEED));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    m_server.serve("/sample", 200, sample.readAll());
    // Versions as element and as attribute; the version shown is not read as markup.
    m_server.serve("/several", 200, feedOf(R"(<item><sparkle:version>200</sparkle:version></item>
        <item><enclosure sparkle:version="300" sparkle:shortVersionString="&lt;b&gt;3&lt;/b&gt;"/></item>
        <item><sparkle:version>5</sparkle:version></item>)"));
    // Matched by namespace: the familiar prefix bound to another namespace is ignored.
    m_server.serve("/prefix", 200,
                   feedOf(R"(<item><su:version>400</su:version></item>
        <item xmlns:sparkle="urn:other"><sparkle:version>800</sparkle:version></item>)",
                          "su"));
    m_server.serve("/moved", 301, "", "Location: /newer\r\n");
    m_server.serve("/loop", 302, "", "Location: /loop\r\n");
    m_server.serve("/local", 302, "", "Location: file:///etc/passwd\r\n");
    m_server.stall("/stall");
    m_server.serve("/declared", 200, "<rss>", "Content-Length: 2000000\r\n", false); // and then nothing more
    m_server.serve("/streamed", 200, "<rss>" + QByteArray(Updater::kMaxFeedBytes, ' '), {}, false);
    m_server.serve("/garbage", 200, "\x89PNG\r\n\x1a\n garbage");
    // Releases without a machine version, or none at all: nothing to say "up to date" by.
    m_server.serve("/unversioned", 200,
                   feedOf("<item><title>2.0</title><enclosure url=\"/2.0.zip\"/></item>"));
    m_server.serve("/empty", 200, feedOf({}));
    constexpr auto newer = Outcome::UpdateAvailable, current = Outcome::UpToDate, failed = Outcome::Failed;
    const struct {
        QString feed; // a path on the local server, or a whole address
        Outcome outcome;
        Failure failure = Failure::None;
        const char* offered = "";
        const char* buttons = "OK";
        const char* build = "100";
    } cases[] = {
        // clang-format off
        {"/newer", newer, {}, "199", "Download Close"}, {"/moved", newer, {}, "199", "Download Close"},
        {"/sample", newer, {}, "1.1.0 is now available; you have 1.0.0", "Download Close"},
        {"/sample", current, {}, "", "OK", "110"}, {"/sample", current, {}, "", "OK", "111"},
        {"/several", newer, {}, "<b>3</b>", "Close"}, {"/prefix", newer, {}, "400", "Close"},
        {"/missing", failed, Failure::HttpStatus}, {"/loop", failed, Failure::Redirect},
        {"/local", failed, Failure::Redirect}, {"/stall", failed, Failure::Timeout},
        {"/declared", failed, Failure::TooLarge}, {"/streamed", failed, Failure::TooLarge},
        {"/garbage", failed, Failure::UnreadableFeed},
        {"/unversioned", failed, Failure::UnreadableFeed}, {"/empty", failed, Failure::UnreadableFeed},
        {"file:///etc/passwd", failed, Failure::NoFeed},
        {"http://127.0.0.1:0/", failed, Failure::Network}, // nobody can listen on port 0
    }; // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.feed.toStdString());
        m_updater.setBuildVersion(QString::fromLatin1(c.build));
        const CheckResult result = check(c.feed.startsWith('/') ? m_server.url(c.feed) : QUrl(c.feed));
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(result.reason.isEmpty(), c.outcome != Outcome::Failed);
        QMessageBox* box = dialogOf(m_updater);
        ASSERT_TRUE(box && box == QApplication::activeModalWidget());
        EXPECT_TRUE(box->text().contains(QString::fromUtf8(c.offered)));
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        QStringList buttons;
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        EXPECT_EQ(buttons.join(' '), c.buttons);
        box->buttons().constFirst()->click();
    }
    EXPECT_EQ(m_links.opened, QList<QUrl>({QUrl("https://example.test/get"), QUrl("https://example.test/get"),
                                           QUrl("https://www.varnel.app/download")}));
}

TEST_F(UpdaterTest, AskingDuringACheckJoinsIt) {
    m_server.stall("/slow");
    m_updater.setFeedURL(m_server.url("/slow"));
    QSignalSpy spy(&m_updater, &Updater::checkFinished);
    m_updater.setAutomaticallyChecksForUpdates(true); // never checked before: due now, silently
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_updater.isChecking(); }, 2000));
    m_updater.checkForUpdates();
    m_updater.checkForUpdates();
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_TRUE(spy.takeFirst().at(0).value<CheckResult>().userInitiated); // so its failure is shown
    EXPECT_TRUE(dialogOf(m_updater));
    EXPECT_EQ(m_server.requests, 1);
    EXPECT_TRUE(spy.isEmpty());
}

TEST_F(UpdaterTest, SystemProxyCarriesTheRequest) {
    FeedServer proxy;
    proxy.serve("http://feed.invalid/updates", 200, release("199"));
    qputenv("http_proxy", "http://127.0.0.1:" + QByteArray::number(proxy.port()));
    const CheckResult result = check(QUrl("http://feed.invalid/updates")); // resolvable by the proxy only
    qunsetenv("http_proxy");
    EXPECT_EQ(result.outcome, Outcome::UpdateAvailable);
}

// Automatic checks at start-up, with the clock pinned: when they run, what they store, what they show.
TEST_F(UpdaterTest, AutomaticChecksRunWhenDueAndSpeakOnlyOfNewerVersions) {
    constexpr double now = 1'800'000'000, day = 86400;
    const dateutil::ScopedClock clock(now);
    m_server.serve("/newer", 200, release("199", m_server.url("/download").toString()));
    const struct {
        const char* target;
        double lastCheck; // as stored before start-up
        bool checks, shown;
        double storedAfter, next;
    } cases[] = {
        // clang-format off
        {"/newer", now - day, true, true, now, now + day},
        {"/never", now - 3600, false, false, now - 3600, now - 3600 + day}, // recent: not due
    }; // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        QSettings().setValue(QLatin1String(Updater::kLastCheckKey), c.lastCheck);
        Updater updater;
        updater.setBuildVersion(kBuild);
        updater.setFeedURL(m_server.url(QString::fromLatin1(c.target)));
        updater.setUpdateCheckInterval(day);
        updater.setAutomaticallyDownloadsUpdates(true); // recorded only: nothing is ever downloaded
        QSignalSpy spy(&updater, &Updater::checkFinished);
        updater.setAutomaticallyChecksForUpdates(true);
        EXPECT_EQ(spy.wait(c.checks ? 2000 : 200), c.checks);
        EXPECT_EQ(dialogOf(updater) != nullptr, c.shown);
        EXPECT_EQ(Updater::lastUpdateCheckDate(), c.storedAfter);
        EXPECT_EQ(updater.nextUpdateCheckDate(), c.next);
    }
    EXPECT_EQ(m_server.requests, 1); // the feed of the one check, never the download
}

// With the clock pinned and moved on by hand: failed automatic checks are retried after 15 minutes, then
// an hour, then the interval, all silently, and store nothing; a successful one returns to the interval.
// The schedule's timer, made to fire, checks only once the time has come. The stored check lies a year
// ahead (the clock was set back): it counts as none.
TEST_F(UpdaterTest, FailedAutomaticChecksAreRetriedSoonerUntilOneSucceeds) {
    constexpr double start = 1'800'000'000, day = 86400;
    double now = start;
    const dateutil::ScopedClock clock([&now] { return now; });
    m_updater.setFeedURL(m_server.url("/feed"));
    m_updater.setUpdateCheckInterval(std::nan("")); // ignored: the daily default holds
    QSettings().setValue(QLatin1String(Updater::kLastCheckKey), start + 365 * day);
    auto* schedule = m_updater.findChild<QTimer*>(QStringLiteral("schedule"));
    ASSERT_TRUE(schedule);
    QSignalSpy spy(&m_updater, &Updater::checkFinished);
    // The feed's status at each check, and the wait for the next.
    const std::pair<int, double> checks[] = {{404, 900}, {404, 3600}, {404, day}, {200, day}, {404, 900}};
    for (const auto& [status, wait] : checks) {
        SCOPED_TRACE(now - start);
        m_server.serve("/feed", status, release(kBuild));
        if (now == start) {
            m_updater.setAutomaticallyChecksForUpdates(true); // due at once
        } else {
            now += 1;
            schedule->start(0);
        }
        ASSERT_TRUE(spy.wait(2000));
        EXPECT_EQ(spy.takeFirst().at(0).value<CheckResult>().outcome,
                  status == 200 ? Outcome::UpToDate : Outcome::Failed);
        EXPECT_FALSE(dialogOf(m_updater));
        EXPECT_EQ(m_updater.nextUpdateCheckDate(), now + wait);
        EXPECT_NEAR(schedule->remainingTime(), wait * 1000, 1000);
        now += wait - 1; // a second early: firing checks nothing
        schedule->start(0);
        EXPECT_FALSE(spy.wait(100));
    }
    EXPECT_EQ(Updater::lastUpdateCheckDate(), start + 900 + 3600 + day);
}

// An endless body is abandoned once it passes the limit, and the network layer, which reads on a thread of
// its own, stops taking it from the server at the limit even while this thread is busy elsewhere.
TEST_F(UpdaterTest, AnEndlessFeedKeepsMemoryBounded) {
    m_server.serve("/same", 200, release(kBuild));
    m_updater.setPresenter(nullptr);
    m_updater.setTransferTimeout(std::chrono::seconds(10));
    EXPECT_EQ(check(m_server.url("/same")).outcome, Outcome::UpToDate); // the network layer is warm
    EndlessFeed endless;
    ASSERT_TRUE(resetPeakMemory());
    const long before = peakMemoryKiB();
    m_updater.setFeedURL(endless.url());
    QSignalSpy spy(&m_updater, &Updater::checkFinished);
    m_updater.checkForUpdates();
    ASSERT_TRUE(QTest::qWaitFor([&] { return endless.requested.load(); }, 2000));
    endless.flowing = true;
    QThread::msleep(800); // busy: unbounded, the network thread would buffer hundreds of MiB meanwhile
    ASSERT_TRUE(spy.wait(5000));
    EXPECT_EQ(spy.takeFirst().at(0).value<CheckResult>().failure, Failure::TooLarge);
    EXPECT_LT(peakMemoryKiB() - before, 16 * 1024); // 3-6 MiB; more under ASan, which holds freed blocks
}

TEST(UpdaterForBundle, HandsOutOneSharedClientOwnedByTheApplicationThatStartsQuietly) {
    const dateutil::ScopedClock clock(1'800'000'000);
    QSettings().remove(QLatin1String(Updater::kLastCheckKey));
    Updater* shared = Updater::updaterForBundle(QStringLiteral("Varnel"));
    ASSERT_NE(shared, nullptr);
    shared->setAutomaticallyChecksForUpdates(true); // never checked, yet not before the window is up
    EXPECT_EQ(shared->nextUpdateCheckDate(), 1'800'000'000 + Updater::kQuietStart);
    shared->setAutomaticallyChecksForUpdates(false);
    EXPECT_EQ(shared, Updater::updaterForBundle(QStringLiteral("Varnel")));
    EXPECT_EQ(shared->parent(), qApp);
    EXPECT_EQ(Updater::updaterForBundle(QString()), nullptr);
}

} // namespace

#include "UpdaterTest.moc"
