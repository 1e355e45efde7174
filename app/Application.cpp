#include "app/Application.h"

#include "app/AppDelegate.h"
#include "app/AppIcon.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "app/Translations.h"
#include "varnel/Config.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string_view>

namespace {

// The desktop entry, metainfo and icons are installed under the build's application id; the program must
// announce the same one or desktops cannot match its windows to its entry.
static_assert(std::string_view(app::AppDelegate::kBundleIdentifier) == varnel::config::kAppId);

void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QCoreApplication::translate("main", "Repairs the permissions of the files on the start-up disk."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version answer without a display, so they are read before the application object exists.
std::optional<int> answerInformationalOptions(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    describeOptions(parser);
    parser.parse(arguments); // errors are reported once the application object exists
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("Varnel %s\n", varnel::config::kVersion);
        return 0;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText().replace(QLatin1String("<executable_name>"),
                                                        QStringLiteral("varnel"))),
                   stdout);
        return 0;
    }
    return std::nullopt;
}

// Gives the application its icon once the window has painted its first frame, or after a second if it has
// not: reading the icon's pictures costs more than the rest of the start-up, and nothing needs them sooner.
class IconAfterFirstFrame : public QObject {
public:
    explicit IconAfterFirstFrame(QWidget& window) {
        window.installEventFilter(this);
        QTimer::singleShot(1000, this, &IconAfterFirstFrame::install);
    }
    static void install() {
        if (QApplication::windowIcon().isNull())
            QApplication::setWindowIcon(app::applicationIcon());
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, &IconAfterFirstFrame::install);
        }
        return false;
    }
};

bool hasDisplay(int argc, char** argv) {
#if defined(Q_OS_LINUX)
    if (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
        !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return true;
    for (int i = 1; i < argc; ++i)
        if (qstrcmp(argv[i], "-platform") == 0 || qstrcmp(argv[i], "--platform") == 0)
            return true;
    return false;
#else
    Q_UNUSED(argc);
    Q_UNUSED(argv);
    return true;
#endif
}

} // namespace

namespace app {

int runApplication(int argc, char** argv, std::unique_ptr<GroupDatabase> groups) {
    if (const std::optional<int> status = answerInformationalOptions(argc, argv))
        return *status;
    if (!hasDisplay(argc, argv)) {
        std::fprintf(stderr,
                     "varnel: no graphical display was found (DISPLAY and WAYLAND_DISPLAY are not set).\n"
                     "Start Varnel from a desktop session, or under a virtual display: xvfb-run -a %s\n",
                     argv[0]);
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Varnel"));
    QApplication::setApplicationName(QStringLiteral("Varnel"));
    QApplication::setApplicationVersion(QString::fromUtf8(varnel::config::kVersion));
    QGuiApplication::setDesktopFileName(QLatin1String(AppDelegate::kBundleIdentifier));
    // Closing the window leaves the program running; launching it again brings the window back.
    QApplication::setQuitOnLastWindowClosed(false);

    Translations translations;
    translations.install(QLocale());

    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(application); // unknown options end the program with a message

#if !defined(Q_OS_MACOS)
    SingleInstance instance(QLatin1String(AppDelegate::kBundleIdentifier));
    if (instance.start() == SingleInstance::Role::Secondary)
        return 0;
#endif

    MainWindow window;
    const IconAfterFirstFrame icon(window);
    AppDelegate delegate;
    delegate.connectOutlets(window);
    if (groups)
        delegate.setGroupDatabase(std::move(groups));
#if defined(Q_OS_MACOS)
    QObject::connect(&application, &QGuiApplication::applicationStateChanged, &delegate,
                     [&](Qt::ApplicationState state) {
                         if (state == Qt::ApplicationActive)
                             delegate.applicationShouldHandleReopen(window.isVisible());
                     });
#else
    QObject::connect(&instance, &SingleInstance::reopenRequested, &delegate,
                     [&] { delegate.applicationShouldHandleReopen(window.isVisible()); });
#endif
    delegate.applicationDidFinishLaunching();
    return QApplication::exec();
}

} // namespace app
