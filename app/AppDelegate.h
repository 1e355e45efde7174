#pragma once

#include "app/CheckRun.h"
#include "app/RepairLog.h"
#include "app/RunNotifier.h"
#include "dateutil/Date.h"
#include "repair/ProgressChunk.h"
#include "repair/RepairProgressDelegate.h"

#include <QColor>
#include <QMainWindow>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

class QAction;
class QFrame;
class QLabel;
class QToolButton;
class QProgressBar;
class QPushButton;
class QUrl;
class QWidget;

namespace ui {
class BusyIndicator;
class lnkTextField;
} // namespace ui
namespace repair {
class repairPermissions;
}
namespace update {
class Updater;
}

namespace app {

class GroupDatabase;
class MainWindow;

// The program's one controller: starts the application, runs repairs and shows their progress, shows how
// long ago the last repair completed, reports to the user and carries the window's commands. It refers to
// the window's controls without owning them.
//
// Each repair has a runner of its own, owned by the controller until the runner's end call. A run completes
// once, at the first of the tool's "End" or its end call; only then is its time stored. Calls from a runner
// whose run has completed, or that an earlier run left behind, change nothing.
class AppDelegate : public QObject, public repair::RepairProgressDelegate {
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
    // The repair tool to run; the compiled-in one by default.
    void setRepairToolPath(const QString& path) { m_toolPath = path; }
    // What the current or last repair said, as the details show it.
    const RepairLog& repairLog() const { return m_log; }
    // What tells the desktop about a run that ended while the window was not looked at.
    RunNotifier& runNotifier() { return m_notifier; }
    // Writes the log to the file as plain UTF-8 text; false with a reason when it cannot.
    bool saveLog(const QString& fileName, QString* error = nullptr) const;

    // Whole days and minutes from the date to now; 0 when the date is not in the past, saturated when
    // the interval does not fit.
    std::int32_t daysAgo(const dateutil::Date& date) const;
    std::int32_t minsAgo(const dateutil::Date& date) const;
    // "Never", "Today", "Yesterday", "1 day ago" or "<n> days ago".
    QString stringForDaysAgo(const std::optional<dateutil::Date>& date) const;

    // Whether the user is root, or is listed as a member of one of the administrators' groups or has one
    // as the primary group. The user is the login user, or the real user id's account when there is no
    // login record or it names another account.
    bool isAdminUser() const;
    // What a user who is not an administrator is told before the program ends.
    static QString notAdminMessage();

    // Shows a modal message titled "Varnel" with one OK button; the text is shown as it stands. Information
    // shows the application's icon; a failure or a refusal shows the standard warning or critical icon.
    void alert(const QString& message, QMessageBox::Icon icon = QMessageBox::Information);
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

    // The runner's reports: each piece of the tool's output, and the end call.
    void repairPermissionsProgress(repair::repairPermissions* runner, const QString& chunk) override;
    void repairPermissionsFinished(repair::repairPermissions* runner,
                                   const repair::RepairOutcome& outcome) override;

public slots:
    // Puts the window into its busy state and starts a repair of the start-up volume.
    void btnScanAndFixClicked();
    // Puts the window into its busy state and checks the start-up volume without changing anything.
    void miCheckClicked();
    // Asks whether to stop the run under way and stops it if so.
    void btnStopClicked();
    // Ends the program, once the user agreed to stop a run under way.
    void miQuitClicked();
    void btnDetailsToggled(bool open);
    void btnCopyLogClicked();
    void btnSaveLogClicked();
    void miUpdateCheckClicked();
    void miHelpClicked();
    void lblLinkClicked();

public:
    QMainWindow* window() const { return _window; }
    void setWindow(QMainWindow* window) { _window = window; }

protected:
    // Asks for the user's attention once, without insisting (the window's task-bar entry flashes).
    virtual void requestUserAttention();

private:
    // Starts a repair, or a check when m_check is active.
    void beginRun();
    // The steps that close a run: a completed one stores its time, a failed one explains itself.
    void completeRun();
    // A completed check stores nothing: it shows what it found and may start the repair.
    void completeCheck();
    void failRun(const QString& toolPath, const repair::RepairOutcome& outcome);
    // Ends the run under way, as the user asked: nothing is stored and nothing is reported.
    void stopRun();
    bool userAgreesToStop();
    // Opens the address in the browser, or says so and shows the address when none opens.
    void openInBrowser(const QUrl& url);

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
    // The details of a run and the way to stop one.
    QPushButton* btnStop = nullptr;
    QToolButton* btnDetails = nullptr;
    QWidget* detailsPanel = nullptr;
    QAction* miSaveLog = nullptr;
    QAction* miCheck = nullptr;

    std::unique_ptr<GroupDatabase> m_groupDatabase;
    QString m_toolPath;
    // The runner of the run under way, until the run completes; null otherwise.
    QPointer<repair::repairPermissions> m_currentRun;
    repair::ProgressStream m_progress;
    RepairLog m_log;
    RunNotifier m_notifier;
    CheckRun m_check;        // what the run under way does differently when it is a check
    int m_repairedFiles = 0; // messages of the run under way that say a file was repaired
    double m_runStarted = 0; // when the last run started, in seconds since 1970
};

} // namespace app
