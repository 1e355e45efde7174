// Start-up as a process: the refusal of a user who is not an administrator, one running copy per user,
// and the command line.
#include "AppFixture.h"
#include "app/SingleInstance.h"
#include "varnel/Config.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

TEST(Startup, ARefusedUserSeesTheIdleStyledWindowThenTheProgramEndsWithStatusOne) {
    QProcess probe;
    probe.start(QStringLiteral(VARNEL_STARTUP_PROBE));
    ASSERT_TRUE(probe.waitForFinished(20000));
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 1) << out.toStdString();
    // The alert is the refusal, naming the compiled-in groups; its words are the translations' to hold.
    EXPECT_TRUE(out.startsWith(QStringLiteral("alert=%1\n").arg(app::AppDelegate::notAdminMessage())))
        << out.toStdString();
#if !defined(Q_OS_MACOS)
    const QString groups = QString::fromUtf8(varnel::config::kAdminGroups).replace(';', QLatin1String(", "));
    EXPECT_TRUE(out.contains(QStringLiteral(" members of the groups %1.\n").arg(groups)))
        << out.toStdString();
#endif
    // Then the window as the refusal showed over it: styled, its status line never filled in, no spinner,
    // caption or bar of a run; and the press that ended the program.
    EXPECT_TRUE(out.endsWith(QStringLiteral("\nicon=%1\nwindow-visible=1\nwindow-colour=#fc69b5e8\n"
                                            "button-colour=#ffffff\nstatus=\nrun-shown=0\npressing=OK\n")
                                 .arg(QMessageBox::Critical)))
        << out.toStdString();
}

TEST(Startup, AToolThatReadsTheTerminalDoesNotHoldUpARunStartedFromOne) {
    // Started from a terminal, the tool has none: pkexec cannot ask for a password where nobody looks.
    QTemporaryDir folder(QCoreApplication::applicationDirPath() + QStringLiteral("/tty-XXXXXX"));
    const QString tool =
        writeScript(folder.filePath(QStringLiteral("tool")),
                    "read answer < /dev/tty && echo \"read '$answer' from the terminal\" >&2\n"
                    "printf '%s' '<plist version=\"1.0\"><dict><key>Message</key><string>done</string>"
                    "<key>End</key><true/></dict></plist>'");
    const QByteArray probe = VARNEL_STARTUP_PROBE, toolPath = QFile::encodeName(tool);

    int terminal = -1;
    const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::execl(probe.constData(), probe.constData(), "run", toolPath.constData(), nullptr);
        ::_exit(127);
    }
    QByteArray out;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        pollfd ready{terminal, POLLIN, 0};
        if (::poll(&ready, 1, 200) > 0) {
            char buffer[4096];
            const ssize_t got = ::read(terminal, buffer, sizeof buffer);
            if (got <= 0)
                break; // the probe and everything on the terminal are gone
            out.append(buffer, got);
        }
        if (timer.hasExpired(20000)) {
            ::kill(pid, SIGKILL);
            break;
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(terminal);
    out.replace("\r\n", "\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out.toStdString();
    EXPECT_TRUE(out.contains("status=Today\n")) << out.toStdString();
    EXPECT_TRUE(out.contains("  done\n")) << out.toStdString();
}

TEST(Startup, TheWindowWithItsDetailsFitsTheScreenAndMaximisedTheLogTakesTheRoom) {
    QTemporaryDir folder;
    for (const char* dpr : {"1", "2"}) {
        SCOPED_TRACE(dpr);
        // A 1280x800 screen, at normal and at double scale (640x400 for the window's layout).
        const QString config = folder.filePath(QStringLiteral("screen-%1.json").arg(QLatin1String(dpr)));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(R"({"screens": [{"name": "s", "x": 0, "y": 0, "width": 1280, "height": 800, )"
                              R"("logicalDpi": 96, "logicalBaseDpi": 96, "dpr": )") +
                   dpr + "}]}");
        file.close();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + config);
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QStringLiteral(VARNEL_STARTUP_PROBE), {QStringLiteral("fit")});
        ASSERT_TRUE(probe.waitForFinished(20000));
        const QString out = QString::fromUtf8(probe.readAllStandardOutput());
        EXPECT_EQ(out.toStdString(), "fits=1\nwhole=1\nmaximised-grows=1\n");
    }
}

class Reopen : public AppFixture {};

TEST_F(Reopen, ASecondLaunchBringsTheFirstCopysWindowBackAndEndsWithStatusZero) {
    QTemporaryDir runtime;
    app::SingleInstance first(QLatin1String(app::AppDelegate::kBundleIdentifier), runtime.path());
    ASSERT_EQ(first.start(), app::SingleInstance::Role::Primary);
    QObject::connect(&first, &app::SingleInstance::reopenRequested,
                     [this] { delegate.applicationShouldHandleReopen(window.isVisible()); });
    window.close();

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(VARNEL_BIN));
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.state() == QProcess::NotRunning; }, 20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0) << second.readAllStandardError().toStdString();
    EXPECT_TRUE(window.isVisible());
}

TEST(Startup, ASocketLeftByACrashedCopyDoesNotStopTheNextStart) {
    QTemporaryDir runtime;
    const QByteArray path =
        QDir(runtime.path()).filePath(QStringLiteral("app.varnel.Varnel.socket")).toLocal8Bit();
    // Bound and closed without removing the file, as a crash leaves it.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), path.size());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(QString::fromLocal8Bit(path)));

    app::SingleInstance next(QStringLiteral("app.varnel.Varnel"), runtime.path());
    EXPECT_EQ(next.start(), app::SingleInstance::Role::Primary);
}

TEST(Startup, VersionAndHelpNeedNoDisplay) {
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    for (const auto& [option, expected] :
         {std::pair{"--version", "Varnel 1.0.0\n"}, {"--help", "Usage: varnel"}}) {
        QProcess varnel;
        varnel.setProcessEnvironment(env); // no DISPLAY, no platform
        varnel.start(QStringLiteral(VARNEL_BIN), {QString::fromLatin1(option)});
        ASSERT_TRUE(varnel.waitForFinished(10000));
        EXPECT_EQ(varnel.exitCode(), 0);
        EXPECT_TRUE(varnel.readAllStandardOutput().startsWith(expected)) << option;
    }
    QProcess varnel;
    varnel.setProcessEnvironment(env);
    varnel.start(QStringLiteral(VARNEL_BIN));
    ASSERT_TRUE(varnel.waitForFinished(10000));
    EXPECT_EQ(varnel.exitCode(), 1);
    EXPECT_TRUE(varnel.readAllStandardError().contains("xvfb-run"));
}

} // namespace
