#include "app/FailedRun.h"

#include <QRegularExpression>

namespace app {
namespace {

// pkexec's statuses, passed on by the tool.
constexpr int kAuthenticationDismissed = 126;
constexpr int kAuthenticationImpossible = 127;

} // namespace

QString FailedRun::terminalCommand(const QString& toolPath, bool check) {
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_./+-]+$"));
    QString quoted = toolPath;
    if (!plain.match(toolPath).hasMatch())
        quoted = QLatin1Char('\'') + QString(toolPath).replace(QLatin1Char('\''), QLatin1String("'\\''")) +
                 QLatin1Char('\'');
    return QStringLiteral("sudo %1 %2 -plist /")
        .arg(quoted, check ? QLatin1String("verifyPermissions") : QLatin1String("repairPermissions"));
}

FailedRun::FailedRun(const QString& toolPath, const repair::RepairOutcome& outcome, bool check) {
    const QString said = outcome.errorOutput;
    const QString inTerminal = terminalCommand(toolPath, check);
#if !defined(Q_OS_MACOS)
    if (!outcome.crashed && outcome.exitStatus == kAuthenticationDismissed) {
        m_paragraphs
            << tr("The request for an administrator's password was cancelled, so nothing was changed.")
            << tr("To repair, press Scan and Repair again and enter an administrator's password when "
                  "asked.");
        return;
    }
    if (!outcome.crashed && outcome.exitStatus == kAuthenticationImpossible) {
        // pkexec finds no agent of the session, or cannot fall back on one for the terminal (a tool
        // started without one).
        if (said.contains(QLatin1String("No authentication agent found")) ||
            said.contains(QLatin1String("Error creating textual authentication agent"))) {
            m_paragraphs
                << tr("Varnel could not ask for an administrator's password: no password prompt can be "
                      "shown in this session, so nothing was changed.")
                << tr("Start Varnel from a desktop session, or run the repair in a terminal:\n%1")
                       .arg(inTerminal);
        } else if (said.contains(QLatin1String("Not authorized"))) {
            m_paragraphs << tr("The password was not accepted, or this account may not repair the system, so "
                               "nothing was changed.")
                         << tr("Press Scan and Repair again and enter an administrator's password, or let an "
                               "administrator run the repair in a terminal:\n%1")
                                .arg(inTerminal);
        } else if (said.contains(QLatin1String("pkexec"))) {
            m_paragraphs
                << tr("Varnel could not ask for an administrator's password because pkexec could not "
                      "be started, so nothing was changed.")
                << tr("Install pkexec, or run the repair in a terminal:\n%1").arg(inTerminal);
        } else {
            m_paragraphs << tr("Varnel could not get an administrator's permission to repair, so nothing was "
                               "changed.")
                         << tr("Start Varnel from a desktop session, or run the repair in a terminal:\n%1")
                                .arg(inTerminal);
        }
        return;
    }
#endif
    if (check)
        m_paragraphs << (outcome.crashed
                             ? tr("The check did not finish: the repair tool %1 was stopped by a signal.")
                                   .arg(toolPath)
                             : tr("The check did not finish: the repair tool %1 ended with exit status %2.")
                                   .arg(toolPath)
                                   .arg(outcome.exitStatus));
    else
        m_paragraphs << (outcome.crashed
                             ? tr("The repair did not finish: the repair tool %1 was stopped by a signal.")
                                   .arg(toolPath)
                             : tr("The repair did not finish: the repair tool %1 ended with exit status %2.")
                                   .arg(toolPath)
                                   .arg(outcome.exitStatus));
    const QStringList lines = said.trimmed().split(QLatin1Char('\n'));
    if (const QString last = lines.last().trimmed(); !last.isEmpty())
        m_paragraphs << tr("The tool said: %1").arg(last);
}

} // namespace app
