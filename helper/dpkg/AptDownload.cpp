#include "helper/dpkg/AptDownload.h"

#include "helper/ChildProcess.h"
#include "helper/dpkg/DebArchive.h"
#include "helper/dpkg/DpkgFiles.h"
#include "helper/dpkg/MetadataStore.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace helper::dpkg {

namespace {

// coreutils' env starts apt-get in its folder (apt-get download writes where it runs), and timeout
// kills apt-get and everything it started, in its own process group, when the budget runs out.
constexpr const char* kEnv = "/usr/bin/env";
constexpr const char* kTimeout = "/usr/bin/timeout";
constexpr int kTimedOut = 124, kKilled = 128 + SIGKILL; // timeout's statuses when it had to kill

// Empties and removes the folder `name` in `parent`, never following a link (apt leaves at most a
// partial/ folder in it).
void removeFolder(int parent, const std::string& name, int depth = 0) {
    const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    DIR* folder = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!folder) {
        if (fd >= 0)
            ::close(fd);
        ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
        return;
    }
    while (const dirent* entry = ::readdir(folder)) {
        const std::string child = entry->d_name;
        if (child == "." || child == "..")
            continue;
        if (::unlinkat(::dirfd(folder), child.c_str(), 0) != 0 && errno == EISDIR && depth < 4)
            removeFolder(::dirfd(folder), child, depth + 1);
    }
    ::closedir(folder);
    ::unlinkat(parent, name.c_str(), AT_REMOVEDIR);
}

} // namespace

AptDownloader::AptDownloader(Options options)
    : m_options(std::move(options)) {
    char pattern[] = "/tmp/varnel-apt-XXXXXX"; // made 0700
    if (::geteuid() == 0 && ::mkdtemp(pattern)) {
        m_folderFd.reset(::open(pattern, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (m_folderFd && ::fstat(m_folderFd.get(), &st) == 0 && st.st_uid == 0 && (st.st_mode & 077) == 0)
            m_folder = pattern;
        else
            ::rmdir(pattern);
    }
}

AptDownloader::~AptDownloader() {
    if (m_folder.empty())
        return;
    const size_t slash = m_folder.rfind('/');
    const UniqueFd parent(::open(m_folder.substr(0, slash).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (parent)
        removeFolder(parent.get(), m_folder.substr(slash + 1));
}

UniqueFd AptDownloader::fetch(const InstalledPackage& package, std::string& problem) {
    const std::string who = describePackage(package) + ": ";
    if (m_folder.empty()) {
        problem = who + "apt-get was not asked for its archive: no root-only temporary folder";
        return {};
    }
    std::chrono::steady_clock::duration left;
    {
        const std::lock_guard lock(m_deadlineMutex);
        const auto now = std::chrono::steady_clock::now();
        if (m_deadline == std::chrono::steady_clock::time_point())
            m_deadline = now + m_options.budget; // the budget starts with the first download
        left = m_deadline - now;
    }
    const long seconds = static_cast<long>(std::chrono::ceil<std::chrono::seconds>(left).count());
    const std::string budget = std::to_string(m_options.budget.count()) + " s";
    if (seconds <= 0) {
        problem = who + "not downloaded: the time for apt's downloads (" + budget + ") had run out";
        return {};
    }

    const std::string folder = std::to_string(m_serial.fetch_add(1));
    if (::mkdirat(m_folderFd.get(), folder.c_str(), 0700) != 0) {
        problem = who + "apt-get was not asked for its archive: its folder could not be made";
        return {};
    }
    struct Cleanup {
        int parent;
        const std::string& name;
        ~Cleanup() { removeFolder(parent, name); }
    } cleanup{m_folderFd.get(), folder};

    const std::string wanted = package.name + ":" + package.architecture + "=" + package.version;
    ChildProcess apt;
    if (!apt.start(kEnv,
                   {"-C", m_folder + "/" + folder, kTimeout, "-s", "KILL", std::to_string(seconds),
                    m_options.aptGet, "-q", "-o", "APT::Sandbox::User=root", "download", wanted},
                   {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C.UTF-8", "DEBIAN_FRONTEND=noninteractive"},
                   ChildProcess::Output::PipeQuiet)) { // its errors are reported in the tool's own words
        problem = who + "apt-get could not be started";
        return {};
    }
    char buffer[4096];
    for (ssize_t n; (n = ::read(apt.output(), buffer, sizeof buffer)) != 0;)
        if (n < 0 && errno != EINTR)
            break;
    const int status = apt.wait();
    if (status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) == kTimedOut ||
        WEXITSTATUS(status) == kKilled) {
        problem = who + "apt-get did not finish within the time for downloads (" + budget + ")";
        return {};
    }
    if (WEXITSTATUS(status) != 0) {
        problem = who + "apt-get could not download this version (" + describeWaitStatus(status) +
                  "): no network, or the mirror no longer has it";
        return {};
    }

    const UniqueFd downloads(
        ::openat(m_folderFd.get(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    const std::string name =
        MetadataStore::fileName(package.name, package.version, package.architecture) + ".deb";
    UniqueFd archive = downloads ? openRegularAt(downloads.get(), name) : UniqueFd();
    if (!archive) {
        problem = who + "apt-get left no archive named " + name;
        return {};
    }
    DebControl control;
    std::string error;
    if (!readDebControl(archive.get(), control, error)) {
        problem = who + "the archive apt-get fetched was not used: " + error;
        return {};
    }
    if (control.package != package.name || control.version != package.version ||
        control.architecture != package.architecture) {
        problem = who + "the archive apt-get fetched is " + control.package + ":" + control.architecture +
                  " " + control.version + ", not this version; not used";
        return {};
    }
    if (::lseek(archive.get(), 0, SEEK_SET) != 0) {
        problem = who + "the archive apt-get fetched could not be read again";
        return {};
    }
    return archive;
}

} // namespace helper::dpkg
