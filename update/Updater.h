#pragma once

#include "update/CheckResult.h"

#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <array>
#include <chrono>
#include <memory>
#include <optional>

class QNetworkAccessManager;

namespace update {

class UpdatePresenter;

// The application's update client. It fetches a release feed (an appcast), compares the machine version
// of the newest release (its "version", a build number) with the application's build version, and tells
// the user, showing the release's short version string; it never downloads or installs anything.
//
// A check the user asks for always ends in a dialog: up to date, a newer version, or why it failed.
// Automatic checks run at start-up when the last successful one is older than the interval and then
// once per interval; they stay silent unless a newer version is available. After a check that failed
// (a machine that starts before its network is up) the next one comes sooner, after each of
// kRetryDelays in turn and then at the interval; a successful check returns to the interval. Only one
// check runs at a time: a request made while one runs joins it.
//
// The feed is untrusted input: responses over kMaxFeedBytes are abandoned, a check that takes longer
// than the transfer time-out is abandoned, redirects are limited and never go from https to http, only
// status 200 is read, and the system proxy settings apply. A feed without a single release version
// fails as unreadable: it cannot show that this version is the newest.
class Updater : public QObject {
    Q_OBJECT

public:
    static constexpr qint64 kMaxFeedBytes = 1024 * 1024;
    static constexpr int kMaxRedirects = 5;
    static constexpr std::chrono::milliseconds kDefaultTransferTimeout{30'000};
    static constexpr double kDefaultCheckInterval = 86400.0;
    static constexpr double kMinimumCheckInterval = 3600.0;
    // Seconds to the next automatic check after one, two, ... checks in a row failed; never beyond the
    // interval.
    static constexpr std::array<double, 2> kRetryDelays{15 * 60.0, 60 * 60.0};
    // A shared client makes no automatic check in its first seconds: its first check loads the network
    // and TLS libraries, and the application's window comes first.
    static constexpr double kQuietStart = 5.0;
    // The settings key of the time of the last successful check, in seconds since 1970.
    static constexpr char kLastCheckKey[] = "Varnel.update.lastCheck";

    explicit Updater(QObject* parent = nullptr);
    ~Updater() override;

    // The shared client of the application named by bundleIdentifier, created on first request and owned
    // by the application object, quiet for kQuietStart seconds; null when there is no QApplication or the
    // identifier is empty.
    static Updater* updaterForBundle(const QString& bundleIdentifier);

    // The feed's address; only http and https feeds are fetched.
    void setFeedURL(const QUrl& url);
    QUrl feedURL() const { return m_feedUrl; }

    // Seconds between automatic checks. Values below kMinimumCheckInterval are raised to it; NaN,
    // infinities and values of zero or less are ignored.
    void setUpdateCheckInterval(double seconds);
    double updateCheckInterval() const { return m_interval; }

    void setAutomaticallyChecksForUpdates(bool enabled);
    bool automaticallyChecksForUpdates() const { return m_automaticChecks; }

    // The machine version the feed's versions are compared with; the compiled-in build version by default.
    void setBuildVersion(const QString& version) { m_buildVersion = version; }
    QString buildVersion() const { return m_buildVersion; }

    // Recorded only: this client never downloads updates.
    void setAutomaticallyDownloadsUpdates(bool enabled) { m_automaticDownloads = enabled; }
    bool automaticallyDownloadsUpdates() const { return m_automaticDownloads; }

    // The longest a whole check may take, redirects included.
    void setTransferTimeout(std::chrono::milliseconds timeout) { m_transferTimeout = timeout; }

    // Replaces the default message-box presenter; null keeps every outcome unseen.
    void setPresenter(std::unique_ptr<UpdatePresenter> presenter);
    UpdatePresenter* presenter() const { return m_presenter.get(); }

    // The time of the last successful check as stored in the settings, if any.
    static std::optional<double> lastUpdateCheckDate();

    // When the next automatic check is due (seconds since 1970), or nothing while automatic checks are off.
    std::optional<double> nextUpdateCheckDate() const;

    bool isChecking() const { return m_reply != nullptr; }

public slots:
    // Checks now and always shows the outcome to the user.
    void checkForUpdates();

signals:
    // Emitted once per check, after the outcome was presented (if it is shown at all).
    void checkFinished(const update::CheckResult& result);

private:
    void startCheck(bool userInitiated);
    void onMetaDataChanged();
    void onReadyRead();
    void onReplyFinished();
    void refuse(CheckResult::Failure failure, const QString& reason);
    void fail(CheckResult::Failure failure, const QString& reason);
    void finish(CheckResult result);
    CheckResult evaluate(const QByteArray& body, const QUrl& base) const;
    void reschedule();
    void onScheduleTimer();

    QUrl m_feedUrl;
    QString m_buildVersion;
    double m_interval = kDefaultCheckInterval;
    bool m_automaticChecks = false;
    bool m_automaticDownloads = false;
    std::chrono::milliseconds m_transferTimeout = kDefaultTransferTimeout;
    std::unique_ptr<UpdatePresenter> m_presenter;

    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_body;
    struct Refusal {
        CheckResult::Failure failure;
        QString reason;
    };
    std::optional<Refusal> m_refusal; // the running check is to end with this failure
    bool m_userInitiated = false;
    QTimer m_deadline;

    QTimer* const m_schedule = new QTimer(this); // a child, so that tests can make it fire

    // When the last check of this run ended, whatever its outcome, and how many in a row failed.
    std::optional<double> m_lastAttempt;
    std::size_t m_failedChecks = 0;
    // No automatic check before this moment (seconds since 1970).
    double m_notBefore = 0;
};

} // namespace update
