#include "helper/PermissionRepair.h"

#include "helper/AccountDatabase.h"
#include "helper/FileRepairer.h"
#include "helper/RpmDatabase.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace helper {

namespace {

int fail(int status, const std::string& why) {
    std::fprintf(stderr, "varnel-repair: %s\n", why.c_str());
    return status;
}

// Whether users may hard-link only files they could write themselves (Linux's fs.protected_hardlinks);
// off when it cannot be told.
bool hardLinksProtected(const std::string& setting) {
    const int fd = ::open(setting.c_str(), O_RDONLY | O_CLOEXEC);
    char value = '0';
    if (fd >= 0) {
        if (::read(fd, &value, 1) != 1)
            value = '0';
        ::close(fd);
    }
    return value == '1';
}

std::string noPermissions(const std::string& volume) {
    return "this system's packages record no permissions to repair (no rpm package database on " + volume +
           ")";
}

// The rpm database opened and its packages counted, or the status and reason why not.
struct Opened {
    int status = 0;
    std::string why;
    long packages = 0;
};

Opened openDatabase(RpmDatabase& database, int rootFd, const std::string& volume, bool list) {
    switch (database.availability(rootFd)) {
    case RpmDatabase::Availability::Present:
        break;
    case RpmDatabase::Availability::NoRpm:
    case RpmDatabase::Availability::NoDatabase:
        return {PermissionRepair::kNothingToRepair, noPermissions(volume)};
    case RpmDatabase::Availability::Failed:
        return {PermissionRepair::kFailed,
                "cannot find the rpm package database of " + volume + ": " + database.failure()};
    }
    // The listing starts beside the count: on a database of small packages starting rpm is most of the
    // work, and the listing only waits (its pipe full) until the count is in.
    if (list && !database.startListing())
        return {PermissionRepair::kFailed, database.failure()};
    const std::optional<long> packages = database.countPackages();
    if (!packages)
        return {PermissionRepair::kFailed,
                "cannot read the rpm package database of " + volume + ": " + database.failure()};
    if (*packages == 0)
        return {PermissionRepair::kNothingToRepair, noPermissions(volume)};
    return {0, {}, *packages};
}

} // namespace

PermissionRepair::PermissionRepair(std::string volume, Settings settings, int outputFd)
    : m_volume(std::move(volume))
    , m_settings(std::move(settings))
    , m_outputFd(outputFd) {}

int PermissionRepair::look(const std::string& volume, const Settings& settings, std::string& why) {
    const UniqueFd root(::open(volume.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root) {
        why = "cannot open the volume " + volume + ": " + std::strerror(errno);
        return kFailed;
    }
    RpmDatabase database(settings.rpmPath, volume, settings.rpmSilenceSeconds);
    Opened opened = openDatabase(database, root.get(), volume, false);
    why = std::move(opened.why);
    return opened.status;
}

int PermissionRepair::run() {
    const UniqueFd root(::open(m_volume.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return fail(kFailed, "cannot open the volume " + m_volume + ": " + std::strerror(errno));
    RpmDatabase database(m_settings.rpmPath, m_volume, m_settings.rpmSilenceSeconds);
    const Opened opened = openDatabase(database, root.get(), m_volume, true);
    if (opened.status != 0)
        return fail(opened.status, opened.why);

    const AccountDatabase accounts = AccountDatabase::read(root.get());
    PlistReporter reporter(m_outputFd);
    if (!reporter.message("Started repairing permissions on " + PlistReporter::quoted(m_volume)))
        return fail(kFailed, "cannot write the progress; nothing was changed");

    // The progress stays below 100 until the end: the first half while the listing is read (the
    // packages counted before may have changed since), the second while the paths are checked.
    double lastPercent = 0;
    const auto progress = [&](double percent) {
        percent = std::min(99.0, std::floor(percent));
        if (percent <= lastPercent)
            return true;
        lastPercent = percent;
        return reporter.progress(percent);
    };

    // The source: rpm's listing, whole before anything is checked (a path several packages list is
    // checked once, with all they say about it), and nothing is changed before rpm has ended well.
    // Another package database would be read here into the same list.
    std::vector<PackagedFile> files;
    PackagedFile file;
    long packages = 0;
    for (;;) {
        const RpmListing::Item item = database.listing().next(file);
        if (item == RpmListing::Item::Error)
            return fail(kFailed, database.listing().failure() + "; nothing was changed");
        if (item == RpmListing::Item::End)
            break;
        if (item == RpmListing::Item::File)
            files.push_back(file);
        else if (!progress(50.0 * static_cast<double>(packages++) / static_cast<double>(opened.packages)))
            return fail(kFailed, "cannot write the progress; nothing was changed");
    }
    if (!database.finish())
        return fail(kFailed, database.failure() + "; nothing was changed");

    return checkFiles(root.get(), accounts, reporter, std::move(files), progress);
}

int PermissionRepair::checkFiles(int rootFd, const AccountDatabase& accounts, PlistReporter& reporter,
                                 std::vector<PackagedFile> files,
                                 const std::function<bool(double)>& progress) {
    FileRepairer repairer(rootFd, accounts, reporter, hardLinksProtected(m_settings.protectedHardLinksPath));
    const auto stopped = [&] {
        if (repairer.repaired() == 0)
            return fail(kFailed, "cannot write the progress; nothing was changed");
        return fail(kPartial, "cannot write the progress; stopped after repairing " +
                                  std::to_string(repairer.repaired()) + " files");
    };
    if (!repairer.repairAll(std::move(files), [&](double done) { return progress(50.0 + 50.0 * done); }))
        return stopped();

    const std::string summary = repairer.differing() == 0
                                    ? "Found no file whose permissions differ."
                                    : "Repaired " + std::to_string(repairer.repaired()) + " of " +
                                          std::to_string(repairer.differing()) +
                                          " files whose permissions differed.";
    if (!reporter.message(summary) || !reporter.end())
        return stopped();
    return 0;
}

} // namespace helper
