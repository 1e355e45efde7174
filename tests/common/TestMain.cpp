#include <gtest/gtest.h>

#ifdef VARNEL_TEST_WITH_QAPPLICATION
#include <QApplication>
#include <QByteArray>
#include <QStandardPaths>
#include <memory>
#endif

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
#ifdef VARNEL_TEST_WITH_QAPPLICATION
    // Listing the tests (as ctest's discovery does at build time) must not need a display,
    // so the application object only exists when tests really run.
    std::unique_ptr<QApplication> app;
    if (!GTEST_FLAG_GET(list_tests)) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        // Settings written by tests go to a throw-away location, never the user's own.
        QStandardPaths::setTestModeEnabled(true);
        app = std::make_unique<QApplication>(argc, argv);
        QApplication::setOrganizationName(QStringLiteral("VarnelTests"));
        QApplication::setApplicationName(QStringLiteral("VarnelTests"));
    }
#endif
    return RUN_ALL_TESTS();
}
