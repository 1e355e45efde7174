// The last-repair status line: its text by calendar, its colour by whole days. That it leaves the window
// idle, every run's end in RepairRunTest shows.
#include "AppFixture.h"

#include <QVariant>
#include <cmath>

namespace {

class Status : public AppFixture {};

const QColor kGreen = QColor::fromRgbF(0.05f, 0.47f, 0.04f);
const QColor kOrange = QColor::fromRgbF(1.0f, 0.5f, 0.0f);
const QColor kRed = QColor::fromRgbF(1.0f, 0.0f, 0.0f);
constexpr double kDay = 86400;

struct Row {
    const char* what;
    QVariant stored; // invalid: nothing stored
    QString text;
    std::optional<QColor> colour; // none: the label's default colour
};

TEST_F(Status, ReadsTheStoredTime) {
    const Row rows[] = {
        {"nothing stored", {}, "Never", {}},
        {"now", kNow, "Today", kGreen},
        {"exactly seven days", kNow - 7 * kDay, "7 days ago", kOrange},
        {"one second short of seven days", kNow - 7 * kDay + 1, "6 days ago", kGreen},
        {"31 days", kNow - 31 * kDay, "31 days ago", kOrange},
        {"32 days", kNow - 32 * kDay, "32 days ago", kRed},
        {"a colour from before never lingers on Never", {}, "Never", {}},
        {"20 h ago, the previous calendar day", kNow - 20 * 3600, "Yesterday", kGreen},
        {"40 h ago, two calendar days back", kNow - 40 * 3600, "1 day ago", kGreen},
        {"later today", kNow + 3600, "Today", kGreen},
        {"a future day", kNow + 2 * kDay, "0 days ago", kGreen},
        {"not a number", QStringLiteral("soon"), "Never", {}},
        {"NaN", QStringLiteral("nan"), "Never", {}},
        {"infinity", QStringLiteral("inf"), "Never", {}},
        {"older than a 32-bit count of seconds", -1e300, "24855 days ago", kRed},
        {"beyond the calendar in the future", 1e300, "0 days ago", kGreen},
    };
    const QColor panelText = ui.boxMain->palette().color(QPalette::WindowText);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.stored.isValid())
            store(row.stored);
        else
            QSettings().remove(QLatin1String(app::AppDelegate::kLastRunKey));

        delegate.updateLabels();

        EXPECT_EQ(ui.lblLastScanned->text(), row.text);
        EXPECT_EQ(ui.lblLastScanned->palette().color(QPalette::WindowText), row.colour.value_or(panelText));
    }
    // Minutes are counted as days are (the rows above): whole ones, none for a date that is no moment.
    EXPECT_EQ(delegate.minsAgo(dateutil::Date(kNow - 90)), 1);
    EXPECT_EQ(delegate.minsAgo(dateutil::Date(std::nan(""))), 0);
}

} // namespace
