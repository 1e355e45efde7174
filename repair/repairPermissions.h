#pragma once

#include "repair/RepairProgressDelegate.h"
#include "repair/Utf8StreamDecoder.h"
#include "varnel/Config.h"

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <memory>

namespace repair {

// Runs the permission-repair tool on one volume as a child process and streams its standard output,
// decoded as UTF-8, to a delegate.
//
// A runner is Ready or Active. beginRepair() launches "<tool> <verb> -plist <volume>" (the verb is
// repairPermissions, or verifyPermissions for a check that changes nothing) and makes the runner Active. From
// then on the delegate receives every piece of the tool's standard output as it arrives; once the tool has
// exited, one empty text for the end of its output (QProcess tells of that only then), and the end call with
// the outcome, for which the runner is Ready again. Nothing else is reported for the run.
//
// Every byte the tool wrote before exiting is delivered before the end call. The end follows the tool's
// exit, not the end of its output: a background process of the tool that keeps the output open does not
// hold the run up. The tool reads nothing (its standard input is the null device); its standard error is
// kept apart from the pieces, and its last few KiB go with the end call. Its environment is this
// program's own.
//
// The runner listens to its own child only. The tool leads a session and a process group of its own and
// has no controlling terminal. Cancelling or
// destroying an Active runner ends that group, the tool and whatever it started (SIGTERM, then SIGKILL
// to what is left after a second's grace), makes no delegate call, and never takes much more than two
// seconds: a tool that not even the kill ends is left to go in its own time, not waited for. What the
// tool writes meanwhile is dropped. Everything runs on the thread that owns the runner.
class repairPermissions : public QObject {
    Q_OBJECT

public:
    // toolPath is the executable to run; the compiled-in tool by default.
    explicit repairPermissions(RepairProgressDelegate* delegate,
                               QString toolPath = QString::fromUtf8(varnel::config::kDiskUtilPath),
                               QObject* parent = nullptr);
    ~repairPermissions() override;

    repairPermissions(const repairPermissions&) = delete;
    repairPermissions& operator=(const repairPermissions&) = delete;

    // Not owned; may be null, and the run then proceeds without reporting. It must outlive the runner
    // or be replaced before it goes.
    void setDelegate(RepairProgressDelegate* delegate);

    // Launches the tool on the volume. True when it was launched: the end call will follow. False when
    // the runner is Active already (nothing changes) or the tool could not be launched at all (missing,
    // a folder, not executable, not a program); then the runner stays Ready, holds nothing, no delegate
    // call follows and startError() says why.
    bool beginRepair(const QString& volumePath, const QString& verb = QStringLiteral("repairPermissions"));
    // Ends the current run's tool and its process group, if any, as destruction does; no delegate call
    // follows and the runner is Ready at once.
    void cancelRepair();
    // Whether a run's tool is still running (it is Active and its exit has not been handled yet).
    bool isRunning() const;

    // Why the last beginRepair() that tried to launch the tool failed, for a message to the user; empty
    // after a successful launch.
    QString startError() const { return m_startError; }
    QString toolPath() const { return m_toolPath; }

private:
    void readStandardOutput();
    void readStandardError();
    void taskFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void keepErrorOutput(const QByteArray& bytes);
    void disposeTask(std::unique_ptr<QProcess> task);
    // Calls the delegate, if any; false when the call destroyed this runner.
    template <typename Call>
    bool callDelegate(Call call);
    bool sendProgress(const QString& chunk);

    RepairProgressDelegate* m_Delegate = nullptr;
    // The child of the current run; set exactly while the runner is Active.
    std::unique_ptr<QProcess> diskUtilTask;
    QString m_toolPath;
    QString m_startError;
    Utf8StreamDecoder m_decoder;
    QByteArray m_errorTail; // the end of the tool's standard error, bounded
    bool m_errorTailCut = false;
    int m_delegateCalls = 0; // delegate calls under way; the child may be inside a signal then
};

} // namespace repair
