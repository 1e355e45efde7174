#include "update/Updater.h"

#include "core/CheckedConversion.h"
#include "dateutil/Clock.h"
#include "update/MessageBoxPresenter.h"
#include "update/VersionComparator.h"
#include "varnel/Config.h"

#include <QApplication>
#include <QHash>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QSysInfo>
#include <algorithm>
#include <cmath>

namespace update {
namespace {

// Asks the system for every request, so proxy changes made while the program runs apply too.
class SystemProxyFactory final : public QNetworkProxyFactory {
public:
    QList<QNetworkProxy> queryProxy(const QNetworkProxyQuery& query) override {
        return systemProxyForQuery(query);
    }
};

// The system version that a release's minimum system version is compared with. Feeds state macOS
// versions; other systems have no number on the same scale, so there the constraint is not applied.
QString systemVersion() {
#ifdef Q_OS_MACOS
    return QSysInfo::productVersion();
#else
    return {};
#endif
}

QString currentVersion() {
    return QString::fromUtf8(varnel::config::kVersion);
}

} // namespace

Updater::Updater(QObject* parent)
    : QObject(parent)
    , m_buildVersion(QString::fromUtf8(varnel::config::kBuildVersion))
    , m_presenter(std::make_unique<MessageBoxPresenter>()) {
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this,
            [this] { fail(CheckResult::Failure::Timeout, tr("The update server did not answer in time.")); });
    m_schedule->setObjectName(QStringLiteral("schedule"));
    m_schedule->setSingleShot(true);
    connect(m_schedule, &QTimer::timeout, this, &Updater::onScheduleTimer);
}

Updater::~Updater() = default;

Updater* Updater::updaterForBundle(const QString& bundleIdentifier) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app || bundleIdentifier.isEmpty())
        return nullptr;
    static QHash<QString, QPointer<Updater>> shared;
    QPointer<Updater>& client = shared[bundleIdentifier];
    if (!client) {
        client = new Updater(app);
        client->m_notBefore = dateutil::currentSeconds() + kQuietStart;
    }
    return client;
}

void Updater::setFeedURL(const QUrl& url) {
    m_feedUrl = url;
}

void Updater::setUpdateCheckInterval(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return;
    m_interval = std::max(seconds, kMinimumCheckInterval);
    reschedule();
}

void Updater::setAutomaticallyChecksForUpdates(bool enabled) {
    m_automaticChecks = enabled;
    reschedule();
}

void Updater::setPresenter(std::unique_ptr<UpdatePresenter> presenter) {
    m_presenter = std::move(presenter);
}

std::optional<double> Updater::lastUpdateCheckDate() {
    const QVariant value = QSettings().value(QLatin1String(kLastCheckKey));
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!value.isValid() || !ok || !std::isfinite(seconds))
        return std::nullopt;
    return seconds;
}

std::optional<double> Updater::nextUpdateCheckDate() const {
    if (!m_automaticChecks)
        return std::nullopt;
    const double now = dateutil::currentSeconds();
    std::optional<double> last = m_lastAttempt ? m_lastAttempt : lastUpdateCheckDate();
    // A check after now (the clock was set back, or the stored value is damaged) would put the next
    // one off for as long; it counts as no check at all.
    if (last && *last > now)
        last.reset();
    // After a failed check, the next comes sooner; m_lastAttempt is that check.
    double wait = m_interval;
    if (m_failedChecks > 0 && m_failedChecks <= kRetryDelays.size())
        wait = std::min(wait, kRetryDelays[m_failedChecks - 1]);
    return std::max(last ? std::max(now, *last + wait) : now, m_notBefore);
}

void Updater::reschedule() {
    const auto due = nextUpdateCheckDate();
    if (!due) {
        m_schedule->stop();
        return;
    }
    if (isChecking())
        return; // the running check reschedules when it ends
    // Delays beyond the timer's range are capped; onScheduleTimer re-arms until the check is due.
    const double delayMs = std::ceil((*due - dateutil::currentSeconds()) * 1000.0);
    m_schedule->start(std::max(0, varnel::saturatingTruncate<int>(delayMs)));
}

void Updater::onScheduleTimer() {
    const auto due = nextUpdateCheckDate();
    if (!due || isChecking())
        return;
    if (*due > dateutil::currentSeconds()) {
        reschedule();
        return;
    }
    startCheck(false);
}

void Updater::checkForUpdates() {
    startCheck(true);
}

void Updater::startCheck(bool userInitiated) {
    if (isChecking()) {
        m_userInitiated = m_userInitiated || userInitiated;
        return;
    }
    m_userInitiated = userInitiated;
    m_schedule->stop();
    if (!isWebLink(m_feedUrl)) {
        CheckResult result;
        result.failure = CheckResult::Failure::NoFeed;
        result.reason = tr("No valid address of the update feed is set.");
        finish(std::move(result));
        return;
    }
    if (!m_network) {
        m_network = new QNetworkAccessManager(this);
        m_network->setProxyFactory(new SystemProxyFactory);
    }
    QNetworkRequest request(m_feedUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("%1/%2").arg(QCoreApplication::applicationName(), currentVersion()));
    // No compression: the size limit then counts the bytes that really arrive.
    request.setRawHeader("Accept-Encoding", "identity");
    m_body.clear();
    m_reply = m_network->get(request);
    // The network layer buffers no more than the client may keep; it stops reading the socket then.
    m_reply->setReadBufferSize(kMaxFeedBytes + 1);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &Updater::onMetaDataChanged);
    connect(m_reply, &QNetworkReply::readyRead, this, &Updater::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &Updater::onReplyFinished);
    m_deadline.start(m_transferTimeout);
}

void Updater::onMetaDataChanged() {
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    if (!status.isValid() || (code >= 300 && code < 400))
        return; // a redirect that is being followed; the final answer decides
    if (code != 200) {
        refuse(CheckResult::Failure::HttpStatus,
               tr("The update server answered with HTTP status %1.").arg(code));
        return;
    }
    bool ok = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    if (ok && length > kMaxFeedBytes)
        refuse(CheckResult::Failure::TooLarge, tr("The update feed is larger than 1 MiB."));
}

void Updater::onReadyRead() {
    const int code = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (m_refusal || code != 200) {
        m_reply->readAll(); // a body that is not read: a redirect's, or one already refused
        return;
    }
    m_body += m_reply->read(kMaxFeedBytes + 1 - m_body.size());
    if (m_body.size() > kMaxFeedBytes)
        refuse(CheckResult::Failure::TooLarge, tr("The update feed is larger than 1 MiB."));
}

void Updater::refuse(CheckResult::Failure failure, const QString& reason) {
    if (m_refusal)
        return;
    m_refusal = Refusal{failure, reason};
    // Aborting a reply from inside its own signals confuses QtNetwork; the abort waits for the event loop.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_refusal)
                fail(m_refusal->failure, m_refusal->reason);
        },
        Qt::QueuedConnection);
}

void Updater::onReplyFinished() {
    using Failure = CheckResult::Failure;
    const QNetworkReply::NetworkError error = m_reply->error();
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const int code = status.toInt();
    if (m_refusal) {
        fail(m_refusal->failure, m_refusal->reason);
    } else if (error == QNetworkReply::TooManyRedirectsError) {
        fail(Failure::Redirect, tr("The update server redirected too many times."));
    } else if (error == QNetworkReply::InsecureRedirectError || (code >= 300 && code < 400)) {
        // A redirect that was not followed: to a less safe scheme, or to one that is not http at all.
        fail(Failure::Redirect, tr("The update server redirected to an address that is not allowed."));
    } else if (status.isValid() && code != 200) {
        fail(Failure::HttpStatus, tr("The update server answered with HTTP status %1.").arg(code));
    } else if (error != QNetworkReply::NoError || !status.isValid()) {
        fail(Failure::Network,
             tr("The update server could not be reached (%1).").arg(m_reply->errorString()));
    } else {
        onReadyRead(); // whatever is still buffered
        if (m_refusal) {
            fail(m_refusal->failure, m_refusal->reason);
            return;
        }
        const QUrl base = m_reply->url();
        const QByteArray body = std::exchange(m_body, {});
        m_deadline.stop();
        m_reply->deleteLater();
        m_reply = nullptr;
        finish(evaluate(body, base));
    }
}

CheckResult Updater::evaluate(const QByteArray& body, const QUrl& base) const {
    CheckResult result;
    QString problem;
    const auto feed = Appcast::parse(body, base, &problem);
    if (!feed) {
        result.failure = CheckResult::Failure::UnreadableFeed;
        result.reason = tr("The update feed could not be read (%1).").arg(problem);
        return result;
    }
    // Without a single release version the feed cannot show that this version is the newest one.
    const auto& items = feed->items();
    if (std::ranges::all_of(items, [](const AppcastItem& item) { return item.version.isEmpty(); })) {
        result.failure = CheckResult::Failure::UnreadableFeed;
        result.reason = tr("The update feed could not be read (it names no release version).");
        return result;
    }
    result.item = feed->newestItem(systemVersion());
    const bool newer = result.item && VersionComparator::compare(result.item->version, m_buildVersion) > 0;
    result.outcome = newer ? CheckResult::Outcome::UpdateAvailable : CheckResult::Outcome::UpToDate;
    return result;
}

void Updater::fail(CheckResult::Failure failure, const QString& reason) {
    CheckResult result;
    result.failure = failure;
    result.reason = reason;
    m_deadline.stop();
    if (m_reply) {
        // Disconnected first: abort() would otherwise report the reply finished a second time.
        disconnect(m_reply, nullptr, this, nullptr);
        if (!m_reply->isFinished())
            m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
    m_body.clear();
    m_refusal.reset();
    finish(std::move(result));
}

void Updater::finish(CheckResult result) {
    result.currentVersion = currentVersion();
    result.userInitiated = std::exchange(m_userInitiated, false);
    const double now = dateutil::currentSeconds();
    m_lastAttempt = now;
    const bool failed = result.outcome == CheckResult::Outcome::Failed;
    m_failedChecks = failed ? m_failedChecks + 1 : 0;
    if (!failed) {
        QSettings settings;
        settings.setValue(QLatin1String(kLastCheckKey), now);
        settings.sync();
        // A write that fails (settings.status() != NoError) costs one extra check at the next start;
        // this run's schedule rests on m_lastAttempt, so nothing else needs to change.
    }
    if (m_presenter && (result.userInitiated || result.outcome == CheckResult::Outcome::UpdateAvailable))
        m_presenter->present(result);
    reschedule();
    emit checkFinished(result);
}

} // namespace update
