// Alerts, the update, help and home-page commands, and the administrator check.
#include "AppFixture.h"
#include "app/WindowPlacement.h"
#include "varnel/Config.h"

#include <QDesktopServices>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>

namespace {

class Commands : public AppFixture {};

// Receives the addresses that QDesktopServices would hand to the browser.
class LinkCatcher : public QObject {
    Q_OBJECT
public:
    LinkCatcher() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~LinkCatcher() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    Q_SLOT void open(const QUrl& url) { opened << url.toString(); }
    QStringList opened;
};

TEST_F(Commands, AlertsShowTheirTextLiterallyWithOneOkButton) {
    AlertWatcher watcher;
    const QString tricky = QStringLiteral("100% done: <b>%s</b> &amp; %1 %n");
    delegate.alert(tricky);
    ASSERT_EQ(watcher.alerts.size(), 1u);
    const SeenAlert& seen = watcher.alerts.front();
    EXPECT_EQ(seen.title, QStringLiteral("Varnel"));
    EXPECT_EQ(seen.text, tricky);
    EXPECT_EQ(seen.format, Qt::PlainText);
    EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
    // Information shows the application's own icon, read from its resources before the window has it.
    EXPECT_EQ(seen.icon, QMessageBox::NoIcon);
}

TEST_F(Commands, UpdateCommandUsesTheClientOrSaysWhereToLook) {
    AlertWatcher watcher;
    // With the client: a check starts (against a feed nobody serves), and no alert of ours.
    update::Updater* client = updater();
    client->setPresenter(nullptr);
    client->setFeedURL(QUrl(QStringLiteral("http://127.0.0.1:1/updates")));
    QSignalSpy checked(client, &update::Updater::checkFinished);
    ui.btnScanAndFix->setEnabled(false); // the commands work in the busy state too
    ui.miUpdateCheck->trigger();
    EXPECT_TRUE(checked.wait(5000));
    EXPECT_TRUE(watcher.alerts.empty());

    // Without one: where to look instead.
    app::AppDelegate withoutClient;
    withoutClient.setWindow(&window);
    withoutClient.miUpdateCheckClicked();
    ASSERT_EQ(watcher.alerts.size(), 1u);
    EXPECT_EQ(watcher.alerts[0].text,
              QStringLiteral("Unable to check for updates, please visit www.varnel.app "
                             "to download the latest version."));
    EXPECT_EQ(watcher.alerts[0].icon, QMessageBox::Warning);
}

TEST_F(Commands, StartUpPointsTheClientAtTheHttpsFeedOnADailyRhythm) {
    EXPECT_EQ(updater()->feedURL(), QUrl(QStringLiteral("https://www.varnel.app/updates")));
    EXPECT_EQ(updater()->updateCheckInterval(), 86400.0);
    EXPECT_FALSE(updater()->automaticallyDownloadsUpdates());
}

TEST_F(Commands, HelpAndTheLinkOpenTheSitesPagesInTheBrowserOrShowTheAddress) {
    {
        AlertWatcher watcher; // no browser on this platform
        ui.miHelp->trigger();
        ASSERT_EQ(watcher.alerts.size(), 1u);
        EXPECT_EQ(
            watcher.alerts[0].text,
            QStringLiteral("No web browser could be opened. The address is:\nhttp://www.varnel.app/faq"));
        EXPECT_EQ(watcher.alerts[0].icon, QMessageBox::Warning);
    }
    LinkCatcher browser;
    ui.miHelp->trigger();
    QTest::mouseClick(ui.lblLink, Qt::LeftButton);
    EXPECT_EQ(browser.opened, QStringList({QStringLiteral("http://www.varnel.app/faq"),
                                           QStringLiteral("http://www.varnel.app/")}));
    EXPECT_TRUE(ui.lblLink->font().underline());
}

TEST(AdminCheck, AListingThePrimaryGroupOrRootCountsForTheRealUser) {
    struct Row {
        const char* what;
        FakeGroups::Groups groups;
        const char* login;
        uid_t realUser;
        gid_t primaryGroup;
        bool admin;
    } const rows[] = {
        {"listed in sudo", {{"sudo", {"root", "alex"}}}, "alex", 1000, 1000, true},
        {"listed in wheel", {{"wheel", {"alex"}}}, "alex", 1000, 1000, true},
        {"listed in admin", {{"admin", {"alex"}}}, "alex", 1000, 1000, true},
        {"letter case differs", {{"sudo", {"Alex"}}}, "alex", 1000, 1000, false},
        {"a longer name", {{"sudo", {"alexander"}}}, "alex", 1000, 1000, false},
        {"an empty member list", {{"sudo", {}}, {"wheel", {}}}, "alex", 1000, 1000, false},
        {"no administrators' group at all", {}, "alex", 1000, 1000, false},
        {"listed only in another group", {{"staff", {"alex"}}}, "alex", 1000, 1000, false},
        {"root, listed nowhere", {}, nullptr, 0, 0, true},
        {"sudo is the primary group", {{"sudo", {}}}, "alex", 1000, 100, true},
        {"another group is the primary group", {{"staff", {}}, {"sudo", {}}}, "alex", 1000, 100, false},
        {"no login record: the real user's account", {{"sudo", {"alex"}}}, nullptr, 1000, 1000, true},
        {"no login record and no account", {{"sudo", {"alex"}}}, nullptr, 4242, 4242, false},
        {"logged in as another user (su)", {{"sudo", {"alex"}}}, "alex", 1001, 1001, false},
        {"su to an administrator", {{"sudo", {"bob"}}}, "alex", 1001, 1001, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        app::AppDelegate delegate;
        delegate.setGroupDatabase(
            std::make_unique<FakeGroups>(row.groups, row.login, row.realUser, row.primaryGroup));
        EXPECT_EQ(delegate.isAdminUser(), row.admin);
    }
}

TEST_F(Commands, AboutTellsVersionBuildLicenceAndSite) {
    AlertWatcher watcher;
    ui.miAbout->trigger();
    ASSERT_EQ(watcher.alerts.size(), 1u);
    const SeenAlert& about = watcher.alerts.front();
    EXPECT_EQ(about.title, QStringLiteral("About Varnel"));
    EXPECT_EQ(about.format, Qt::PlainText);
    for (const char* part :
         {varnel::config::kVersion, varnel::config::kBuildVersion, "MIT", varnel::config::kSiteHost})
        EXPECT_TRUE(about.text.contains(QString::fromUtf8(part))) << part;
    EXPECT_EQ(about.buttons, QStringList{QStringLiteral("OK")});
}

// The window's place is kept at quitting and used at the next start only where the window fits a screen
// whole (the offscreen screen is 800 x 600).
TEST(WindowPlacement, TheWindowStartsWhereItWasWhenItFitsAScreen) {
    struct Row {
        const char* what;
        QVariant stored;
        bool restored;
    };
    const Row rows[] = {
        {"nothing stored", QVariant(), false},
        {"on the screen", QPoint(40, 30), true},
        {"at the screen's corner", QPoint(0, 0), true},
        {"partly off to the left", QPoint(-200, 30), false},
        {"on a screen that is gone", QPoint(3000, 30), false},
        {"hanging off the bottom", QPoint(40, 590), false},
        {"not a point", QStringLiteral("40,30"), false},
    };
    std::optional<QPoint> unplaced; // where the window starts when nothing is remembered
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QSettings().setValue(QLatin1String(app::WindowPlacement::kPositionKey), row.stored);
        if (!row.stored.isValid())
            QSettings().remove(QLatin1String(app::WindowPlacement::kPositionKey));
        app::MainWindow window;
        TestDelegate delegate;
        delegate.connectOutlets(window);
        delegate.setGroupDatabase(FakeGroups::admin());
        delegate.applicationDidFinishLaunching();
        const QRect available = window.screen()->availableGeometry();
        EXPECT_TRUE(available.contains(window.frameGeometry()));
        if (!unplaced)
            unplaced = window.frameGeometry().topLeft();
        EXPECT_EQ(window.frameGeometry().topLeft(), row.restored ? row.stored.toPoint() : *unplaced);
    }
    app::MainWindow window;
    window.show();
    window.move(123, 45);
    app::WindowPlacement::save(&window);
    EXPECT_EQ(QSettings().value(QLatin1String(app::WindowPlacement::kPositionKey)).toPoint(),
              window.frameGeometry().topLeft());
}

} // namespace

#include "CommandsTest.moc"
