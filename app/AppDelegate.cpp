#include "app/AppDelegate.h"

#include "app/AboutBox.h"
#include "app/AppIcon.h"
#include "app/FailedRun.h"
#include "app/GroupDatabase.h"
#include "app/MainWindow.h"
#include "app/WindowFit.h"
#include "app/WindowPlacement.h"
#include "core/CheckedConversion.h"
#include "dateutil/Clock.h"
#include "repair/repairPermissions.h"
#include "ui/BusyIndicator.h"
#include "ui/lnkTextField.h"
#include "update/Updater.h"
#include "varnel/Config.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGraphicsDropShadowEffect>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QSettings>
#include <QShortcut>
#include <QStyle>
#include <QTabWidget>
#include <QToolButton>
#include <QUrl>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace app {
namespace {

// The window's sky blue, the panel's white and the colours of the age of the last repair.
const QColor kWindowBlue = QColor::fromRgbF(0.41f, 0.71f, 0.91f, 0.99f);
const QColor kPanelWhite = Qt::white;
const QColor kPanelText = QColor(0x1d, 0x1d, 0x1f);
const QColor kWindowText = QColor(0x12, 0x33, 0x4d);
const QColor kRecentGreen = QColor::fromRgbF(0.05f, 0.47f, 0.04f, 1.0f);
const QColor kOrange = QColor::fromRgbF(1.0f, 0.5f, 0.0f);
const QColor kRed = QColor::fromRgbF(1.0f, 0.0f, 0.0f);

constexpr std::int32_t kSecondsPerDay = 86400;
constexpr std::int32_t kSecondsPerMinute = 60;

// Marks the text shadow that gives labels their raised look, so that styling twice adds nothing.
constexpr char kRaisedEffectName[] = "varnelRaised";

QUrl siteUrl(const QString& scheme, const QString& path) {
    QUrl url;
    url.setScheme(scheme);
    url.setHost(QString::fromUtf8(varnel::config::kSiteHost));
    url.setPath(path);
    return url;
}

// A light palette with the given background and text colour, whatever the desktop's theme: the window
// draws its own colours, so its texts must not take the theme's.
QPalette lightPalette(const QWidget* widget, const QColor& background, const QColor& text) {
    QPalette palette = widget->style()->standardPalette();
    palette.setColor(QPalette::Window, background);
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Text, text);
    }
    return palette;
}

// The colour for the text in every state; disabled text shows it slightly faded, still readable on the
// darker faces our disabled buttons have.
void setTextColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Active, role, colour);
    palette.setColor(QPalette::Inactive, role, colour);
    QColor faded = colour;
    faded.setAlphaF(colour.alphaF() * 0.85f);
    palette.setColor(QPalette::Disabled, role, faded);
    widget->setPalette(palette);
}

// Tells whether the seconds since 1970 name a moment at all: the stored value is text a user can edit.
std::optional<double> storedSeconds(const QVariant& value) {
    if (!value.isValid())
        return std::nullopt;
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || !std::isfinite(seconds))
        return std::nullopt;
    return seconds;
}

// A call on a missing control does nothing, as a message to nil does in an interface file that lacks it.
void setHidden(QWidget* control, bool hidden) {
    if (control)
        control->setHidden(hidden);
}
void setEnabled(QWidget* control, bool enabled) {
    if (control)
        control->setEnabled(enabled);
}

std::int32_t wholeUnitsAgo(const dateutil::Date& date, std::int32_t unitSeconds) {
    const double interval = dateutil::Date::now().timeIntervalSinceDate(date);
    if (!(interval > 0))
        return 0;
    // An interval beyond the 32-bit range reads as the longest one there is, not as a wrapped number.
    return varnel::saturatingTruncate<std::int32_t>(interval) / unitSeconds;
}

} // namespace

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent)
    , m_groupDatabase(std::make_unique<GroupDatabase>())
    , m_toolPath(QString::fromUtf8(varnel::config::kDiskUtilPath)) {}

AppDelegate::~AppDelegate() = default;

void AppDelegate::connectOutlets(MainWindow& window) {
    const Ui::MainWindow& ui = window.ui;
    boxMain = ui.boxMain;
    btnScanAndFix = ui.btnScanAndFix;
    lblMain = ui.lblMain;
    lblDesc = ui.lblDesc;
    lblLastScannedDesc = ui.lblLastScannedDesc;
    lblLastScanned = ui.lblLastScanned;
    lblVersion = ui.lblVersion;
    lblLink = ui.lblLink;
    lblProgress = ui.lblProgress;
    pbProgress = ui.pbProgress;
    pbWait = ui.pbWait;
    setWindow(&window);
    btnStop = ui.btnStop;
    btnDetails = ui.btnDetails;
    detailsPanel = ui.detailsPanel;
    miSaveLog = ui.miSaveLog;
    miCheck = ui.miCheck;
    m_log.setView(ui.txtLog, ui.lblLogDropped);

    connect(ui.btnScanAndFix, &QPushButton::clicked, this, &AppDelegate::btnScanAndFixClicked);
    connect(ui.btnStop, &QPushButton::clicked, this, &AppDelegate::btnStopClicked);
    connect(ui.btnDetails, &QToolButton::clicked, this,
            [this] { btnDetailsToggled(detailsPanel && detailsPanel->isHidden()); });
    connect(ui.btnCopyLog, &QPushButton::clicked, this, &AppDelegate::btnCopyLogClicked);
    connect(ui.btnSaveLog, &QPushButton::clicked, this, &AppDelegate::btnSaveLogClicked);
    connect(ui.miUpdateCheck, &QAction::triggered, this, &AppDelegate::miUpdateCheckClicked);
    connect(ui.miHelp, &QAction::triggered, this, &AppDelegate::miHelpClicked);
    connect(ui.miQuit, &QAction::triggered, this, &AppDelegate::miQuitClicked);
    connect(ui.miSaveLog, &QAction::triggered, this, &AppDelegate::btnSaveLogClicked);
    connect(ui.miCheck, &QAction::triggered, this, &AppDelegate::miCheckClicked);
    connect(ui.miAbout, &QAction::triggered, this, [this] { AboutBox::show(_window); });
    // Escape asks to stop a run, as Stop does; with no run it does nothing.
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), &window), &QShortcut::activated, this,
            &AppDelegate::btnStopClicked);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { WindowPlacement::save(_window); });
    // The progress of a run shows in the title too, where the task bar shows it.
    connect(ui.pbProgress, &QProgressBar::valueChanged, this, [this](int percent) {
        if (_window && m_currentRun)
            _window->setWindowTitle(m_check.active() ? CheckRun::title(percent)
                                                     : tr("Repairing %1% \u2014 Varnel").arg(percent));
    });
}

void AppDelegate::setGroupDatabase(std::unique_ptr<GroupDatabase> database) {
    m_groupDatabase = std::move(database);
}

std::int32_t AppDelegate::daysAgo(const dateutil::Date& date) const {
    return wholeUnitsAgo(date, kSecondsPerDay);
}

std::int32_t AppDelegate::minsAgo(const dateutil::Date& date) const {
    return wholeUnitsAgo(date, kSecondsPerMinute);
}

QString AppDelegate::stringForDaysAgo(const std::optional<dateutil::Date>& date) const {
    if (!date)
        return tr("Never");
    const std::int32_t days = daysAgo(*date);
    if (date->isToday())
        return tr("Today");
    if (date->isYesterday())
        return tr("Yesterday");
    if (days == 1)
        return tr("1 day ago");
    return tr("%n days ago", nullptr, days);
}

bool AppDelegate::isAdminUser() const {
    if (!m_groupDatabase)
        return false;
    const GroupDatabase& db = *m_groupDatabase;
    const uid_t user = db.realUserId();
    if (user == 0)
        return true; // root may do anything the tool does
    // The names the user goes by: the login name, unless it belongs to another account (su, sudo -u),
    // and the real user id's account, which is there when no login was recorded (containers, some
    // display managers).
    const std::optional<GroupDatabase::Account> account = db.account(user);
    std::vector<std::string> names;
    if (const char* login = db.loginName(); login && *login) {
        const std::optional<uid_t> loginUser = db.userId(login);
        if (!loginUser || *loginUser == user)
            names.emplace_back(login);
    }
    if (account && !account->name.empty())
        names.push_back(account->name);
    if (names.empty())
        return false;
    const QList<QByteArray> groups = QByteArray(varnel::config::kAdminGroups).split(';');
    for (const QByteArray& group : groups) {
        if (group.isEmpty())
            continue;
        if (account && db.groupId(group.constData()) == account->primaryGroup)
            return true;
        const char* const* members = db.membersOf(group.constData());
        for (; members && *members; ++members)
            for (const std::string& name : names)
                if (std::strcmp(*members, name.c_str()) == 0)
                    return true;
    }
    return false;
}

QString AppDelegate::notAdminMessage() {
#if defined(Q_OS_MACOS)
    return tr("Varnel is only available if you are logged in using an admin account.\n"
              "Please check your account type under Users & Groups in Applications -> System Preferences.\n"
              "Some users have reported an issue after a recently applied Apple update which is resolved "
              "after rebooting their Mac.");
#else
    QStringList groups = QString::fromUtf8(varnel::config::kAdminGroups).split(QLatin1Char(';'));
    groups.removeAll(QString());
    const QString who =
        groups.size() == 1
            ? tr("Administrators are the members of the group %1.").arg(groups.front())
            : tr("Administrators are the members of the groups %1.").arg(groups.join(QLatin1String(", ")));
    return tr("Varnel is only available to administrators, and your account is not one.") +
           QLatin1Char('\n') + who + QLatin1Char('\n') +
           tr("An administrator can make your account a member; then log out and log in again "
              "for the change to take effect.");
#endif
}

void AppDelegate::alert(const QString& message, QMessageBox::Icon icon) {
    QMessageBox box(_window);
    box.setWindowTitle(QStringLiteral("Varnel"));
    // Messages carry tool output and file names: never let the box take them for markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(message);
    // Only information shows the application's icon. It is set after the window's first frame; an alert
    // before then reads it itself.
    const QIcon appIcon = icon != QMessageBox::Information       ? QIcon()
                          : !QApplication::windowIcon().isNull() ? QApplication::windowIcon()
                                                                 : applicationIcon();
    if (!appIcon.isNull())
        box.setIconPixmap(appIcon.pixmap(64));
    else
        box.setIcon(icon);
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

void AppDelegate::fatalError(const QString& message) {
    alert(message, QMessageBox::Critical);
    std::fflush(nullptr);
    std::exit(1);
}

void AppDelegate::setButtonStringColor(QPushButton* button, const QColor& col) {
    if (button)
        setTextColour(button, QPalette::ButtonText, col);
}

void AppDelegate::setLabelStringColor(QLabel* label, const QColor& col) {
    if (label)
        setTextColour(label, QPalette::WindowText, col);
}

void AppDelegate::recurseSubViews(QWidget* view) {
    if (!view)
        return;
    // A snapshot: styling never adds or removes children, but the walk must not depend on that.
    const QList<QWidget*> children = view->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children) {
        const QByteArrayView className = child->metaObject()->className();
        if (className == "QLabel") {
            // Raised: a one-pixel white shadow under the text, as if pressed up from the surface.
            auto* shadow = qobject_cast<QGraphicsDropShadowEffect*>(child->graphicsEffect());
            if (!shadow || shadow->objectName() != QLatin1String(kRaisedEffectName)) {
                shadow = new QGraphicsDropShadowEffect(child);
                shadow->setObjectName(QLatin1String(kRaisedEffectName));
                shadow->setOffset(0, 1);
                shadow->setBlurRadius(0);
                shadow->setColor(QColor(255, 255, 255, 200));
                child->setGraphicsEffect(shadow);
            }
        } else if (className == "QPushButton") {
            setButtonStringColor(static_cast<QPushButton*>(child), Qt::white);
        } else if (className == "QTabWidget") {
            // No background of its own: the pages sit on the surface around them, without a frame.
            auto* tabs = static_cast<QTabWidget*>(child);
            tabs->setDocumentMode(true);
            for (int i = 0; i < tabs->count(); ++i)
                recurseSubViews(tabs->widget(i));
        }
        recurseSubViews(child);
    }
}

void AppDelegate::updateLabels() {
    if (_window)
        _window->setWindowTitle(QStringLiteral("Varnel"));
    // Stop goes with the run; the focus it had goes back to the button that starts the next one.
    const bool stopHadFocus = btnStop && _window && _window->focusWidget() == btnStop;
    setEnabled(btnScanAndFix, true);
    if (miCheck)
        miCheck->setEnabled(true);
    if (stopHadFocus && btnScanAndFix)
        btnScanAndFix->setFocus(Qt::OtherFocusReason);
    setHidden(pbWait, true);
    setHidden(pbProgress, true);
    setHidden(lblProgress, true);
    setHidden(btnStop, true);
    if (!lblLastScanned)
        return;
    lblLastScanned->setHidden(false);

    const std::optional<double> seconds = storedSeconds(QSettings().value(QLatin1String(kLastRunKey)));
    if (!seconds) {
        lblLastScanned->setText(stringForDaysAgo(std::nullopt));
        // No age, so no age colour: back to the colour the label has by default.
        lblLastScanned->setPalette(QPalette());
        return;
    }
    const dateutil::Date lastRun(*seconds);
    const std::int32_t days = daysAgo(lastRun);
    lblLastScanned->setText(stringForDaysAgo(lastRun));
    setLabelStringColor(lblLastScanned, days <= 6 ? kRecentGreen : days <= 31 ? kOrange : kRed);
}

void AppDelegate::applicationDidFinishLaunching() {
    _updater = update::Updater::updaterForBundle(QLatin1String(kBundleIdentifier));
    if (_updater) {
        // The feed comes over https: over plain http anyone on the network could announce a release.
        _updater->setFeedURL(siteUrl(QStringLiteral("https"), QStringLiteral("/updates")));
        _updater->setUpdateCheckInterval(86400.0);
        _updater->setAutomaticallyChecksForUpdates(true);
        _updater->setAutomaticallyDownloadsUpdates(false);
    }

    if (lblLink)
        lblLink->setClickTarget(this, &AppDelegate::lblLinkClicked);

    if (_window) {
        _window->adjustSize();
        WindowFit::fit(_window, detailsPanel && !detailsPanel->isHidden());
        if (const QScreen* screen = _window->screen()) {
            QRect frame = _window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            _window->move(frame.topLeft());
        }
        WindowPlacement::restore(_window); // where it was last time, when that still fits
    }
    if (boxMain) {
        boxMain->setPalette(lightPalette(boxMain, kPanelWhite, kPanelText));
        boxMain->setAutoFillBackground(true);
    }
    QWidget* contentView = _window ? _window->centralWidget() : nullptr;
    if (contentView) {
        contentView->setPalette(lightPalette(contentView, kWindowBlue, kWindowText));
        contentView->setAutoFillBackground(true);
    }
    setButtonStringColor(btnScanAndFix, Qt::white);
    recurseSubViews(contentView);

    // The window appears once styled, and before the check, so a refused user sees what they start.
    if (_window) {
        _window->show();
        if (btnScanAndFix)
            btnScanAndFix->setFocus();
    }

    if (!varnel::config::kSkipAdminCheck && !isAdminUser())
        fatalError(notAdminMessage());
    updateLabels();
}

bool AppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
    if (_window) {
        if (_window->isMinimized())
            _window->showNormal();
        else
            _window->show();
        _window->raise();
        _window->activateWindow();
    }
    return true;
}

void AppDelegate::repairPermissionsProgress(repair::repairPermissions* runner, const QString& chunk) {
    if (runner != m_currentRun)
        return;
    for (const repair::ProgressReading& reading : m_progress.read(chunk)) {
        if (reading.message) {
            m_log.add(*reading.message);
            // "Repaired “path”." names one file; a summary such as "Repaired 3 of 3 files …" is not one.
            if (reading.message->startsWith(u"Repaired \u201c"))
                ++m_repairedFiles;
            m_check.read(*reading.message);
        }
        // A progress bar ignores values outside its range; above 100 means done, so it shows full.
        if (reading.percentComplete && *reading.percentComplete > 0 && pbProgress)
            pbProgress->setValue(static_cast<int>(std::min<std::ptrdiff_t>(*reading.percentComplete, 100)));
        if (reading.end) {
            completeRun();
            return;
        }
    }
}

void AppDelegate::repairPermissionsFinished(repair::repairPermissions* runner,
                                            const repair::RepairOutcome& outcome) {
    // The runner has said all it will: let it go, whichever run it belonged to.
    runner->deleteLater();
    if (runner != m_currentRun)
        return;
    if (outcome.succeeded())
        completeRun();
    else
        failRun(runner->toolPath(), outcome);
}

void AppDelegate::btnScanAndFixClicked() {
    m_check.end();
    beginRun();
}

void AppDelegate::miCheckClicked() {
    if (m_currentRun)
        return; // one run at a time
    m_check.begin(lblProgress);
    beginRun();
}

void AppDelegate::beginRun() {
    const bool check = m_check.active();
    setHidden(lblLastScannedDesc, true);
    // Stop takes the focus before the disabled button would hand it on to whatever comes next.
    setHidden(btnStop, false);
    if (btnStop && _window && _window->focusWidget() == btnScanAndFix)
        btnStop->setFocus(Qt::OtherFocusReason);
    setEnabled(btnScanAndFix, false);
    if (miCheck)
        miCheck->setEnabled(false);
    setHidden(lblLastScanned, true);
    setHidden(pbWait, false);
    if (pbWait)
        pbWait->startAnimation();
    setHidden(lblProgress, false);
    if (pbProgress) {
        pbProgress->setMaximum(100);
        pbProgress->setMinimum(0);
        pbProgress->setValue(0);
    }

    auto* runner = new repair::repairPermissions(this, m_toolPath, this);
    m_progress.reset();
    m_log.clear();
    m_repairedFiles = 0;
    m_log.add(check ? CheckRun::startedLine() : tr("Repair of the start-up disk started"));
    m_runStarted = dateutil::currentSeconds();
    setHidden(btnDetails, false);
    if (miSaveLog)
        miSaveLog->setEnabled(true);
    if (_window) // the toggle's row is new: the window makes room for it
        WindowFit::fit(_window, detailsPanel && !detailsPanel->isHidden());
    if (runner->beginRepair(QStringLiteral("/"),
                            check ? QLatin1String(CheckRun::kVerb) : QStringLiteral("repairPermissions"))) {
        m_currentRun = runner;
        setHidden(pbProgress, false);
        if (_window)
            _window->setWindowTitle(check ? CheckRun::title(0) : tr("Repairing %1% \u2014 Varnel").arg(0));
        return;
    }
    const QString reason = runner->startError();
    delete runner;
    m_check.end();
    m_log.add(check ? CheckRun::notStarted(reason) : tr("The repair could not be started: %1").arg(reason));
    m_log.flush();
    updateLabels();
    alert(check ? CheckRun::notStartedAlert(reason)
                : tr("The repair could not be started.\n\n%1").arg(reason),
          QMessageBox::Critical);
}

void AppDelegate::completeCheck() {
    m_check.end();
    m_log.add(m_check.summary());
    m_log.flush();
    setHidden(lblLastScannedDesc, false);
    updateLabels();
    // Never a request for attention nor a notice: the user asked for the check and reads its result here.
    if (m_check.offerRepair(_window) && !m_currentRun)
        btnScanAndFixClicked();
}

void AppDelegate::completeRun() {
    m_currentRun = nullptr;
    if (m_check.active())
        return completeCheck();
    const QString summary = m_repairedFiles == 0   ? tr("Nothing needed repair")
                            : m_repairedFiles == 1 ? tr("1 file repaired")
                                                   : tr("%1 files repaired").arg(m_repairedFiles);
    m_log.add(summary);
    m_log.flush();
    QSettings settings;
    settings.setValue(QLatin1String(kLastRunKey), dateutil::currentSeconds());
    settings.sync();
    const bool saved = settings.status() == QSettings::NoError;
    setHidden(lblLastScannedDesc, false);
    updateLabels();
    requestUserAttention();
    m_notifier.runEnded(_window, true, summary);
    if (!saved)
        alert(tr("The repair is complete, but its time could not be saved in %1, so Varnel will not remember "
                 "it after it quits.")
                  .arg(QDir::toNativeSeparators(settings.fileName())),
              QMessageBox::Warning);
}

void AppDelegate::failRun(const QString& toolPath, const repair::RepairOutcome& outcome) {
    m_currentRun = nullptr;
    const bool check = m_check.active();
    m_check.end();
    setHidden(lblLastScannedDesc, false);
    updateLabels();
    const FailedRun failure(toolPath, outcome, check);
    for (const QString& paragraph : failure.paragraphs())
        for (const QString& line : paragraph.split(QLatin1Char('\n')))
            m_log.add(line);
    m_log.flush();
    if (!check)
        m_notifier.runEnded(_window, false, failure.paragraphs().value(0));
    QString message = failure.paragraphs().join(QLatin1String("\n\n"));
    message += QLatin1String("\n\n") + tr("The time of the last repair was left as it was.");
    alert(message, QMessageBox::Critical);
}

void AppDelegate::stopRun() {
    QPointer<repair::repairPermissions> runner = m_currentRun;
    m_currentRun = nullptr;
    if (runner) {
        runner->cancelRepair(); // ends the tool and whatever it started; no end call follows
        runner->deleteLater();
    }
    m_check.end();
    m_log.add(tr("Stopped by you"));
    m_log.flush();
    setHidden(lblLastScannedDesc, false);
    updateLabels();
}

bool AppDelegate::userAgreesToStop() {
    QMessageBox box(_window);
    box.setWindowTitle(QStringLiteral("Varnel"));
    box.setTextFormat(Qt::PlainText);
    box.setText(m_check.active() ? CheckRun::stopQuestion()
                                 : tr("Stop the repair? Files repaired so far stay repaired."));
    box.setIcon(QMessageBox::Question);
    QPushButton* stop = box.addButton(tr("Stop"), QMessageBox::DestructiveRole);
    QPushButton* goOn = box.addButton(tr("Continue"), QMessageBox::RejectRole);
    box.setDefaultButton(goOn);
    box.setEscapeButton(goOn);
    box.exec();
    return box.clickedButton() == stop;
}

void AppDelegate::btnStopClicked() {
    // The run may end by itself while the question is open; then there is nothing left to stop.
    if (m_currentRun && userAgreesToStop() && m_currentRun)
        stopRun();
}

void AppDelegate::miQuitClicked() {
    if (m_currentRun) {
        if (!userAgreesToStop())
            return;
        if (m_currentRun)
            stopRun();
    }
    QCoreApplication::quit();
}

void AppDelegate::btnDetailsToggled(bool open) {
    setHidden(detailsPanel, !open);
    if (btnDetails) {
        btnDetails->setText(open ? tr("Hide &details") : tr("Show &details"));
        btnDetails->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    }
    m_log.setViewOpen(open);
    if (_window)
        WindowFit::fit(_window, open);
}

void AppDelegate::btnCopyLogClicked() {
    QGuiApplication::clipboard()->setText(m_log.text());
}

void AppDelegate::btnSaveLogClicked() {
    const QString fileName = QFileDialog::getSaveFileName(_window, tr("Save the Repair Log"),
                                                          QDir::home().filePath(tr("Varnel repair log.txt")),
                                                          tr("Text files (*.txt);;All files (*)"));
    if (fileName.isEmpty())
        return;
    QString error;
    if (!saveLog(fileName, &error))
        alert(tr("The log could not be saved to %1: %2").arg(QDir::toNativeSeparators(fileName), error),
              QMessageBox::Warning);
}

bool AppDelegate::saveLog(const QString& fileName, QString* error) const {
    QSaveFile file(fileName);
    // The lines carry the time of day; the file says which day.
    const dateutil::DateComponents day = dateutil::Date(m_runStarted).components();
    const QString heading = tr("Varnel repair log of %1")
                                .arg(QStringLiteral("%1-%2-%3")
                                         .arg(day.year, 4, 10, QLatin1Char('0'))
                                         .arg(day.month, 2, 10, QLatin1Char('0'))
                                         .arg(day.day, 2, 10, QLatin1Char('0')));
    const QByteArray text = (heading + QLatin1String("\n\n") + m_log.text()).toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(text) >= 0 && file.commit())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

void AppDelegate::requestUserAttention() {
    if (_window)
        QApplication::alert(_window, 0);
}

void AppDelegate::miUpdateCheckClicked() {
    if (_updater) {
        _updater->checkForUpdates();
        return;
    }
    alert(tr("Unable to check for updates, please visit %1 to download the latest version.")
              .arg(QString::fromUtf8(varnel::config::kSiteHost)),
          QMessageBox::Warning);
}

void AppDelegate::openInBrowser(const QUrl& url) {
    if (!QDesktopServices::openUrl(url))
        alert(tr("No web browser could be opened. The address is:\n%1").arg(url.toString()),
              QMessageBox::Warning);
}

void AppDelegate::miHelpClicked() {
    openInBrowser(siteUrl(QStringLiteral("http"), QStringLiteral("/faq")));
}

void AppDelegate::lblLinkClicked() {
    openInBrowser(siteUrl(QStringLiteral("http"), QStringLiteral("/")));
}

} // namespace app
