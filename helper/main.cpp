// varnel-repair: repairs the mode, owner and group of the files an rpm-based Linux installation's
// packages own, as the rpm database records them.
//
//   varnel-repair repairPermissions -plist <volume>
//
// <volume> is the top of the installation ("/" for the running system). The progress goes to standard
// output as XML property lists, the form the application reads; see PermissionRepair and FileRepairer.
//
// Exit status: 0 after a whole run (files that could not be repaired are reported, not failures); 1 for a
// command line it does not accept; 2 when the installation's packages record no permissions (no rpm, no
// database, or no package in it, as on Debian or Ubuntu); 3 when nothing was changed because the volume
// or the package listing could not be read (rpm failing, killed, silent too long, or writing a line that
// cannot be read: the whole listing is read before any change); 4 when the run stopped part-way after
// changing files (its output went away; standard error says how many were repaired); pkexec's 126 and
// 127 when authentication was refused or impossible.
//
// Started without root, it first looks whether the installation has packages that record permissions
// (their databases are readable by all): when not, it ends with status 2 and asks for no password.
// Otherwise it runs itself again through pkexec, by the absolute path of its own executable and with an
// empty environment; the polkit action names that path. Under pkexec it repairs "/" only.
#include "helper/ChildProcess.h"
#include "helper/PermissionRepair.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>

#ifndef VARNEL_RPM_PATH
#define VARNEL_RPM_PATH "/usr/bin/rpm"
#endif
#ifndef VARNEL_PKEXEC_PATH
#define VARNEL_PKEXEC_PATH "/usr/bin/pkexec"
#endif
// The test build shortens rpm's time bound and reads the hard-link setting from a file of its own.
#ifndef VARNEL_RPM_SILENCE_SECONDS
#define VARNEL_RPM_SILENCE_SECONDS 300
#endif
#ifndef VARNEL_PROTECTED_HARDLINKS_PATH
#define VARNEL_PROTECTED_HARDLINKS_PATH "/proc/sys/fs/protected_hardlinks"
#endif

namespace {

int complain(int status, const std::string& why) {
    std::fprintf(stderr, "varnel-repair: %s\n", why.c_str());
    return status;
}

// Runs this very executable again as root through pkexec, its output going straight to ours.
int elevate() {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof self - 1)
        return complain(1, std::string("cannot find its own executable: ") + std::strerror(errno));
    const std::string path(self, static_cast<size_t>(length));
    if (path.ends_with(" (deleted)"))
        return complain(1, "its executable was replaced while it ran; start it again");

    helper::ChildProcess pkexec;
    if (!pkexec.start(VARNEL_PKEXEC_PATH, {path, "repairPermissions", "-plist", "/"}, {},
                      helper::ChildProcess::Output::Inherit))
        return complain(127, std::string("needs root, and cannot start ") + VARNEL_PKEXEC_PATH +
                                 " to ask for it: " + std::strerror(errno));
    const int status = pkexec.wait();
    if (status >= 0 && WIFEXITED(status)) {
        // pkexec's own statuses; the tool itself never uses them.
        if (WEXITSTATUS(status) == 126)
            return complain(126, "authentication was cancelled or refused; nothing was changed");
        if (WEXITSTATUS(status) == 127)
            return complain(127, "could not authenticate as an administrator (no polkit authentication "
                                 "agent, or authentication failed); nothing was changed");
        return WEXITSTATUS(status);
    }
    return complain(1, "the repair run as root ended with " + helper::describeWaitStatus(status));
}

} // namespace

int main(int argc, char** argv) {
    // Descriptors the caller left open are no business of a process that may run as root, nor of rpm.
    if (::close_range(3, ~0u, 0) != 0 && errno != ENOSYS && errno != EINVAL)
        return complain(1, std::string("cannot close inherited descriptors: ") + std::strerror(errno));
    if (argc != 4 || std::string_view(argv[1]) != "repairPermissions" ||
        std::string_view(argv[2]) != "-plist")
        return complain(1, "usage: varnel-repair repairPermissions -plist <volume>");
    const std::string volume = argv[3];
    if (volume.empty() || volume.front() != '/')
        return complain(1, "the volume must be an absolute path, not \"" + volume + "\"");
    if (::getuid() != ::geteuid() || ::getgid() != ::getegid())
        return complain(1, "refuses to run set-user-ID or set-group-ID; it elevates itself through pkexec");

    // pkexec names the user who asked; such a caller may repair the running system and nothing else.
    const bool underPkexec = std::getenv("PKEXEC_UID") != nullptr;
    if (underPkexec && volume != "/")
        return complain(1, "started through pkexec, it repairs only the running system (\"/\"), not \"" +
                               volume + "\"");
    // A reader that goes away makes the next write fail (and the run end with a status that says so)
    // rather than kill it unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    // The read lease FileRepairer takes for a moment is broken by SIGIO, whose default would end the run.
    std::signal(SIGIO, SIG_IGN);
    const helper::PermissionRepair::Settings settings{VARNEL_RPM_PATH, VARNEL_RPM_SILENCE_SECONDS,
                                                      VARNEL_PROTECTED_HARDLINKS_PATH};
    if (::geteuid() != 0) {
        if (volume != "/")
            return complain(1, "only root may repair another installation than the running system");
        if (underPkexec)
            return complain(1, "pkexec did not make it root");
        // No password for a run that cannot do anything; whatever else goes wrong, root tells.
        std::string why;
        if (helper::PermissionRepair::look(volume, settings, why) ==
            helper::PermissionRepair::kNothingToRepair)
            return complain(helper::PermissionRepair::kNothingToRepair, why);
        return elevate();
    }
    return helper::PermissionRepair(volume, settings, STDOUT_FILENO).run();
}
