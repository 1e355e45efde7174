#include "helper/PermissionRepair.h"

#include "helper/AccountDatabase.h"
#include "helper/FileRepairer.h"
#include "helper/RpmDatabase.h"

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

// Whether users may hard-link only files they could write themselves (Linux's fs.protected_hardlinks).
bool hardLinksProtected() {
    const int fd = ::open("/proc/sys/fs/protected_hardlinks", O_RDONLY | O_CLOEXEC);
    char value = '0';
    if (fd >= 0) {
        if (::read(fd, &value, 1) != 1)
            value = '0';
        ::close(fd);
    }
    return value == '1';
}

} // namespace

PermissionRepair::PermissionRepair(std::string volume, std::string rpmPath, int outputFd)
    : m_volume(std::move(volume))
    , m_rpmPath(std::move(rpmPath))
    , m_outputFd(outputFd) {}

int PermissionRepair::run() {
    const UniqueFd root(::open(m_volume.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return fail(kFailed, "cannot open the volume " + m_volume + ": " + std::strerror(errno));
    const std::string noPermissions =
        "this system's packages record no permissions to repair (no rpm package database on " + m_volume +
        ")";

    RpmDatabase database(m_rpmPath, m_volume);
    switch (database.availability(root.get())) {
    case RpmDatabase::Availability::Present:
        break;
    case RpmDatabase::Availability::NoRpm:
    case RpmDatabase::Availability::NoDatabase:
        return fail(kNothingToRepair, noPermissions);
    case RpmDatabase::Availability::Failed:
        return fail(kFailed, "rpm could not tell where the package database of " + m_volume + " is");
    }
    // The listing starts beside the count: on a database of small packages starting rpm is most of the
    // work, and the listing only waits (its pipe full) until the count is in.
    if (!database.startListing())
        return fail(kFailed, std::string("cannot start rpm: ") + std::strerror(errno));
    const std::optional<long> packages = database.countPackages();
    if (!packages)
        return fail(kFailed, "rpm could not read the package database of " + m_volume);
    if (*packages == 0)
        return fail(kNothingToRepair, noPermissions);

    const AccountDatabase accounts = AccountDatabase::read(root.get());
    PlistReporter reporter(m_outputFd);
    FileRepairer repairer(root.get(), accounts, reporter, hardLinksProtected());
    if (!reporter.message("Started repairing permissions on " + PlistReporter::quoted(m_volume)))
        return fail(kFailed, "cannot write the progress");

    std::string package;
    PackagedFile file;
    long checked = -1; // the first package line starts the count
    double lastPercent = 0;
    for (;;) {
        const RpmDatabase::Item item = database.next(package, file);
        if (item == RpmDatabase::Item::Error)
            return fail(kFailed, "cannot read rpm's list of packaged files");
        if (item == RpmDatabase::Item::End)
            break;
        if (item == RpmDatabase::Item::File) {
            if (!repairer.check(file, package))
                return fail(kFailed, "cannot write the progress");
            continue;
        }
        // The packages counted before may have changed since; the progress stays below 100 until the end.
        const double percent = std::min(
            99.0, std::floor(100.0 * static_cast<double>(++checked) / static_cast<double>(*packages)));
        if (percent > lastPercent) {
            lastPercent = percent;
            if (!reporter.progress(percent))
                return fail(kFailed, "cannot write the progress");
        }
    }
    std::string failure;
    if (!database.finish(failure))
        return fail(kFailed, "rpm ended with " + failure + " while listing the packaged files");

    const std::string summary = repairer.differing() == 0
                                    ? "Found no file whose permissions differ."
                                    : "Repaired " + std::to_string(repairer.repaired()) + " of " +
                                          std::to_string(repairer.differing()) +
                                          " files whose permissions differed.";
    if (!reporter.message(summary) || !reporter.end())
        return fail(kFailed, "cannot write the progress");
    return 0;
}

} // namespace helper
