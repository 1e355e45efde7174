// diskutil-sim: a stand-in for the permission-repair tool.
//
//   diskutil-sim repairPermissions -plist <volume>
//   diskutil-sim verifyPermissions -plist <volume>
//
// prints the progress of a pretend repair of <volume> as a sequence of XML property lists, each one
// dictionary written with a single write(2) the moment it is ready: "PercentComplete" rising as a real
// number, now and then a "Message" about a permission it repaired, and finally "End" true. Then it exits 0.
// verifyPermissions is the same run as a check: "Would repair" where a repair says "Repaired", and a
// summary of how many files differ before the end.
// Anything else on the command line gets a one-line complaint on standard error and exit status 1.
//
// Its behaviour comes from its environment:
//   VARNEL_SIM_DURATION_MS  length of a run in milliseconds (default 3000); in close-early, how long it
//                           lingers after closing its output
//   VARNEL_SIM_COUNT        number of progress lists in flood mode (default 100000)
//   VARNEL_SIM_MESSAGES     in flood mode, 1 gives every list a message as well
//   VARNEL_SIM_MODE         normal (default)
//                           fail         part of the progress, a message on standard error, exit 2
//                           crash        part of the progress, then killed by SIGKILL
//                           hang         part of the progress, then silence; never exits on its own
//                           close-early  part of the progress, closes its output, lingers, exits 0
//                           split        every list in three writes with pauses between them; a message
//                                        is cut inside a multi-byte UTF-8 character
//                           merged       three lists per write
//                           garbage      a normal run with bytes that are neither UTF-8 nor a property
//                                        list written between the lists
//                           old-style    the lists in the old-style text form
//                           flood        VARNEL_SIM_COUNT lists as fast as it can, then the end
//                           clean        a normal run that finds nothing to repair
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// One property list of the run. A message report carries only its message.
struct Report {
    double percent = -1; // below 0: no "PercentComplete" entry
    std::string message;
    bool end = false;
};

std::string formatReal(double value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

std::string escaped(std::string_view text, bool xml) {
    std::string out;
    for (const char c : text) {
        if (xml && c == '&')
            out += "&amp;";
        else if (xml && c == '<')
            out += "&lt;";
        else if (xml && c == '>')
            out += "&gt;";
        else if (!xml && (c == '"' || c == '\\'))
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out;
}

std::string xmlList(const Report& r) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                    "<plist version=\"1.0\">\n<dict>\n";
    if (r.end)
        s += "\t<key>End</key>\n\t<true/>\n";
    if (!r.message.empty())
        s += "\t<key>Message</key>\n\t<string>" + escaped(r.message, true) + "</string>\n";
    if (r.percent >= 0)
        s += "\t<key>PercentComplete</key>\n\t<real>" + formatReal(r.percent) + "</real>\n";
    return s + "</dict>\n</plist>\n";
}

std::string oldStyleList(const Report& r) {
    std::string s = "{\n";
    if (r.end)
        s += "    End = YES;\n";
    if (!r.message.empty())
        s += "    Message = \"" + escaped(r.message, false) + "\";\n";
    if (r.percent >= 0)
        s += "    PercentComplete = " + formatReal(r.percent) + ";\n";
    return s + "}\n";
}

// The reports of a whole run on the volume: progress in sixteenths, a few repairs (none when clean), the
// end; a check says what it would repair and sums up.
std::vector<Report> runReports(const std::string& volume, bool check, bool clean) {
    static const char* const kRepairs[][3] = {
        {"usr/local/share/man/man1/example.1", "-rw-r--r--", "-rw-rw-r--"},
        {"Library/Preferences/Shared Settings.plist", "-rw-r--r--", "-rw-------"},
        {"usr/local/libexec/helper", "-rwxr-xr-x", "-rwxrwxrwx"},
    };
    std::vector<Report> reports;
    reports.push_back(
        {-1, (check ? "Started checking permissions on " : "Started repairing permissions on ") + volume,
         false});
    int differing = 0;
    for (int step = 1; step < 16; ++step) {
        reports.push_back({step * 6.25, {}, false});
        if (step % 5 == 2 && !clean) {
            ++differing;
            const auto& repair = kRepairs[step / 5];
            reports.push_back({-1,
                               std::string("Permissions differ on \u201c") + repair[0] +
                                   "\u201d; should be " + repair[1] + " , they are " + repair[2] + " .",
                               false});
            reports.push_back(
                {-1, std::string(check ? "Would repair \u201c" : "Repaired \u201c") + repair[0] + "\u201d.",
                 false});
        }
    }
    if (check)
        reports.push_back({-1,
                           differing == 0
                               ? std::string("Found no file whose permissions differ.")
                               : std::to_string(differing) + " files differ; a repair would change " +
                                     std::to_string(differing) + " of them. Nothing was changed.",
                           false});
    reports.push_back({100, {}, true});
    return reports;
}

void writeAll(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            std::exit(3);
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void sleepMs(long ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

[[noreturn]] void usage(const char* what) {
    std::fprintf(
        stderr, "diskutil-sim: %s; usage: diskutil-sim repairPermissions|verifyPermissions -plist <volume>\n",
        what);
    std::exit(1);
}

long environmentNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text)
        return fallback;
    char* rest = nullptr;
    const long value = std::strtol(text, &rest, 10);
    if (*rest || value < 0)
        usage((std::string(name) + " is not a whole number").c_str());
    return value;
}

// Where split mode cuts a list: inside the first multi-byte character if it has one, else in thirds.
std::vector<size_t> cutPoints(const std::string& list) {
    for (size_t i = 0; i < list.size(); ++i)
        if (static_cast<unsigned char>(list[i]) >= 0xC0)
            return {i + 1, i + 2};
    return {list.size() / 3, 2 * list.size() / 3};
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        usage("no verb given");
    const bool check = std::strcmp(argv[1], "verifyPermissions") == 0;
    if (!check && std::strcmp(argv[1], "repairPermissions") != 0)
        usage((std::string("unknown verb \"") + argv[1] + "\"").c_str());
    if (argc != 4 || std::strcmp(argv[2], "-plist") != 0)
        usage((std::string(argv[1]) + " takes -plist and a volume").c_str());

    const char* modeText = std::getenv("VARNEL_SIM_MODE");
    const std::string mode = modeText && *modeText ? modeText : "normal";
    const long duration = environmentNumber("VARNEL_SIM_DURATION_MS", 3000);
    const long floodCount = environmentNumber("VARNEL_SIM_COUNT", 100000);

    if (mode == "flood") {
        const bool messages = environmentNumber("VARNEL_SIM_MESSAGES", 0) == 1;
        for (long i = 0; i < floodCount; ++i) {
            const std::string message =
                messages ? "Repaired \u201c/usr/share/doc/package-" + std::to_string(i) + "/README\u201d."
                         : "";
            writeAll(
                xmlList({100.0 * static_cast<double>(i) / static_cast<double>(floodCount), message, false}));
        }
        writeAll(xmlList({100, {}, true}));
        return 0;
    }

    static const char* const kModes[] = {"normal", "fail",   "crash",   "hang",      "close-early",
                                         "split",  "merged", "garbage", "old-style", "clean"};
    bool known = false;
    for (const char* m : kModes)
        known = known || mode == m;
    if (!known)
        usage(("unknown VARNEL_SIM_MODE \"" + mode + "\"").c_str());

    const std::vector<Report> reports = runReports(argv[3], check, mode == "clean");
    const long gap = duration / static_cast<long>(reports.size());
    const size_t partial = reports.size() / 3; // how far fail, crash, hang and close-early get
    std::string merged;
    for (size_t i = 0; i < reports.size(); ++i) {
        if (i == partial && mode == "fail") {
            std::fprintf(stderr,
                         "diskutil-sim: Error repairing permissions on %s: the volume could not be read\n",
                         argv[3]);
            return 2;
        }
        if (i == partial && mode == "crash")
            std::raise(SIGKILL);
        if (i == partial && mode == "hang")
            for (;;)
                ::pause();
        if (i == partial && mode == "close-early") {
            ::close(STDOUT_FILENO);
            sleepMs(duration);
            return 0;
        }

        const std::string list = mode == "old-style" ? oldStyleList(reports[i]) : xmlList(reports[i]);
        if (mode == "split") {
            const std::vector<size_t> cuts = cutPoints(list);
            writeAll(std::string_view(list).substr(0, cuts[0]));
            sleepMs(gap / 3);
            writeAll(std::string_view(list).substr(cuts[0], cuts[1] - cuts[0]));
            sleepMs(gap / 3);
            writeAll(std::string_view(list).substr(cuts[1]));
            sleepMs(gap / 3);
            continue;
        }
        if (mode == "merged") {
            merged += list;
            if (i % 3 == 2 || i + 1 == reports.size()) {
                writeAll(merged);
                merged.clear();
            }
        } else {
            writeAll(list);
        }
        if (mode == "garbage" && i % 4 == 1)
            writeAll("\xff\xfe garbage \xc0\xaf<<not a list>> \xed\xa0\x80\x80\n");
        sleepMs(gap);
    }
    return 0;
}
