#pragma once

#include "helper/PackagedFile.h"
#include "helper/dpkg/DpkgDatabase.h"

#include <functional>
#include <string>
#include <vector>

namespace helper {

class AccountDatabase;
class Reporter;

// One whole repair of an installation: chooses the package database it holds, reads what every package
// says its files should be, and has FileRepairer check and repair them, reporting to a Reporter (the
// property lists the application reads, lines for a person or JSON lines): a start message, progress
// rising while the listing is read and then while the paths are checked, a line per difference and per
// repair, a summary, and the end. A check (setCheckOnly) is the same run with nothing changed.
class PermissionRepair {
public:
    // Exit statuses besides 0.
    static constexpr int kNothingToRepair = 2; // no rpm or dpkg database, or no package in it
    static constexpr int kFailed = 3;  // nothing was changed: the volume or the listing could not be read
    static constexpr int kPartial = 4; // stopped after changing some files (the output went away)
    static constexpr int kDiffers = 5; // `varnel-repair check`: files differ (as diff(1) says so)

    struct Settings {
        std::string rpmPath = "/usr/bin/rpm";
        int rpmSilenceSeconds = 300; // rpm silent this long is stopped and the run fails
        std::string protectedHardLinksPath = "/proc/sys/fs/protected_hardlinks";
        // Whether a dpkg database is read at all. The tests' variant reads rpm's alone (the stand-in rpm they
        // give it), so that nothing it is asked about "/" can involve the test machine's own packages.
        bool readDpkg = true;
        // Whether rpm's sqlite database is read in this process, where it can be, rather than through rpm.
        // The tests' variant lists through rpm alone, so that its stand-in rpm decides what is listed.
        bool readRpmDirectly = true;
    };

    PermissionRepair(std::string volume, Settings settings, Reporter& reporter);

    // Makes run() a check: the same reading, checking and messages, nothing changed (nor this tool's own
    // cache of what dpkg archives hold written), and the summary says how many files differ. A whole check
    // ends with `statusWhenDiffering` when some do, else 0.
    void setCheckOnly(int statusWhenDiffering) {
        m_checkOnly = true;
        m_statusWhenDiffering = statusWhenDiffering;
    }

    // Whether there is anything to repair, changing nothing and needing no root (package databases are
    // readable by all): 0 when the volume has packages that record permissions, kNothingToRepair or
    // kFailed otherwise, with `why` saying so.
    static int look(const std::string& volume, const Settings& settings, std::string& why);

    // How dpkg's archives are had (where apt's cache lacks one, for example); the defaults otherwise.
    void setDpkgOptions(dpkg::DpkgOptions options) { m_dpkgOptions = std::move(options); }

    // Runs the repair; the exit status. Failures get one line on standard error.
    int run();

    // Records what dpkg configured since the last recording (see dpkg::recordPermissions), reporting how
    // many packages it recorded; the exit status.
    int record();

private:
    int runDpkg(int rootFd);
    // The part every package database shares: FileRepairer's check of `files` (progress 50 to 99), the
    // summary and the end; the exit status.
    int checkFiles(int rootFd, const AccountDatabase& accounts, std::vector<PackagedFile> files,
                   const std::function<bool(double)>& progress);
    bool started();
    // Reports the progress when it has risen by a whole percent; false when it could not be written.
    bool advance(double percent);

    std::string m_volume;
    Settings m_settings;
    Reporter& m_reporter;
    dpkg::DpkgOptions m_dpkgOptions;
    bool m_checkOnly = false;
    double m_lastPercent = 0;
    int m_statusWhenDiffering = 0;
};

} // namespace helper
