#include "repair/repairPermissions.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThread>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace repair {
namespace {

// Launching is a fork and an exec; this only guards against a tool on a file system that does not answer.
constexpr int kStartTimeoutMs = 5000;
// How long a terminated tool gets to exit before it is killed, and how long the kill may take.
constexpr int kTerminateGraceMs = 1000;
constexpr int kKillWaitMs = 1000;
constexpr qsizetype kErrorTailBytes = 4096;

// Why the tool at path cannot be launched, in plain words; empty when it looks like a program we may run.
QString launchProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        return repairPermissions::tr("The repair tool %1 does not exist.").arg(path);
    if (info.isDir())
        return repairPermissions::tr("The repair tool %1 is a folder, not a program.").arg(path);
    if (!info.isFile())
        return repairPermissions::tr("The repair tool %1 is not a program.").arg(path);
    if (!info.isExecutable())
        return repairPermissions::tr("The repair tool %1 is not executable.").arg(path);
    return {};
}

QString execProblem(const QString& path, int error) {
    if (error == ENOEXEC)
        return repairPermissions::tr("The repair tool %1 is not a program this system can run.").arg(path);
    return repairPermissions::tr("The repair tool %1 could not be started: %2.")
        .arg(path, QString::fromLocal8Bit(std::strerror(error)));
}

// Runs in the child between fork and exec, and execs the tool as the leader of a session of its own, and
// so of a process group of its own, without a controlling terminal: started from a terminal, pkexec would
// otherwise ask for the password there, where nobody looks, and the run would wait for ever. Without a
// terminal, authentication goes to the desktop's agent or fails at once. A failed exec is reported
// through reportFd. Qt starts the child with vfork on Linux, so this runs
// on a stack in the parent's memory: async-signal-safe calls only, and no AddressSanitizer bookkeeping
// (it would leave that stack's shadow poisoned for the parent). *error is the parent's, not on that stack.
[[noreturn]] __attribute__((no_sanitize("address"))) void execTool(char* const* argv, int reportFd,
                                                                   int* error) {
    if (::setsid() < 0)
        ::setpgid(0, 0);
    ::execv(argv[0], argv);
    *error = errno;
    [[maybe_unused]] const auto written = ::write(reportFd, error, sizeof *error);
    ::_exit(127);
}

// Sends sig to the tool's process group: the tool and whatever it started. A tool that left its group
// gets the signal on its own as well.
void signalGroup(const QProcess& task, pid_t group, int sig) {
    ::kill(-group, sig);
    if (task.state() != QProcess::NotRunning && ::getpgid(group) != group)
        ::kill(group, sig);
}

// Whether anything of the group the tool led is still there. Once the tool is reaped, its number stays
// reserved for as long as the group has members, so this never names another program's group.
bool groupAlive(pid_t group) {
    return ::kill(-group, 0) == 0;
}

// Whether the tool has exited, found without reaping it and without reading its output: QProcess's own
// wait reads (and allocates for) everything a flooding tool writes meanwhile; unread, the tool blocks
// once the pipe is full.
bool toolExited(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

// Waits, without an event loop, until the tool has exited and nothing of its group is left, or until
// the deadline; true when all of it is gone.
bool waitForGroup(QProcess& task, pid_t group, QDeadlineTimer deadline) {
    for (;;) {
        // Reaped by QProcess, which reads at most what the pipes hold by now.
        if (task.state() != QProcess::NotRunning && toolExited(group))
            task.waitForFinished(static_cast<int>(deadline.remainingTime()));
        const bool gone = task.state() == QProcess::NotRunning && !groupAlive(group);
        if (gone || deadline.hasExpired())
            return gone;
        QThread::msleep(10);
    }
}

// Ends a tool and everything in its process group within kTerminateGraceMs + kKillWaitMs: SIGTERM to the
// group, a grace for all of it to go, then SIGKILL to what is left.
void endTool(QProcess& task) {
    if (task.state() == QProcess::NotRunning)
        return;
    const auto group = static_cast<pid_t>(task.processId());
    signalGroup(task, group, SIGTERM);
    if (waitForGroup(task, group, QDeadlineTimer(kTerminateGraceMs)))
        return;
    signalGroup(task, group, SIGKILL);
    waitForGroup(task, group, QDeadlineTimer(kKillWaitMs));
}

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

bool repairPermissions::beginRepair(const QString& volumePath, const QString& verb) {
    if (diskUtilTask)
        return false;
    // Checked first, for a plain reason and so that nothing is forked for a tool that is plainly not there.
    m_startError = launchProblem(m_toolPath);
    if (!m_startError.isEmpty())
        return false;

    const QString path = QFileInfo(m_toolPath).absoluteFilePath();
    auto task = std::make_unique<QProcess>();
    task->setProgram(path);
    task->setStandardInputFile(QProcess::nullDevice());
    // The child execs the tool itself and reports a failed exec through a pipe of ours: Qt 6.4's own
    // failure path loses a descriptor of the parent's at every failed start (its vfork child clears the
    // parent's copy of its error pipe's number). The tool leads a process group of its own, so that
    // ending it ends what it started too.
    int report[2];
    if (::pipe(report) != 0) {
        m_startError = execProblem(path, errno);
        return false;
    }
    for (const int fd : report)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ::fcntl(report[0], F_SETFL, O_NONBLOCK);
    QByteArray args[] = {QFile::encodeName(path), verb.toUtf8(), "-plist", QFile::encodeName(volumePath)};
    std::vector<char*> argv;
    for (QByteArray& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    int childError = 0;
    task->setChildProcessModifier([&] { execTool(argv.data(), report[1], &childError); });
    task->start();
    task->setChildProcessModifier({});
    ::close(report[1]);
    // QProcess reports a failed fork only from the event loop unless asked to wait for it.
    const bool launched = task->waitForStarted(kStartTimeoutMs);
    int execError = 0;
    const bool execFailed = launched && ::read(report[0], &execError, sizeof execError) == sizeof execError;
    ::close(report[0]);
    if (!launched || execFailed) {
        if (execFailed)
            m_startError = execProblem(path, execError);
        else if (task->error() == QProcess::FailedToStart)
            m_startError = tr("The repair tool %1 could not be started: %2").arg(path, task->errorString());
        else
            m_startError = tr("The repair tool %1 did not start within %2 seconds.")
                               .arg(path)
                               .arg(kStartTimeoutMs / 1000);
        endTool(*task);
        disposeTask(std::move(task));
        return false;
    }

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
    // Nothing more of this run is wanted: what the tool writes while it is being ended is never kept.
    task->closeReadChannel(QProcess::StandardOutput);
    task->closeReadChannel(QProcess::StandardError);
    endTool(*task);
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
    if (task->state() != QProcess::NotRunning) {
        // Not even the kill ended it (a child stuck in the kernel). ~QProcess would wait for it up to
        // 30 s; it is left to go in its own time instead, and nothing owns it, so that nothing waits
        // for it at the application's exit either.
        QProcess* stray = task.release();
        stray->disconnect(this);
        connect(stray, &QProcess::finished, stray, &QObject::deleteLater);
        return;
    }
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
