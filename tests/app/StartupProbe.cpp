// Start-ups run as child processes by StartupTest. Without arguments: a user who is not an administrator;
// it reports what the window looks like while the refusal is on screen, then presses OK. With "run <tool>":
// an administrator presses Scan and Repair on the tool and it reports the end of the run and its log.
#include "FakeGroups.h"
#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "dateutil/Clock.h"
#include "update/Updater.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>

namespace {

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
    // Root for "run" and "fit"; without arguments a user who is not an administrator.
    delegate.setGroupDatabase(
        std::make_unique<FakeGroups>(FakeGroups::Groups{}, argc > 1 ? nullptr : "alex", argc > 1 ? 0 : 1000));
    if (argc == 3 && qstrcmp(argv[1], "run") == 0) {
        delegate.setRepairToolPath(QString::fromLocal8Bit(argv[2]));
        delegate.applicationDidFinishLaunching();
        delegate.btnScanAndFixClicked();
        while (!window.ui.btnScanAndFix->isEnabled())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        say("status", window.ui.lblLastScanned->text());
        say("log", delegate.repairLog().text());
        return 0;
    }
    if (argc == 2 && qstrcmp(argv[1], "fit") == 0) {
        // The window with its details open on this screen, then maximised.
        delegate.applicationDidFinishLaunching();
        window.ui.btnDetails->show();
        window.ui.btnDetails->click();
        QApplication::processEvents();
        const QRect available = window.screen()->availableGeometry();
        say("fits", QString::number(available.contains(window.frameGeometry())));
        say("whole", QString::number(window.centralWidget()->height() >=
                                     window.centralWidget()->minimumSizeHint().height()));
        const int logHeight = window.ui.txtLog->height(), panelWidth = window.ui.boxMain->width();
        window.showMaximized();
        QApplication::processEvents();
        say("maximised-grows", QString::number(window.ui.txtLog->height() > logHeight &&
                                               window.ui.boxMain->width() > panelWidth));
        return 0;
    }
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        poll.stop();
        say("alert", box->text());
        say("icon", QString::number(box->icon()));
        say("window-visible", QString::number(window.isVisible()));
        say("window-colour", window.centralWidget()->palette().color(QPalette::Window).name(QColor::HexArgb));
        say("button-colour", window.ui.btnScanAndFix->palette().color(QPalette::ButtonText).name());
        say("status", window.ui.lblLastScanned->text());
        say("run-shown", QString::number(window.ui.pbWait->isVisible() + window.ui.lblProgress->isVisible() +
                                         window.ui.pbProgress->isVisible()));
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
