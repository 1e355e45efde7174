#pragma once

#include "helper/PackagedFile.h"

#include <functional>
#include <string>
#include <vector>

namespace helper {

class AccountDatabase;
class PlistReporter;

// One whole repair of an installation: chooses the package database it holds, reads what every package
// says its files should be, and has FileRepairer check and repair them, reporting on `outputFd` as the
// application reads it (a start message, "PercentComplete" rising while the listing is read and then
// while the paths are checked, a message per difference and per repair, a summary, and the end).
class PermissionRepair {
public:
    // Exit statuses besides 0.
    static constexpr int kNothingToRepair = 2; // no rpm, no database, or no package in it
    static constexpr int kFailed = 3;  // nothing was changed: the volume or the listing could not be read
    static constexpr int kPartial = 4; // stopped after changing some files (the output went away)

    struct Settings {
        std::string rpmPath = "/usr/bin/rpm";
        int rpmSilenceSeconds = 300; // rpm silent this long is stopped and the run fails
        std::string protectedHardLinksPath = "/proc/sys/fs/protected_hardlinks";
    };

    PermissionRepair(std::string volume, Settings settings, int outputFd);

    // Whether there is anything to repair, changing nothing and needing no root (package databases are
    // readable by all): 0 when the volume has packages that record permissions, kNothingToRepair or
    // kFailed otherwise, with `why` saying so.
    static int look(const std::string& volume, const Settings& settings, std::string& why);

    // Runs the repair; the exit status. Failures get one line on standard error.
    int run();

private:
    // The part every package database shares: FileRepairer's check of `files` (progress 50 to 99), the
    // summary and the end; the exit status.
    int checkFiles(int rootFd, const AccountDatabase& accounts, PlistReporter& reporter,
                   std::vector<PackagedFile> files, const std::function<bool(double)>& progress);

    std::string m_volume;
    Settings m_settings;
    int m_outputFd;
};

} // namespace helper
