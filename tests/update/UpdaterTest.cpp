// The client end to end against a local HTTP server: outcomes, limits, scheduling and the dialogs.
#include "update/Updater.h"

#include "FeedServer.h"
#include "dateutil/Clock.h"
#include "update/MessageBoxPresenter.h"
#include "varnel/Config.h"

#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using update::CheckResult;
using update::Updater;
using Outcome = CheckResult::Outcome;
using Failure = CheckResult::Failure;

const QString kCurrent = QString::fromUtf8(varnel::config::kVersion);

QByteArray feedOf(const QString& items, const QString& prefix = QStringLiteral("sparkle")) {
    return QStringLiteral(
               "<?xml version=\"1.0\"?><rss version=\"2.0\" xmlns:%1=\"%2\"><channel>%3</channel></rss>")
        .arg(prefix, QString::fromUtf16(update::kAppcastNamespace), items)
        .toUtf8();
}

QByteArray release(const QString& version, const QString& link = QStringLiteral("http://example.test/get")) {
    return feedOf(QStringLiteral("<item><sparkle:version>%1</sparkle:version><link>%2</link></item>")
                      .arg(version, link));
}

class Recorder final : public update::UpdatePresenter {
public:
    explicit Recorder(std::vector<CheckResult>& shown)
        : m_shown(shown) {}
    void present(const CheckResult& result) override { m_shown.push_back(result); }

private:
    std::vector<CheckResult>& m_shown;
};

// Receives the links that QDesktopServices would hand to the system.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    LinkCatcher() {
        for (const char* scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~LinkCatcher() override {
        for (const char* scheme : {"http", "https", "file", "javascript"})
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

// Qt's warnings during a test, which report misuse of QtNetwork or of widgets.
QStringList& qtWarnings() {
    static QStringList warnings;
    return warnings;
}

class UpdaterTest : public testing::Test {
protected:
    void TearDown() override {
        qInstallMessageHandler(m_previousHandler);
        EXPECT_TRUE(qtWarnings().isEmpty()) << qtWarnings().join(u'\n').toStdString();
    }
    void SetUp() override {
        qtWarnings().clear();
        m_previousHandler =
            qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
                // Not faults of ours: the offscreen platform's complaint about dialogs, and QtNetwork's note
                // when an error from its HTTP thread arrives for a reply that was aborted just before.
                if (type != QtDebugMsg && type != QtInfoMsg && !text.contains(u"propagateSizeHints") &&
                    !text.contains(u"must only be called once"))
                    qtWarnings() << text;
            });
        // Settings of its own, so test processes that run side by side never share the stored time.
        ASSERT_TRUE(m_settingsDir.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_settingsDir.path());
        m_updater.setPresenter(std::make_unique<Recorder>(m_shown));
        m_updater.setTransferTimeout(std::chrono::milliseconds(300));
    }

    // Waits for the running (or just finished) check and gives its result.
    CheckResult awaitResult(QSignalSpy& spy) {
        if (spy.isEmpty() && !spy.wait(5000))
            ADD_FAILURE() << "no check finished";
        return spy.isEmpty() ? CheckResult() : spy.takeFirst().at(0).value<CheckResult>();
    }

    CheckResult checkFeed(const QByteArray& target) {
        m_updater.setFeedURL(m_server.url(QString::fromLatin1(target)));
        QSignalSpy spy(&m_updater, &Updater::checkFinished);
        m_updater.checkForUpdates();
        return awaitResult(spy);
    }

    QtMessageHandler m_previousHandler = nullptr;
    QTemporaryDir m_settingsDir;
    FeedServer m_server;
    Updater m_updater;
    std::vector<CheckResult> m_shown;
};

TEST_F(UpdaterTest, UserCheckReportsEveryOutcome) {
    m_server.serve("/newer", 200, release("99.0"));
    m_server.serve("/same", 200, release(kCurrent));
    m_server.serve("/older", 200, release("0.1"));
    m_server.serve("/attribute", 200, feedOf(R"(<item><enclosure url="http://example.test/a.zip"
        sparkle:version="5.0" sparkle:shortVersionString="Five"/></item>)"));
    m_server.serve("/several", 200, feedOf(R"(<item><sparkle:version>2.0</sparkle:version></item>
        <item><enclosure sparkle:version="3.0"/></item><item><sparkle:version>0.5</sparkle:version></item>)"));
    m_server.serve("/prefix", 200, feedOf("<item><su:version>4.0</su:version></item>", QStringLiteral("su")));
    m_server.serve("/moved", 301, "", "Location: /newer\r\n");
    m_server.serve("/empty", 200, feedOf(""));
    struct Case {
        QByteArray target;
        Outcome outcome;
        QString shown; // the version offered, if any
    } cases[] = {
        {"/newer", Outcome::UpdateAvailable, "99.0"},
        {"/same", Outcome::UpToDate, {}},
        {"/older", Outcome::UpToDate, {}},
        {"/attribute", Outcome::UpdateAvailable, "Five"},
        {"/several", Outcome::UpdateAvailable, "3.0"},
        {"/prefix", Outcome::UpdateAvailable, "4.0"},
        {"/moved", Outcome::UpdateAvailable, "99.0"},
        {"/empty", Outcome::UpToDate, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.constData());
        m_shown.clear();
        const CheckResult result = checkFeed(c.target);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_TRUE(result.userInitiated);
        EXPECT_EQ(result.currentVersion, kCurrent);
        if (!c.shown.isEmpty()) {
            ASSERT_TRUE(result.item);
            EXPECT_EQ(result.item->displayVersion(), c.shown);
        }
        ASSERT_EQ(m_shown.size(), 1u); // the user always sees the outcome
        EXPECT_EQ(m_shown[0].outcome, c.outcome);
    }
}

TEST_F(UpdaterTest, HostileOrBrokenAnswersFailWithTheirReason) {
    const QByteArray big(Updater::kMaxFeedBytes + 1, ' ');
    m_server.serve("/loop", 302, "", "Location: /loop\r\n");
    m_server.stall("/stall");
    m_server.serve("/declared", 200, "<rss>", "Content-Length: 2000000\r\n", false); // and then nothing
    m_server.serve("/streamed", 200, "<rss>" + big, {}, false);
    m_server.serve("/dtd", 200,
                   R"(<!DOCTYPE rss [<!ENTITY a "aaaa"><!ENTITY b "&a;&a;&a;&a;">]><rss>&b;</rss>)");
    m_server.serve("/garbage", 200, "\x89PNG\r\n\x1a\n garbage");
    m_server.serve("/teapot", 418, release("99.0"));
    struct Case {
        QByteArray target;
        Failure failure;
    } cases[] = {
        {"/missing", Failure::HttpStatus}, {"/teapot", Failure::HttpStatus},
        {"/loop", Failure::Redirect},      {"/stall", Failure::Timeout},
        {"/declared", Failure::TooLarge},  {"/streamed", Failure::TooLarge},
        {"/dtd", Failure::UnreadableFeed}, {"/garbage", Failure::UnreadableFeed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target.constData());
        m_shown.clear();
        const CheckResult result = checkFeed(c.target);
        EXPECT_EQ(result.outcome, Outcome::Failed);
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_FALSE(result.reason.isEmpty());
        EXPECT_EQ(m_shown.size(), 1u);
        EXPECT_FALSE(m_updater.isChecking());
    }
    EXPECT_FALSE(Updater::lastUpdateCheckDate()); // no failure counts as a check

    m_updater.setFeedURL(QUrl("file:///etc/passwd"));
    QSignalSpy spy(&m_updater, &Updater::checkFinished);
    m_updater.checkForUpdates();
    EXPECT_EQ(awaitResult(spy).failure, Failure::NoFeed);
    QTcpServer closed; // a port nobody listens on
    closed.listen(QHostAddress::LocalHost, 0);
    const quint16 port = closed.serverPort();
    closed.close();
    m_updater.setFeedURL(QUrl(QStringLiteral("http://127.0.0.1:%1/updates").arg(port)));
    m_updater.checkForUpdates();
    EXPECT_EQ(awaitResult(spy).failure, Failure::Network);
}

TEST_F(UpdaterTest, AskingDuringACheckJoinsIt) {
    m_server.stall("/slow");
    m_updater.setFeedURL(m_server.url("/slow"));
    QSignalSpy spy(&m_updater, &Updater::checkFinished);
    m_updater.setAutomaticallyChecksForUpdates(true); // never checked: due now
    ASSERT_TRUE(QTest::qWaitFor([this] { return m_updater.isChecking(); }, 2000));
    m_updater.checkForUpdates();
    m_updater.checkForUpdates();
    const CheckResult result = awaitResult(spy);
    EXPECT_TRUE(result.userInitiated); // so its failure is shown, although the check began silently
    EXPECT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_server.requestCount(), 1);
    EXPECT_TRUE(spy.isEmpty());
}

TEST_F(UpdaterTest, SystemProxyCarriesTheRequest) {
    FeedServer proxy;
    proxy.serve("http://feed.invalid/updates", 200, release("99.0"));
    qputenv("http_proxy", QStringLiteral("http://127.0.0.1:%1").arg(proxy.port()).toLatin1());
    m_updater.setFeedURL(QUrl("http://feed.invalid/updates")); // resolvable by the proxy only
    QSignalSpy spy(&m_updater, &Updater::checkFinished);
    m_updater.checkForUpdates();
    const CheckResult result = awaitResult(spy);
    qunsetenv("http_proxy");
    EXPECT_EQ(result.outcome, Outcome::UpdateAvailable);
    EXPECT_EQ(proxy.requestCount(), 1);
}

// Automatic checks, with the clock pinned.
class UpdaterSchedule : public UpdaterTest {
protected:
    static constexpr double kNow = 1'800'000'000;
    dateutil::ScopedClock m_clock{kNow};

    void storeLastCheck(double seconds) {
        QSettings().setValue(QLatin1String(Updater::kLastCheckKey), seconds);
    }
    // Switches automatic checks on (as start-up does) and gives the result of the check it runs, if any.
    std::optional<CheckResult> startUp(const QByteArray& target, int waitMs = 2000) {
        m_updater.setFeedURL(m_server.url(QString::fromLatin1(target)));
        m_updater.setUpdateCheckInterval(86400);
        QSignalSpy spy(&m_updater, &Updater::checkFinished);
        m_updater.setAutomaticallyChecksForUpdates(true);
        if (!spy.wait(waitMs))
            return std::nullopt;
        return spy.takeFirst().at(0).value<CheckResult>();
    }
};

TEST_F(UpdaterSchedule, FirstCheckIsDueAtStartUpAndSilentWhenUpToDate) {
    m_server.serve("/same", 200, release(kCurrent));
    const auto result = startUp("/same");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->outcome, Outcome::UpToDate);
    EXPECT_FALSE(result->userInitiated);
    EXPECT_TRUE(m_shown.empty());
    EXPECT_EQ(Updater::lastUpdateCheckDate(), kNow);
    EXPECT_EQ(m_updater.nextUpdateCheckDate(), kNow + 86400);
}

TEST_F(UpdaterSchedule, NoCheckWhileTheLastOneIsRecent) {
    storeLastCheck(kNow - 3600);
    EXPECT_FALSE(startUp("/never", 200));
    EXPECT_EQ(m_server.requestCount(), 0);
    EXPECT_EQ(m_updater.nextUpdateCheckDate(), kNow - 3600 + 86400);
    m_updater.setAutomaticallyChecksForUpdates(false);
    EXPECT_FALSE(m_updater.nextUpdateCheckDate());
}

TEST_F(UpdaterSchedule, StaleOrImpossibleLastCheckMakesItDueAndFailuresStaySilent) {
    for (const double last : {kNow - 86401, kNow + 86400 * 365.0}) { // the second: the clock was set back
        Updater updater;
        std::vector<CheckResult> shown;
        updater.setPresenter(std::make_unique<Recorder>(shown));
        updater.setFeedURL(m_server.url("/missing"));
        storeLastCheck(last);
        QSignalSpy spy(&updater, &Updater::checkFinished);
        updater.setAutomaticallyChecksForUpdates(true);
        EXPECT_EQ(updater.nextUpdateCheckDate(), kNow);
        ASSERT_TRUE(spy.wait(2000));
        EXPECT_EQ(spy.takeFirst().at(0).value<CheckResult>().failure, Failure::HttpStatus);
        EXPECT_TRUE(shown.empty());
        EXPECT_EQ(Updater::lastUpdateCheckDate(), last);
        EXPECT_EQ(updater.nextUpdateCheckDate(), kNow + 86400); // not again at once
    }
}

TEST_F(UpdaterSchedule, NewerVersionFoundAutomaticallyIsShown) {
    m_server.serve("/newer", 200, release("99.0"));
    const auto result = startUp("/newer");
    ASSERT_TRUE(result);
    ASSERT_EQ(m_shown.size(), 1u);
    EXPECT_EQ(m_shown[0].outcome, Outcome::UpdateAvailable);
    EXPECT_FALSE(m_shown[0].userInitiated);
}

TEST_F(UpdaterSchedule, IntervalIgnoresNonsenseAndHasAFloor) {
    for (const double bad : {0.0, -5.0, std::nan(""), HUGE_VAL})
        m_updater.setUpdateCheckInterval(bad);
    EXPECT_EQ(m_updater.updateCheckInterval(), 86400);
    m_updater.setUpdateCheckInterval(1);
    EXPECT_EQ(m_updater.updateCheckInterval(), Updater::kMinimumCheckInterval);
    m_updater.setAutomaticallyDownloadsUpdates(true); // recorded, and nothing else
    EXPECT_TRUE(m_updater.automaticallyDownloadsUpdates());
}

TEST(UpdaterForBundle, HandsOutOneSharedClientOwnedByTheApplication) {
    Updater* shared = Updater::updaterForBundle(QStringLiteral("Varnel"));
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared, Updater::updaterForBundle(QStringLiteral("Varnel")));
    EXPECT_EQ(shared->parent(), qApp);
    EXPECT_EQ(Updater::updaterForBundle(QString()), nullptr);
}

// The real dialogs, driven through their buttons.
class UpdateDialog : public UpdaterTest {
protected:
    void SetUp() override {
        UpdaterTest::SetUp();
        m_updater.setPresenter(std::make_unique<update::MessageBoxPresenter>());
    }
    QMessageBox* dialogFor(const QByteArray& target) {
        checkFeed(target);
        auto* box = static_cast<update::MessageBoxPresenter*>(m_updater.presenter())->dialog();
        EXPECT_EQ(QApplication::activeModalWidget(), box);
        return box;
    }
    static QStringList buttonTexts(QMessageBox* box) {
        QStringList texts;
        for (QAbstractButton* b : box->buttons())
            texts << b->text();
        texts.sort();
        return texts;
    }
    LinkCatcher m_links;
};

TEST_F(UpdateDialog, OffersTheDownloadPageAsPlainText) {
    m_server.serve("/newer", 200, feedOf(R"(<item><sparkle:version>99.0</sparkle:version>
        <sparkle:shortVersionString>&lt;b&gt;9&lt;/b&gt;&lt;img src="x"&gt;</sparkle:shortVersionString>
        <link>https://example.test/get</link></item>)"));
    QPointer<QMessageBox> box = dialogFor("/newer");
    ASSERT_TRUE(box);
    EXPECT_EQ(buttonTexts(box), QStringList({"Close", "Download"}));
    EXPECT_TRUE(box->text().contains(QStringLiteral("<b>9</b><img src=\"x\">")));
    for (const QLabel* label : box->findChildren<QLabel*>())
        if (!label->text().isEmpty()) { // the icon's label has none
            EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        }
    for (QAbstractButton* b : box->buttons())
        if (b->text() == u"Download")
            b->click();
    EXPECT_EQ(m_links.opened, QList<QUrl>({QUrl("https://example.test/get")}));
    EXPECT_TRUE(QTest::qWaitFor([&] { return box.isNull(); }, 1000)); // closed and gone
}

TEST_F(UpdateDialog, NeverOpensALinkThatIsNotAWebPage) {
    m_server.serve("/unsafe", 200, feedOf(R"(<item><sparkle:version>99.0</sparkle:version>
        <link>javascript:alert(1)</link><enclosure url="file:///etc/passwd"/></item>)"));
    QMessageBox* box = dialogFor("/unsafe");
    ASSERT_TRUE(box);
    EXPECT_EQ(buttonTexts(box), QStringList({"Close"}));
    for (QAbstractButton* b : box->buttons())
        b->click();
    // Even a result that carries such a link gets no button that could open it.
    CheckResult forged;
    forged.outcome = Outcome::UpdateAvailable;
    forged.item.emplace().version = "99.0";
    forged.item->downloadPage = QUrl("javascript:alert(1)");
    update::MessageBoxPresenter presenter;
    presenter.present(forged);
    EXPECT_EQ(buttonTexts(presenter.dialog()), QStringList({"Close"}));
    EXPECT_TRUE(m_links.opened.isEmpty());
}

TEST_F(UpdateDialog, UpToDateAndFailureHaveOneOkButton) {
    m_server.serve("/same", 200, release(kCurrent));
    QMessageBox* box = dialogFor("/same");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->text().contains(kCurrent));
    EXPECT_EQ(buttonTexts(box), QStringList({"OK"}));
    box = dialogFor("/missing");
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->text().contains(u"404"));
    EXPECT_EQ(buttonTexts(box), QStringList({"OK"}));
    box->buttons().constFirst()->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeModalWidget() == nullptr; }, 1000));
}

} // namespace

#include "UpdaterTest.moc"
