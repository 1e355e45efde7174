// varnel-repair: repairs the mode, owner and group of the files a Linux installation's packages own, as
// its rpm database records them or, on Debian and Ubuntu, as dpkg installed them; or checks them only.
//
//   varnel-repair repairPermissions -plist <volume>
//   varnel-repair verifyPermissions -plist <volume>   (the same run, nothing changed)
//   varnel-repair recordPermissions -plist <volume>   (root only; apt's hook runs it after every dpkg run)
//   varnel-repair check [--json] [<volume>]           (for people and scripts; <volume> defaults to "/")
//   varnel-repair repair [--json] [<volume>]
//   varnel-repair --help | --version
//
// <volume> is the top of the installation ("/" for the running system). The "-plist" verbs write XML
// property lists to standard output, the form the application reads; check and repair write a line per
// finding and per repair (or a JSON object per line), and on a terminal a progress line on standard error.
// See PermissionRepair, FileRepairer and Reporter; varnel-repair(8) documents it all.
//
// Exit status: 0 after a whole run (files that could not be repaired are reported, not failures); 1 for a
// command line it does not accept; 2 when the installation's packages record no permissions (no rpm or
// dpkg database, or no package in it); 3 when nothing was changed because the volume
// or the package listing could not be read (rpm failing, killed, silent too long, or writing a line that
// cannot be read: the whole listing is read before any change); 4 when the run stopped part-way after
// changing files (its output went away; standard error says how many were repaired); 5 when `check` found
// files that differ; pkexec's 126 and 127 when authentication was refused or impossible.
//
// Started without root, it first looks whether the installation has packages that record permissions
// (their databases are readable by all): when not, it ends with status 2 and asks for no password.
// Otherwise it runs itself again through pkexec, by the absolute path of its own executable, with the
// same verb and an empty environment; the polkit action names that path. Under pkexec it works on "/"
// only.
#include "helper/ChildProcess.h"
#include "helper/PermissionRepair.h"
#include "helper/PlistReporter.h"
#include "helper/Reporter.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#ifndef VARNEL_RPM_PATH
#define VARNEL_RPM_PATH "/usr/bin/rpm"
#endif
#ifndef VARNEL_VERSION
#define VARNEL_VERSION "unknown"
#endif
#ifndef VARNEL_PKEXEC_PATH
#define VARNEL_PKEXEC_PATH "/usr/bin/pkexec"
#endif
// The test build shortens rpm's time bound, reads the hard-link setting from a file of its own, and reads
// no dpkg database (its rpm is a stand-in; the machine's own packages are never its business).
#ifndef VARNEL_RPM_SILENCE_SECONDS
#define VARNEL_RPM_SILENCE_SECONDS 300
#endif
#ifndef VARNEL_READ_RPM_DIRECTLY
#define VARNEL_READ_RPM_DIRECTLY 1
#endif
#ifndef VARNEL_READ_DPKG
#define VARNEL_READ_DPKG 1
#endif
#ifndef VARNEL_PROTECTED_HARDLINKS_PATH
#define VARNEL_PROTECTED_HARDLINKS_PATH "/proc/sys/fs/protected_hardlinks"
#endif

namespace {

constexpr const char* kUsage =
    "usage: varnel-repair check|repair [--json] [<volume>], or "
    "varnel-repair repairPermissions|verifyPermissions|recordPermissions -plist <volume>; see --help";

constexpr const char* kHelp =
    R"(Usage: varnel-repair check [--json] [VOLUME]
       varnel-repair repair [--json] [VOLUME]
       varnel-repair repairPermissions|verifyPermissions -plist VOLUME
       varnel-repair recordPermissions -plist VOLUME
       varnel-repair --help | --version

Puts back the owner, group and mode of the files the installation's packages installed ("repair"), or
only says which differ and what a repair would change ("check"; nothing is changed). VOLUME is the top
of the installation: "/" (the default) for the running system, other folders for root only. Started
without root, it asks for an administrator's password through pkexec, and only when there is something
to check. "check" and "repair" write a line per difference and per repair and a summary, with --json
one JSON object per line; on a terminal a progress line shows on standard error. The -plist verbs
write XML property lists, the form the Varnel application reads.

It never changes content, never creates or deletes a file, never follows a link out of the installation or
below a folder others can write, and never gives set-ID bits or capabilities back to content someone other
than root could have written. What it leaves alone is reported with the reason.

On rpm-based systems the rpm database is the truth (honouring each file's verify flags).
On Debian and Ubuntu, in this order:
  - var/lib/dpkg/statoverride is restored exactly;
  - a receipt (recordPermissions, run by apt's hook right after dpkg configured a package) is restored
    exactly, except conffiles, where only damage is undone;
  - paths under /usr (and the merged /bin, /sbin, /lib*) that no maintainer script names get the values of
    the installed version's .deb back, both ways;
  - everywhere else (conffiles, /etc, /var, paths a script names) only damage is undone: bits the package
    does not grant are taken away from a file that only gained bits, world write it does not grant is
    taken away, a login account owning what the package gives a system account is replaced; nothing is
    widened and no set-ID bit removed there.
Packages that disagree about a path are reported, not followed. A package whose installed version's .deb
is neither in apt's cache nor recorded is reported as not compared.

Exit status: 0 done (check: no file differs); 1 command line refused; 2 nothing to repair; 3 nothing
changed, the volume or the database could not be read; 4 stopped part-way after changes; 5 check: files
differ; 126/127 authentication refused or impossible. See varnel-repair(8).
)";

int complain(int status, const std::string& why) {
    std::fprintf(stderr, "varnel-repair: %s\n", why.c_str());
    return status;
}

// Runs this very executable again as root through pkexec with `arguments` (the verb and its options, the
// volume "/"), its output going straight to ours.
int elevate(const std::vector<std::string>& arguments) {
    char self[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof self - 1)
        return complain(1, std::string("cannot find its own executable: ") + std::strerror(errno));
    const std::string path(self, static_cast<size_t>(length));
    if (path.ends_with(" (deleted)"))
        return complain(1, "its executable was replaced while it ran; start it again");

    std::vector<std::string> command = {path};
    command.insert(command.end(), arguments.begin(), arguments.end());
    helper::ChildProcess pkexec;
    if (!pkexec.start(VARNEL_PKEXEC_PATH, command, {}, helper::ChildProcess::Output::Inherit))
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
    return complain(1, "the run as root ended with " + helper::describeWaitStatus(status));
}

// What the command line asks for.
struct Command {
    enum class Verb { Repair, Check, Record } verb = Verb::Repair;
    enum class Form { Plist, Human, Json } form = Form::Plist;
    std::string volume = "/";

    // The arguments that ask for the same on "/", for pkexec.
    std::vector<std::string> onRunningSystem() const {
        if (form == Form::Plist)
            return {verb == Verb::Check ? "verifyPermissions" : "repairPermissions", "-plist", "/"};
        std::vector<std::string> out = {verb == Verb::Check ? "check" : "repair"};
        if (form == Form::Json)
            out.emplace_back("--json");
        out.emplace_back("/");
        return out;
    }
};

// The command line read; false when it is not one the tool accepts.
bool parse(int argc, char** argv, Command& command) {
    if (argc < 2)
        return false;
    const std::string_view verb = argv[1];
    if (verb == "repairPermissions" || verb == "verifyPermissions" || verb == "recordPermissions") {
        if (argc != 4 || std::string_view(argv[2]) != "-plist")
            return false;
        command.verb = verb == "repairPermissions"   ? Command::Verb::Repair
                       : verb == "verifyPermissions" ? Command::Verb::Check
                                                     : Command::Verb::Record;
        command.volume = argv[3];
        return true;
    }
    if (verb != "check" && verb != "repair")
        return false;
    command.verb = verb == "check" ? Command::Verb::Check : Command::Verb::Repair;
    command.form = Command::Form::Human;
    bool volumeGiven = false;
    for (int i = 2; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--json" && command.form != Command::Form::Json)
            command.form = Command::Form::Json;
        else if (!argument.starts_with('-') && !volumeGiven) {
            command.volume = argument;
            volumeGiven = true;
        } else
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Descriptors the caller left open are no business of a process that may run as root, nor of rpm.
    if (::close_range(3, ~0u, 0) != 0 && errno != ENOSYS && errno != EINVAL)
        return complain(1, std::string("cannot close inherited descriptors: ") + std::strerror(errno));
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "--version")) {
        std::fputs(std::string_view(argv[1]) == "--help" ? kHelp : "varnel-repair " VARNEL_VERSION "\n",
                   stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    Command command;
    if (!parse(argc, argv, command))
        return complain(1, kUsage);
    const std::string& volume = command.volume;
    const bool record = command.verb == Command::Verb::Record;
    if (volume.empty() || volume.front() != '/')
        return complain(1, "the volume must be an absolute path, not \"" + volume + "\"");
    if (::getuid() != ::geteuid() || ::getgid() != ::getegid())
        return complain(1, "refuses to run set-user-ID or set-group-ID; it elevates itself through pkexec");

    // pkexec names the user who asked; such a caller may check or repair the running system and nothing
    // else.
    const bool underPkexec = std::getenv("PKEXEC_UID") != nullptr;
    if (underPkexec && volume != "/")
        return complain(1, "started through pkexec, it works only on the running system (\"/\"), not \"" +
                               volume + "\"");
    // Recording is apt's hook's business, as root; nobody is asked for a password for it.
    if (record && (underPkexec || ::geteuid() != 0))
        return complain(1, "only root records permissions (apt's hook does after every dpkg run)");
    // A reader that goes away makes the next write fail (and the run end with a status that says so)
    // rather than kill it unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    // The read lease FileRepairer takes for a moment is broken by SIGIO, whose default would end the run.
    std::signal(SIGIO, SIG_IGN);
    const helper::PermissionRepair::Settings settings{VARNEL_RPM_PATH, VARNEL_RPM_SILENCE_SECONDS,
                                                      VARNEL_PROTECTED_HARDLINKS_PATH, VARNEL_READ_DPKG != 0,
                                                      VARNEL_READ_RPM_DIRECTLY != 0};
    if (::geteuid() != 0) {
        if (volume != "/")
            return complain(1, "only root may check or repair another installation than the running system");
        if (underPkexec)
            return complain(1, "pkexec did not make it root");
        // No password for a run that cannot do anything; whatever else goes wrong, root tells.
        std::string why;
        if (helper::PermissionRepair::look(volume, settings, why) ==
            helper::PermissionRepair::kNothingToRepair)
            return complain(helper::PermissionRepair::kNothingToRepair, why);
        return elevate(command.onRunningSystem());
    }

    const bool check = command.verb == Command::Verb::Check;
    const std::string label = (check ? "Checking " : "Repairing ") + volume;
    std::unique_ptr<helper::Reporter> reporter;
    switch (command.form) {
    case Command::Form::Plist:
        reporter = std::make_unique<helper::PlistReporter>(STDOUT_FILENO);
        break;
    case Command::Form::Human:
        reporter = std::make_unique<helper::HumanReporter>(STDOUT_FILENO, STDERR_FILENO, label);
        break;
    case Command::Form::Json:
        reporter = std::make_unique<helper::JsonReporter>(STDOUT_FILENO, STDERR_FILENO, label);
        break;
    }
    helper::PermissionRepair repair(volume, settings, *reporter);
    if (record)
        return repair.record();
    // verifyPermissions keeps repairPermissions' statuses, which the application reads; check says
    // whether files differ, as diff(1) does.
    if (check)
        repair.setCheckOnly(command.form == Command::Form::Plist ? 0 : helper::PermissionRepair::kDiffers);
    return repair.run();
}
