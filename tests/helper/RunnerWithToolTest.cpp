// The application's runner driving varnel-repair on a broken temporary root, as the application will.
#include "RepairToolFixture.h"
#include "repair/ProgressChunk.h"
#include "repair/repairPermissions.h"

#include <QTest>
#include <unistd.h>

namespace {

struct ProgressLog : repair::RepairProgressDelegate {
    std::vector<repair::ProgressReading> readings;
    std::optional<repair::RepairOutcome> outcome;
    void repairPermissionsProgress(repair::repairPermissions*, const QString& chunk) override {
        for (const repair::ProgressReading& reading : repair::readProgressChunk(chunk))
            readings.push_back(reading);
    }
    void repairPermissionsFinished(repair::repairPermissions*, const repair::RepairOutcome& o) override {
        outcome = o;
    }
};

TEST_F(RepairToolTest, TheRunnerSeesRisingProgressAndTheEnd) {
    ASSERT_EQ(::chmod(path("/opt/vt/etc/conf").c_str(), 0666), 0);
    ProgressLog log;
    repair::repairPermissions runner(&log, QStringLiteral(VARNEL_REPAIR_TOOL));
    ASSERT_TRUE(runner.beginRepair(QString::fromStdString(m_root)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.outcome.has_value(); }, 30000));
    EXPECT_TRUE(log.outcome->succeeded()) << log.outcome->errorOutput.toStdString();
    std::vector<std::ptrdiff_t> percents;
    for (const repair::ProgressReading& reading : log.readings)
        if (reading.percentComplete)
            percents.push_back(*reading.percentComplete);
    ASSERT_GE(percents.size(), 3u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_LT(percents.front(), 100);
    ASSERT_FALSE(log.readings.empty());
    EXPECT_EQ(log.readings.back(), (repair::ProgressReading{100, true, {}}));
    EXPECT_EQ(statOf("/opt/vt/etc/conf").st_mode & 07777u, 0644u);
}

} // namespace
