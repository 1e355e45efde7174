#pragma once

#include <QString>

namespace repair {

class repairPermissions;

// How a run of the repair tool ended.
struct RepairOutcome {
    // True when the tool was ended by a signal; exitStatus is then 0.
    bool crashed = false;
    // The tool's exit status when it exited by itself.
    int exitStatus = 0;
    // The last few KiB the tool wrote to its standard error, decoded as UTF-8; its own words on a failure.
    QString errorOutput;

    bool succeeded() const { return !crashed && exitStatus == 0; }
};

// Receives what a repairPermissions runner reports of its run. Both calls name the runner that makes
// them; a runner carries one run at a time and makes no call for a run after that run's end call, so
// the runner identifies the run. The runner may be destroyed from inside either call.
class RepairProgressDelegate {
public:
    // A piece of the tool's standard output, decoded; lent for the duration of the call. Never empty,
    // except once after the last piece, when the output has ended.
    virtual void repairPermissionsProgress(repairPermissions* runner, const QString& chunk) = 0;
    // The end call, exactly once per started run, after every piece of output, once the tool has exited.
    // The runner is Ready again when it is made.
    virtual void repairPermissionsFinished(repairPermissions* runner, const RepairOutcome& outcome) = 0;

protected:
    ~RepairProgressDelegate() = default;
};

} // namespace repair
