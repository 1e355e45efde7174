// A start-up for a user who is not an administrator, run as a child process by StartupTest: it reports
// what the window looks like while the refusal is on screen, then presses OK.
#include "app/AppDelegate.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "dateutil/Clock.h"
#include "update/Updater.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>

namespace {

struct NobodyIsAdmin : app::GroupDatabase {
    const char* const* membersOf(const char*) const override { return nullptr; }
    const char* loginName() const override { return "alex"; }
};

void say(const char* key, const QString& value) {
    std::printf("%s=%s\n", key, qPrintable(value));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QStandardPaths::setTestModeEnabled(true);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("VarnelStartupProbe"));
    QApplication::setApplicationName(QStringLiteral("VarnelStartupProbe"));
    // A recent check, so that the launch schedules no network check of its own.
    QSettings().setValue(QLatin1String(update::Updater::kLastCheckKey), dateutil::currentSeconds());

    app::MainWindow window;
    app::AppDelegate delegate;
    delegate.connectOutlets(window);
    delegate.setGroupDatabase(std::make_unique<NobodyIsAdmin>());

    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        say("alert", box->text());
        say("window-visible", QString::number(window.isVisible()));
        say("window-colour", window.centralWidget()->palette().color(QPalette::Window).name(QColor::HexArgb));
        say("button-colour", window.ui.btnScanAndFix->palette().color(QPalette::ButtonText).name());
        say("status", window.ui.lblLastScanned->text());
        // Still running while the alert waits; the exit may only follow the press.
        QTimer::singleShot(200, box, [box] {
            say("pressing", QStringLiteral("OK"));
            box->button(QMessageBox::Ok)->click();
        });
    });
    poll.start(10);
    delegate.applicationDidFinishLaunching();
    say("returned", QStringLiteral("yes")); // fatalError never returns, so this must not appear
    return 0;
}
