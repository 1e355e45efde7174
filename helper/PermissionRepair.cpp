#include "helper/PermissionRepair.h"

#include "helper/AccountDatabase.h"
#include "helper/FileRepairer.h"
#include "helper/PathResolver.h"
#include "helper/PlistReporter.h"
#include "helper/Reporter.h"
#include "helper/RpmDatabase.h"
#include "helper/dpkg/AptDownload.h"
#include "helper/dpkg/DpkgDatabase.h"

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
    return "this system's packages record no permissions to repair (no rpm or dpkg package database on " +
           volume + ")";
}

// The rpm database found (and, for a look, its packages counted), or the status and reason why not.
struct Opened {
    int status = 0;
    std::string why;
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
    // The listing counts its packages itself; only a look without one asks rpm for their number.
    if (list)
        return {};
    const std::optional<long> packages = database.countPackages();
    if (!packages)
        return {PermissionRepair::kFailed,
                "cannot read the rpm package database of " + volume + ": " + database.failure()};
    if (*packages == 0)
        return {PermissionRepair::kNothingToRepair, noPermissions(volume)};
    return {};
}

} // namespace

PermissionRepair::PermissionRepair(std::string volume, Settings settings, Reporter& reporter)
    : m_volume(std::move(volume))
    , m_settings(std::move(settings))
    , m_reporter(reporter) {}

bool PermissionRepair::advance(double percent) {
    // Whole percents, rising only, and below 100 until the end.
    percent = std::min(99.0, std::floor(percent));
    if (percent <= m_lastPercent)
        return true;
    m_lastPercent = percent;
    return m_reporter.progress(percent);
}

bool PermissionRepair::started() {
    return m_reporter.message(std::string(m_checkOnly ? "Started verifying" : "Started repairing") +
                              " permissions on " + PlistReporter::quoted(m_volume));
}

int PermissionRepair::look(const std::string& volume, const Settings& settings, std::string& why) {
    const UniqueFd root(::open(volume.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root) {
        why = "cannot open the volume " + volume + ": " + std::strerror(errno);
        return kFailed;
    }
    if (settings.readDpkg && dpkg::hasInstalledPackages(root.get()))
        return 0;
    RpmDatabase database(settings.rpmPath, volume, settings.rpmSilenceSeconds);
    Opened opened = openDatabase(database, root.get(), volume, false);
    why = std::move(opened.why);
    return opened.status;
}

int PermissionRepair::run() {
    const UniqueFd root(::open(m_volume.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return fail(kFailed, "cannot open the volume " + m_volume + ": " + std::strerror(errno));
    // dpkg's database where it lists packages (Debian, Ubuntu), else rpm's.
    if (m_settings.readDpkg && dpkg::hasInstalledPackages(root.get()))
        return runDpkg(root.get());
    RpmDatabase database(m_settings.rpmPath, m_volume, m_settings.rpmSilenceSeconds);
    const Opened opened = openDatabase(database, root.get(), m_volume, true);
    if (opened.status != 0)
        return fail(opened.status, opened.why);

    const AccountDatabase accounts = AccountDatabase::read(root.get());

    // The progress stays below 100 until the end: the first half while the listing is read, by how much
    // of the database rpm has read (else by packages, against a guess that grows with them), the second
    // while the paths are checked.
    const auto progress = [this](double percent) { return advance(percent); };

    // The source: the database read here where it can be, else rpm's listing; whole before anything is
    // checked (a path several packages list is checked once, with all they say about it), and nothing is
    // changed before it has been read to its end. The start is told with the first package: a database
    // without any has nothing to repair.
    std::vector<PackagedFile> files;
    files.reserve(database.expectedFiles()); // pages are only touched as entries arrive
    long packages = 0;
    bool begun = false;
    const auto packageBegins = [&](std::optional<double> share) {
        ++packages;
        if (!begun && !(begun = started()))
            return false;
        if (packages % 16 != 1)
            return true;
        return progress(50.0 *
                        share.value_or(static_cast<double>(packages) / static_cast<double>(packages + 500)));
    };
    const char* const unwritable = "cannot write the progress; nothing was changed";
    const RpmDatabase::Direct direct = m_settings.readRpmDirectly
                                           ? database.readDirectly(files, packageBegins)
                                           : RpmDatabase::Direct::GaveWay;
    switch (direct) {
    case RpmDatabase::Direct::Stopped:
        return fail(kFailed, unwritable);
    case RpmDatabase::Direct::Damaged:
        return fail(kFailed,
                    "the rpm package database of " + m_volume + " is damaged: " + database.directFailure() +
                        "; nothing was changed (rpm --rebuilddb may mend it, dropping what it cannot read)");
    case RpmDatabase::Direct::GaveWay:
        packages = 0; // rpm lists them all again
        if (!database.startListing())
            return fail(kFailed, database.failure());
        for (PackagedFile file;;) {
            const RpmListing::Item item = database.listing().next(file);
            if (item == RpmListing::Item::Error)
                return fail(kFailed, database.listing().failure() + "; nothing was changed");
            if (item == RpmListing::Item::End)
                break;
            if (item == RpmListing::Item::File) {
                files.push_back(std::move(file));
                file.package = files.back().package; // the package line's name holds for the files after it
            } else if (!packageBegins(database.listingShare())) {
                return fail(kFailed, unwritable);
            }
        }
        if (!database.finish())
            return fail(kFailed, database.failure() + "; nothing was changed");
        break;
    case RpmDatabase::Direct::Read:
        break;
    }
    if (packages == 0)
        return fail(kNothingToRepair, noPermissions(m_volume));

    return checkFiles(root.get(), accounts, std::move(files), progress);
}

int PermissionRepair::runDpkg(int rootFd) {
    const AccountDatabase accounts = AccountDatabase::read(rootFd);
    if (!started())
        return fail(kFailed, "cannot write the progress; nothing was changed");
    const auto progress = [this](double percent) { return advance(percent); };

    // The first half while the database and the packages' archives are read, with a message per stage;
    // nothing is changed before all of it is in.
    bool written = true;
    std::string stage;
    const auto reading = [&](int percent, std::string_view now) {
        if (now != stage) {
            stage = now;
            written = m_reporter.message(stage + ".") && written;
        }
        written = progress(percent / 2.0) && written;
    };
    // For the running system apt fetches what its cache lacks, exactly the installed version, in a time
    // bound; a volume of another system is read from its own cache alone.
    dpkg::DpkgOptions options = m_dpkgOptions;
    std::optional<dpkg::AptDownloader> apt;
    if (m_volume == "/" && !options.fetchArchive) {
        apt.emplace();
        options.fetchArchive = [&apt](const dpkg::InstalledPackage& package, std::string& problem) {
            return apt->fetch(package, problem);
        };
    }
    std::string failure;
    options.writeCache = options.writeCache && !m_checkOnly; // a check leaves the volume as it found it
    std::optional<dpkg::DpkgListing> listing = dpkg::readDpkgDatabase(rootFd, options, reading, &failure);
    if (!listing)
        return fail(kFailed, "cannot read the dpkg database of " + m_volume + ": " + failure +
                                 "; nothing was changed");
    for (const std::string& problem : listing->problems)
        written = m_reporter.message(problem) && written;
    // A package whose installed version's values could not be had is named, never guessed at.
    for (const std::string& package : listing->notCompared)
        written = m_reporter.message("Could not compare the package " + PlistReporter::quoted(package) +
                                     ": no archive or record of its installed version could be had.") &&
                  written;
    if (!listing->notCompared.empty())
        written = m_reporter.message(std::to_string(listing->notCompared.size()) + " of " +
                                     std::to_string(listing->packages) +
                                     " packages could not be compared; their files were left alone.") &&
                  written;
    if (!written)
        return fail(kFailed, "cannot write the progress; nothing was changed");
    return checkFiles(rootFd, accounts, std::move(listing->files), progress);
}

int PermissionRepair::record() {
    const UniqueFd root(::open(m_volume.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!root)
        return fail(kFailed, "cannot open the volume " + m_volume + ": " + std::strerror(errno));
    if (!dpkg::hasDpkgDatabase(root.get()))
        return fail(kNothingToRepair, "there is no dpkg database on " + m_volume + " to record from");
    std::vector<std::string> recorded;
    std::string failure;
    if (!dpkg::recordPermissions(root.get(), recorded, failure))
        return fail(kFailed, "cannot record permissions on " + m_volume + ": " + failure);
    std::string text = "Recorded the permissions of " + std::to_string(recorded.size()) +
                       (recorded.size() == 1 ? " package" : " packages");
    for (size_t i = 0; i < recorded.size(); ++i)
        text += (i == 0 ? ": " : ", ") + recorded[i];
    if (!m_reporter.message(text + ".") || !m_reporter.end())
        return fail(kFailed, "cannot write the progress");
    return 0;
}

int PermissionRepair::checkFiles(int rootFd, const AccountDatabase& accounts, std::vector<PackagedFile> files,
                                 const std::function<bool(double)>& progress) {
    FileRepairer repairer(rootFd, accounts, m_reporter,
                          hardLinksProtected(m_settings.protectedHardLinksPath));
    repairer.setCheckOnly(m_checkOnly);
    const auto stopped = [&] {
        if (repairer.repaired() == 0)
            return fail(kFailed, "cannot write the progress; nothing was changed");
        return fail(kPartial, "cannot write the progress; stopped after repairing " +
                                  std::to_string(repairer.repaired()) + " files");
    };
    if (!repairer.repairAll(std::move(files), [&](double done) { return progress(50.0 + 50.0 * done); }))
        return stopped();

    const int differing = repairer.differing();
    const auto filesText = [](int n) { return std::to_string(n) + (n == 1 ? " file" : " files"); };
    std::string text;
    if (differing == 0)
        text = "Found no file whose permissions differ.";
    else if (m_checkOnly)
        text = filesText(differing) + (differing == 1 ? " differs" : " differ") + "; a repair would change " +
               std::to_string(repairer.toRepair()) + " of them. Nothing was changed.";
    else
        text = "Repaired " + std::to_string(repairer.repaired()) + " of " + filesText(differing) +
               " whose permissions differed.";
    const int status = m_checkOnly && differing > 0 ? m_statusWhenDiffering : 0;
    if (!m_reporter.summary(
            {m_checkOnly, m_volume, text, differing, repairer.toRepair(), repairer.repaired(), status}) ||
        !m_reporter.end())
        return stopped();
    return status;
}

} // namespace helper
