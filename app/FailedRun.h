#pragma once

#include "repair/RepairProgressDelegate.h"

#include <QCoreApplication>
#include <QString>
#include <QStringList>

namespace app {

// What a user is told of a run of the repair tool that did not finish: what happened and what to do, in
// plain words. The tool elevates itself through pkexec, whose exit statuses (126: the request was
// dismissed; 127: authentication was impossible or failed) and messages on standard error tell the
// ways authentication goes wrong apart.
class FailedRun {
    Q_DECLARE_TR_FUNCTIONS(app::FailedRun)

public:
    // check: the run was a check without repairing, run with that verb.
    FailedRun(const QString& toolPath, const repair::RepairOutcome& outcome, bool check = false);

    // The explanation, a paragraph each: the alert shows them and the log keeps them, a line each.
    const QStringList& paragraphs() const { return m_paragraphs; }
    // The command that runs the repair, or the check, in a terminal instead.
    static QString terminalCommand(const QString& toolPath, bool check = false);

private:
    QStringList m_paragraphs;
};

} // namespace app
