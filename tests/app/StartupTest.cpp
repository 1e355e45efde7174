// Start-up as a process: the refusal of a user who is not an administrator, one running copy per user,
// and the command line.
#include "AppFixture.h"
#include "app/SingleInstance.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QProcessEnvironment environmentWithRuntimeFolder(const QString& folder) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), folder);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return env;
}

TEST(Startup, ARefusedUserSeesTheStyledWindowThenTheProgramEndsWithStatusOne) {
    QProcess probe;
    probe.start(QStringLiteral(VARNEL_STARTUP_PROBE));
    ASSERT_TRUE(probe.waitForFinished(20000));
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(probe.exitCode(), 1) << out.toStdString();
    EXPECT_TRUE(out.startsWith(QStringLiteral(
        "alert=Varnel is only available if you are logged in using an admin account.\n"
        "Please check your account type under Users & Groups in Applications -> System Preferences.\n"
        "Some users have reported an issue after a recently applied Apple update which is resolved after "
        "rebooting their Mac.\n")))
        << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("window-visible=1\n")));
    EXPECT_TRUE(out.contains(QStringLiteral("window-colour=#fc69b5e8\n")));
    EXPECT_TRUE(out.contains(QStringLiteral("button-colour=#ffffff\n")));
    EXPECT_TRUE(out.contains(QStringLiteral("status=\n"))); // the status line was never filled in
    EXPECT_TRUE(out.endsWith(QStringLiteral("pressing=OK\n"))) << out.toStdString();
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
    second.setProcessEnvironment(environmentWithRuntimeFolder(runtime.path()));
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
