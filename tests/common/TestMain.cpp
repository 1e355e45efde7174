#include <gtest/gtest.h>

#ifdef VARNEL_TEST_WITH_QAPPLICATION
#include <QApplication>
#include <QByteArray>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef VARNEL_TEST_WITH_QAPPLICATION
    // Listing the tests (as ctest's discovery does at build time) must not need a display,
    // so the application object only exists when tests really run.
    std::unique_ptr<QApplication> app;
    std::unique_ptr<QTemporaryDir> settings;
    if (!GTEST_FLAG_GET(list_tests)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Settings written by tests go to a throw-away location, never the user's own.
        QStandardPaths::setTestModeEnabled(true);
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("VarnelTests"));
        QApplication::setApplicationName(QStringLiteral("VarnelTests"));
        // ... and each test process has its own, as ctest runs them side by side.
        settings = std::make_unique<QTemporaryDir>();
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings->path());
    }
#endif
    return RUN_ALL_TESTS();
}
