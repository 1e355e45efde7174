#pragma once

#include "dateutil/Date.h"

#include <QColor>
#include <QMainWindow>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

namespace ui {
class BusyIndicator;
class lnkTextField;
} // namespace ui
namespace update {
class Updater;
}

namespace app {

class GroupDatabase;
class MainWindow;

// The program's one controller: starts the application, shows how long ago the last repair completed,
// reports to the user and carries the window's commands. It refers to the window's controls without
// owning them.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // The settings key of the time of the last completed repair, in seconds since 1970.
    static constexpr char kLastRunKey[] = "Varnel.lastRun";
    // The identity under which the update client serves this application.
    static constexpr char kBundleIdentifier[] = "app.varnel.Varnel";

    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // Connects the outlets to the window's controls and the window's commands to this controller.
    void connectOutlets(MainWindow& window);
    // Replaces the group database the administrator check reads (the system's by default).
    void setGroupDatabase(std::unique_ptr<GroupDatabase> database);

    // Whole days and minutes from the date to now; 0 when the date is not in the past, saturated when
    // the interval does not fit.
    std::int32_t daysAgo(const dateutil::Date& date) const;
    std::int32_t minsAgo(const dateutil::Date& date) const;
    // "Never", "Today", "Yesterday", "1 day ago" or "<n> days ago".
    QString stringForDaysAgo(const std::optional<dateutil::Date>& date) const;

    // Whether the login user is listed as a member of one of the administrators' groups.
    bool isAdminUser() const;
    // What a user who is not an administrator is told before the program ends.
    static QString notAdminMessage();

    // Shows a modal message titled "Varnel" with one OK button; the text is shown as it stands.
    void alert(const QString& message);
    // Shows the message, then ends the program with exit status 1 once it is dismissed.
    [[noreturn]] void fatalError(const QString& message);

    void setButtonStringColor(QPushButton* button, const QColor& col);
    void setLabelStringColor(QLabel* label, const QColor& col);
    // Gives every label, button and tab view below the view the application's look, by exact class.
    void recurseSubViews(QWidget* view);

    // Puts the window into its idle state and shows how long ago the last repair completed.
    void updateLabels();

    void applicationDidFinishLaunching();
    // Brings the window back, in front and active; always true.
    bool applicationShouldHandleReopen(bool hasVisibleWindows);

public slots:
    void miUpdateCheckClicked();
    void miHelpClicked();
    void lblLinkClicked();

public:
    QMainWindow* window() const { return _window; }
    void setWindow(QMainWindow* window) { _window = window; }

private:
    QFrame* boxMain = nullptr;
    QPushButton* btnScanAndFix = nullptr;
    QLabel* lblMain = nullptr;
    QLabel* lblDesc = nullptr;
    QLabel* lblLastScannedDesc = nullptr;
    QLabel* lblLastScanned = nullptr;
    QLabel* lblVersion = nullptr;
    ui::lnkTextField* lblLink = nullptr;
    QLabel* lblProgress = nullptr;
    QProgressBar* pbProgress = nullptr;
    ui::BusyIndicator* pbWait = nullptr;
    QPointer<update::Updater> _updater;
    QPointer<QMainWindow> _window;

    std::unique_ptr<GroupDatabase> m_groupDatabase;
};

} // namespace app
