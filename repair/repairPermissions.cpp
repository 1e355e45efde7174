#include "repair/repairPermissions.h"

#include <QPointer>
#include <QStringList>
#include <utility>

namespace repair {
namespace {

// Launching is a fork and an exec; this only guards against a tool on a file system that does not answer.
constexpr int kStartTimeoutMs = 5000;
// How long a terminated tool gets to exit before it is killed, and how long the kill may take.
constexpr int kTerminateGraceMs = 1000;
constexpr int kKillWaitMs = 1000;
constexpr qsizetype kErrorTailBytes = 4096;

} // namespace

repairPermissions::repairPermissions(RepairProgressDelegate* delegate, QString toolPath, QObject* parent)
    : QObject(parent)
    , m_toolPath(std::move(toolPath)) {
    setDelegate(delegate);
}

repairPermissions::~repairPermissions() {
    cancelRepair();
}

void repairPermissions::setDelegate(RepairProgressDelegate* delegate) {
    m_Delegate = delegate;
}

bool repairPermissions::beginRepair(const QString& volumePath) {
    if (diskUtilTask)
        return false;

    auto task = std::make_unique<QProcess>();
    task->setProgram(m_toolPath);
    task->setArguments({QStringLiteral("repairPermissions"), QStringLiteral("-plist"), volumePath});
    task->setStandardInputFile(QProcess::nullDevice());
    task->start();
    // QProcess reports a failed exec only from the event loop unless asked to wait for it.
    if (!task->waitForStarted(kStartTimeoutMs)) {
        if (task->error() == QProcess::FailedToStart)
            m_startError =
                tr("The repair tool %1 could not be started: %2").arg(m_toolPath, task->errorString());
        else
            m_startError = tr("The repair tool %1 did not start within %2 seconds.")
                               .arg(m_toolPath)
                               .arg(kStartTimeoutMs / 1000);
        if (task->state() != QProcess::NotRunning) {
            task->kill();
            task->waitForFinished(kKillWaitMs);
        }
        return false;
    }

    m_startError.clear();
    m_errorTail.clear();
    m_errorTailCut = false;
    m_decoder.finish(); // a cancelled run may have left part of a character behind
    // Connected only now, so that nothing of the run reaches the delegate before beginRepair returns.
    connect(task.get(), &QProcess::readyReadStandardOutput, this, &repairPermissions::readStandardOutput);
    connect(task.get(), &QProcess::readyReadStandardError, this, &repairPermissions::readStandardError);
    connect(task.get(), &QProcess::finished, this, &repairPermissions::taskFinished);
    diskUtilTask = std::move(task);
    return true;
}

void repairPermissions::cancelRepair() {
    if (!diskUtilTask)
        return;
    std::unique_ptr<QProcess> task = std::move(diskUtilTask);
    task->disconnect(this);
    if (task->state() != QProcess::NotRunning) {
        task->terminate();
        if (!task->waitForFinished(kTerminateGraceMs)) {
            task->kill();
            task->waitForFinished(kKillWaitMs);
        }
    }
    disposeTask(std::move(task));
}

bool repairPermissions::isRunning() const {
    return diskUtilTask && diskUtilTask->state() != QProcess::NotRunning;
}

void repairPermissions::readStandardOutput() {
    const QString text = m_decoder.decode(diskUtilTask->readAllStandardOutput());
    if (!text.isEmpty())
        sendProgress(text);
}

void repairPermissions::readStandardError() {
    keepErrorOutput(diskUtilTask->readAllStandardError());
}

void repairPermissions::taskFinished(int exitCode, QProcess::ExitStatus exitStatus) {
    QProcess* const task = diskUtilTask.get();
    task->disconnect(this);
    // QProcess has read what the pipes held when the child died; take what is not delivered yet.
    keepErrorOutput(task->readAllStandardError());
    QString rest = m_decoder.decode(task->readAllStandardOutput());
    rest += m_decoder.finish();

    RepairOutcome outcome;
    outcome.crashed = exitStatus == QProcess::CrashExit;
    outcome.exitStatus = outcome.crashed ? 0 : exitCode;
    QByteArrayView tail = m_errorTail;
    if (m_errorTailCut) // the cut may have split a character; start at the next whole one
        while (!tail.isEmpty() && (static_cast<unsigned char>(tail.front()) & 0xC0) == 0x80)
            tail = tail.sliced(1);
    outcome.errorOutput = QString::fromUtf8(tail);

    // The delegate may destroy the runner or cancel the run in any call; then nothing more is said.
    const auto stillThisRun = [&] { return diskUtilTask.get() == task; };
    if (!rest.isEmpty() && (!sendProgress(rest) || !stillThisRun()))
        return;
    if (!sendProgress(QString()) || !stillThisRun())
        return;
    // We are inside the child's own finished signal: it may only go once that is over.
    diskUtilTask.release()->deleteLater();
    callDelegate([&](RepairProgressDelegate& d) { d.repairPermissionsFinished(this, outcome); });
}

void repairPermissions::keepErrorOutput(const QByteArray& bytes) {
    m_errorTail += bytes;
    if (m_errorTail.size() > kErrorTailBytes) {
        m_errorTail.remove(0, m_errorTail.size() - kErrorTailBytes);
        m_errorTailCut = true;
    }
}

void repairPermissions::disposeTask(std::unique_ptr<QProcess> task) {
    // Inside a delegate call the child may be in the middle of emitting one of its signals; deleting it
    // then would pull it out from under its own feet.
    if (m_delegateCalls > 0)
        task.release()->deleteLater();
}

bool repairPermissions::sendProgress(const QString& chunk) {
    return callDelegate([&](RepairProgressDelegate& d) { d.repairPermissionsProgress(this, chunk); });
}

template <typename Call>
bool repairPermissions::callDelegate(Call call) {
    if (!m_Delegate)
        return true;
    const QPointer<repairPermissions> alive(this);
    ++m_delegateCalls;
    call(*m_Delegate);
    if (!alive)
        return false;
    --m_delegateCalls;
    return true;
}

} // namespace repair
