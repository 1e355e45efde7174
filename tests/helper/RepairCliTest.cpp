// varnel-repair's verbs for people and scripts (check, repair, --json, verifyPermissions) on temporary rpm
// roots: a check changes nothing and finds what a repair then changes, the JSON lines say what the lines
// for people say, the exit statuses, elevation, the progress line on a terminal only, and the README's
// commands for administrators.
#include "plist/PropertyList.h"
#include "tests/helper/ProgramRun.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kTool = VARNEL_REPAIR_TOOL;

using helper_test::fakeRpm;
using helper_test::fileText;
using helper_test::TemporaryFolder;

struct ToolRun : helper_test::ProgramRun {
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        std::istringstream in(this->out);
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }
};

// Runs `program` with only `environment`, as `user` when one is given; with `terminal` its standard error
// is a pseudo-terminal (and its standard output too with `bothOnTerminal`), whose transcript ends up in
// `err` (see helper_test::runProgram).
ToolRun runProgram(const std::string& program, std::vector<std::string> arguments,
                   std::vector<std::string> environment = {}, int user = -1, bool terminal = false,
                   bool bothOnTerminal = false) {
    return {helper_test::runProgram(program, std::move(arguments), std::move(environment),
                                    {.user = user, .terminal = terminal, .bothOnTerminal = bothOnTerminal})};
}

ToolRun tool(std::vector<std::string> arguments, const std::string& program = kTool) {
    return runProgram(program, std::move(arguments));
}

QJsonObject json(const std::string& line) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_TRUE(document.isObject()) << line;
    return document.object();
}

std::vector<QJsonObject> jsonLines(const ToolRun& run) {
    std::vector<QJsonObject> out;
    for (const std::string& line : run.lines())
        out.push_back(json(line));
    return out;
}

// The paths of the JSON lines of a type, and the texts of those lines.
std::set<std::string> paths(const std::vector<QJsonObject>& lines, const char* type) {
    std::set<std::string> out;
    for (const QJsonObject& line : lines)
        if (line[u"type"].toString() == QLatin1String(type))
            out.insert(line[u"path"].toString().toStdString());
    return out;
}
std::vector<std::string> texts(const std::vector<QJsonObject>& lines, const char* type) {
    std::vector<std::string> out;
    for (const QJsonObject& line : lines)
        if (line[u"type"].toString() == QLatin1String(type))
            out.push_back(line[u"text"].toString().toStdString());
    return out;
}

// Owner, group, mode and change time of every path under `root`, links not followed: a chmod or chown,
// even to the same value, and a new attribute change the change time. rpm's own query of its database
// touches sqlite's shared-memory and write-ahead files, which are no business of the tool's.
std::map<std::string, std::string> snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename().string().starts_with("rpmdb.sqlite-"))
            continue;
        struct stat st {};
        ::lstat(entry.path().c_str(), &st);
        out[entry.path().string().substr(root.size())] =
            std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " + std::to_string(st.st_mode) +
            " " + std::to_string(st.st_ctim.tv_sec) + "." + std::to_string(st.st_ctim.tv_nsec);
    }
    return out;
}

// The paths whose owner, group or mode differ between two snapshots, as the tool shows them.
std::set<std::string> changed(const std::map<std::string, std::string>& before,
                              const std::map<std::string, std::string>& after) {
    std::set<std::string> out;
    for (const auto& [path, value] : after) {
        const auto it = before.find(path);
        const auto owned = [](const std::string& v) { return v.substr(0, v.rfind(' ')); };
        if (it == before.end() || owned(it->second) != owned(value))
            out.insert(QString::fromUtf8(path).toStdString());
    }
    return out;
}

// A temporary root holding vt and vt-names, as RepairToolTest builds it, and damage of several kinds: a
// repair puts back all but /opt/vt/bin/cap, whose owner is another user (privileges refused).
class RepairCli : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: installs packages into a temporary root and changes owners";
        ASSERT_EQ(helper_test::makeRpmRoot(m_root, {"vt", "vt-names"}), "");
    }
    void damage() {
        const struct {
            const char* path;
            int mode, uid, gid;
        } rows[] = {
            {"/opt/vt/etc/conf", 0666, -1, -1},   {"/opt/vt/private", 0777, -1, -1},
            {"/opt/vt/bin/setuid", 0755, -1, -1}, {"/opt/vt/bin/tool", -1, 2, -1},
            {"/opt/vt/share/data", -1, -1, 10},   {"/opt/vt/private/key", 0604, -1, 10},
            {"/opt/vt/bin/cap", -1, 2, -1},       {"/opt/names/bad\xff\xfename", 0600, -1, -1},
        };
        for (const auto& row : rows) {
            ASSERT_EQ(::lchown((m_root + row.path).c_str(), row.uid, row.gid), 0) << row.path;
            ASSERT_TRUE(row.mode < 0 || ::chmod((m_root + row.path).c_str(), row.mode) == 0) << row.path;
        }
    }

    TemporaryFolder m_folder;
    const std::string m_root = m_folder.path + "/root";
};

TEST_F(RepairCli, ACheckChangesNothingAndFindsWhatARepairThenChanges) {
    damage();
    const auto before = snapshot(m_root);
    const ToolRun human = tool({"check", m_root}), jsonRun = tool({"check", "--json", m_root}),
                  plistRun = tool({"verifyPermissions", "-plist", m_root});
    EXPECT_EQ(human.status, 5) << human.err;
    EXPECT_EQ(jsonRun.status, 5) << jsonRun.err;
    EXPECT_EQ(plistRun.status, 0) << plistRun.err;
    EXPECT_EQ(snapshot(m_root), before);

    // Every JSON line parses, each says in `text` what the line for a person says, in the same order, and
    // the property lists of verifyPermissions carry the same messages; the summary's counts match the lines.
    const std::vector<QJsonObject> found = jsonLines(jsonRun);
    std::vector<std::string> fromJson, fromPlist;
    std::map<std::string, int> counts;
    std::set<QString> differing;
    for (const QJsonObject& line : found) {
        fromJson.push_back(line[u"text"].toString().toStdString());
        const QString type = line[u"type"].toString();
        ++counts[type.toStdString()];
        if (type == u"finding") {
            EXPECT_TRUE(QStringList({"mode", "owner", "group"}).contains(line[u"attribute"].toString()));
            EXPECT_TRUE(line.contains(u"expected") && line.contains(u"actual"));
            differing.insert(line[u"path"].toString());
        } else if (type != u"message" && type != u"summary") {
            EXPECT_TRUE(line[u"path"].toString().startsWith(u'/')) << fromJson.back();
        }
    }
    for (const plist::Value& list : plist::parseAll(QString::fromUtf8(plistRun.out)))
        if (const plist::Value* message = list.find(u"Message"))
            fromPlist.push_back(message->text().toStdString());
    EXPECT_EQ(human.lines(), fromJson);
    EXPECT_EQ(fromPlist, fromJson);
    EXPECT_EQ(counts["summary"], 1);
    const QJsonObject checkSummary = found.back();
    EXPECT_EQ(checkSummary[u"type"].toString(), u"summary");
    EXPECT_EQ(checkSummary[u"verb"].toString(), u"check");
    EXPECT_EQ(checkSummary[u"volume"].toString().toStdString(), m_root);
    EXPECT_EQ(checkSummary[u"differing"].toInt(), static_cast<int>(differing.size()));
    EXPECT_EQ(checkSummary[u"differing"].toInt(), 8);
    EXPECT_EQ(checkSummary[u"to_repair"].toInt(), counts["would-repair"]);
    EXPECT_EQ(checkSummary[u"to_repair"].toInt(), 7);
    EXPECT_EQ(checkSummary[u"left_alone"].toInt(), counts["left-alone"]);
    EXPECT_EQ(checkSummary[u"errors"].toInt(), counts["error"]);
    EXPECT_EQ(checkSummary[u"exit_status"].toInt(), jsonRun.status);
    EXPECT_EQ(checkSummary[u"repaired"].toInt(), 0);
    EXPECT_FALSE(checkSummary[u"changed"].toBool());
    // A name that is not UTF-8 is shown with U+FFFD, in both forms.
    EXPECT_EQ(paths(found, "would-repair").count("/opt/names/bad\uFFFD\uFFFDname"), 1u);
    EXPECT_NE(human.out.find("/opt/names/bad\uFFFD\uFFFDname"), std::string::npos);

    const std::set<std::string> wouldRepair = paths(found, "would-repair");
    EXPECT_EQ(paths(found, "repair"), std::set<std::string>{});
    EXPECT_EQ(paths(found, "finding").count("/opt/vt/bin/cap"), 1u);
    EXPECT_EQ(wouldRepair.count("/opt/vt/bin/cap"), 0u);

    const ToolRun repair = tool({"repair", "--json", m_root});
    EXPECT_EQ(repair.status, 0) << repair.err;
    const std::vector<QJsonObject> done = jsonLines(repair);
    EXPECT_EQ(paths(done, "repair"), wouldRepair);
    EXPECT_EQ(changed(before, snapshot(m_root)), wouldRepair);
    EXPECT_EQ(texts(done, "finding"), texts(found, "finding"));
    EXPECT_EQ(texts(done, "left-alone"), texts(found, "left-alone"));
    EXPECT_EQ(done.back()[u"repaired"].toInt(), 7);
    EXPECT_TRUE(done.back()[u"changed"].toBool());

    // What a repair leaves alone still differs (5) and a repair would change nothing; once that is
    // mended, nothing differs (0).
    const ToolRun again = tool({"check", "--json", m_root});
    EXPECT_EQ(again.status, 5);
    EXPECT_EQ(json(again.lines().back())[u"to_repair"].toInt(), 0);
    ASSERT_EQ(::chown((m_root + "/opt/vt/bin/cap").c_str(), 0, -1), 0);
    const ToolRun clean = tool({"check", "--json", m_root});
    EXPECT_EQ(clean.status, 0);
    EXPECT_EQ(json(clean.lines().back())[u"differing"].toInt(), 0);
}

TEST_F(RepairCli, ExitStatusesAsDocumented) {
    TemporaryFolder empty;
    const std::string real = "exec /usr/bin/rpm \"$@\"";
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        bool summary; // a JSON summary is the last line of standard output
        std::string rpmScript = {};
    } rows[] = {
        {"a check of an undamaged root", {"check", "--json", m_root}, 0, true},
        {"a repair with nothing to do", {"repair", "--json", m_root}, 0, true},
        {"no package database", {"check", "--json", empty.path}, 2, false},
        {"rpm fails after listing",
         {"check", "--json", m_root},
         3,
         false,
         "case \"$*\" in *'--queryformat P'*) /usr/bin/rpm \"$@\"; exit 1;; *) " + real + ";; esac"},
        {"a second --json", {"check", "--json", "--json", m_root}, 1, false},
        {"two volumes", {"check", m_root, m_root}, 1, false},
        {"an unknown option", {"repair", "-n", m_root}, 1, false},
        {"a relative volume", {"check", "relative"}, 1, false},
        {"--json with a -plist verb", {"verifyPermissions", "-plist", m_root, "--json"}, 1, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        fakeRpm(row.rpmScript);
        const ToolRun run =
            tool(row.arguments, row.rpmScript.empty() ? kTool : VARNEL_REPAIR_TOOL_TEST_VARIANT);
        EXPECT_EQ(run.status, row.status) << run.err;
        const std::vector<std::string> lines = run.lines();
        const bool summary = !lines.empty() && json(lines.back())[u"type"].toString() == u"summary";
        EXPECT_EQ(summary, row.summary) << run.out;
        if (summary) {
            EXPECT_EQ(json(lines.back())[u"exit_status"].toInt(), row.status);
        }
        if (row.status != 0) {
            EXPECT_TRUE(run.err.starts_with("varnel-repair: ")) << run.err;
        }
    }
    fakeRpm("");
    const ToolRun version = tool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "varnel-repair " VARNEL_VERSION "\n");
}

// A person or a script on a terminal sees a progress line on standard error, blanked before every other
// line; a pipe never gets it, and standard output is the same either way.
TEST_F(RepairCli, TheProgressLineShowsOnATerminalOnly) {
    damage();
    const ToolRun piped = tool({"check", m_root});
    EXPECT_EQ(piped.err, "");
    EXPECT_EQ(piped.out.find('\r'), std::string::npos);

    const ToolRun onTerminal = runProgram(kTool, {"check", m_root}, {}, -1, true);
    EXPECT_EQ(onTerminal.out, piped.out);
    EXPECT_NE(onTerminal.err.find("\rChecking " + m_root + "  "), std::string::npos) << onTerminal.err;
    EXPECT_NE(onTerminal.err.find("%"), std::string::npos);

    // Both on one terminal: what is left of each line once the carriage returns have done their work is
    // exactly the line for a person (the terminal turns "\n" into "\r\n").
    const ToolRun both = runProgram(kTool, {"check", m_root}, {}, -1, true, true);
    std::string transcript = std::regex_replace(both.err, std::regex("\r\n"), "\n");
    std::vector<std::string> shown;
    std::istringstream in(transcript);
    for (std::string line; std::getline(in, line);)
        shown.push_back(line.substr(line.rfind('\r') == std::string::npos ? 0 : line.rfind('\r') + 1));
    EXPECT_EQ(shown, piped.lines());
}

// The README's tasks for Ansible, their commands taken from the README itself and run on the temporary
// root (the volume added last), the JSON summary read as the tasks read it: check, report, repair only
// when a repair would change something, "changed" from the repair's summary; a second round is all "ok".
TEST_F(RepairCli, TheReadmesPlaybookCommandsWork) {
    const std::string readme = fileText(VARNEL_README);
    const size_t block = readme.find("```yaml\n");
    ASSERT_NE(block, std::string::npos);
    const std::string yaml = readme.substr(block, readme.find("```\n", block + 8) - block);
    std::vector<std::vector<std::string>> commands;
    const std::regex command("ansible\\.builtin\\.command: (.*)");
    for (auto it = std::sregex_iterator(yaml.begin(), yaml.end(), command); it != std::sregex_iterator();
         ++it) {
        std::istringstream words((*it)[1].str());
        std::vector<std::string> argv(std::istream_iterator<std::string>(words), {});
        ASSERT_EQ(argv.front(), "/usr/sbin/varnel-repair");
        argv.erase(argv.begin());
        argv.push_back(m_root);
        commands.push_back(argv);
    }
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].front(), "check");
    EXPECT_EQ(commands[1].front(), "repair");
    // The tasks' conditions, as written in the README.
    ASSERT_NE(yaml.find("failed_when: varnel_check.rc not in [0, 5]"), std::string::npos);
    ASSERT_NE(yaml.find("when: (varnel_check.stdout_lines | last | from_json).to_repair > 0"),
              std::string::npos);
    ASSERT_NE(yaml.find("changed_when: (varnel_repair.stdout_lines | last | from_json).changed"),
              std::string::npos);

    const auto play = [&](bool& repaired, bool& changed, std::string& report) {
        const ToolRun check = tool(commands[0]);
        EXPECT_TRUE(check.status == 0 || check.status == 5) << check.err;
        const QJsonObject summary = json(check.lines().back());
        report = check.status == 5 ? summary[u"text"].toString().toStdString() : "";
        repaired = summary[u"to_repair"].toInt() > 0;
        changed = false;
        if (repaired) {
            const ToolRun repair = tool(commands[1]);
            EXPECT_EQ(repair.status, 0) << repair.err;
            changed = json(repair.lines().back())[u"changed"].toBool();
        }
    };
    ASSERT_EQ(::chmod((m_root + "/opt/vt/etc/conf").c_str(), 0666), 0);
    ASSERT_EQ(::chown((m_root + "/opt/vt/bin/tool").c_str(), 2, -1), 0);
    bool repaired = false, changed = false;
    std::string report;
    play(repaired, changed, report);
    EXPECT_TRUE(repaired && changed);
    EXPECT_EQ(report, "2 files differ; a repair would change 2 of them. Nothing was changed.");
    play(repaired, changed, report);
    EXPECT_FALSE(repaired || changed);
    EXPECT_EQ(report, "");
}

// As another user the human verbs elevate like repairPermissions: pkexec by absolute path, an empty
// environment, the verb and its options passed on with "/"; no password when there is nothing to check,
// and another volume needs root already.
TEST(RepairCliElevation, TheVerbGoesThroughPkexec) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: runs the tool as the user nobody";
    const std::string records = VARNEL_FAKE_PKEXEC_DIR, variant = VARNEL_REPAIR_TOOL_TEST_VARIANT;
    fs::remove_all(records);
    fs::create_directories(records);
    ASSERT_EQ(::chmod(records.c_str(), 0777), 0);
    std::ofstream(records + "/status") << "0\n";
    const std::string self = fs::canonical(variant);
    constexpr int kNobody = 65534;
    if (runProgram(variant, {}, {}, kNobody).status == 121)
        GTEST_SKIP() << "the user nobody cannot reach the build tree to run the tool";
    // Nothing to check: no password asked for.
    fakeRpm("");
    EXPECT_EQ(runProgram(variant, {"check"}, {}, kNobody).status, 2);
    EXPECT_FALSE(fs::exists(records + "/arguments"));

    TemporaryFolder database;
    ASSERT_EQ(::chmod(database.path.c_str(), 0755), 0);
    std::ofstream(database.path + "/rpmdb.sqlite") << "";
    fakeRpm("case \"$*\" in *--eval*) echo '" + database.path + "';; *) printf .;; esac");
    const struct {
        std::vector<std::string> arguments;
        std::string passed; // pkexec's arguments after the tool's path; empty: pkexec not started
        int status;
    } rows[] = {
        {{"check"}, "check\n/\n", 0},
        {{"check", "--json"}, "check\n--json\n/\n", 0},
        {{"repair", "/"}, "repair\n/\n", 0},
        {{"repair", "--json", "/"}, "repair\n--json\n/\n", 0},
        {{"verifyPermissions", "-plist", "/"}, "verifyPermissions\n-plist\n/\n", 0},
        {{"check", "/tmp"}, "", 1},
        {{"repair", "--json", "/tmp"}, "", 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.passed);
        fs::remove(records + "/arguments");
        const ToolRun run = runProgram(variant, row.arguments, {"PATH=/tmp/evil", "HOME=/tmp"}, kNobody);
        EXPECT_EQ(run.status, row.status) << run.err;
        if (row.passed.empty()) {
            EXPECT_FALSE(fs::exists(records + "/arguments"));
            continue;
        }
        EXPECT_EQ(fileText(records + "/arguments"), self + "\n" + row.passed);
        EXPECT_EQ(fileText(records + "/environment"), "");
    }
    // Under pkexec, as root: "/" only. Without a database the variant ends with 2, having accepted "/".
    fakeRpm("");
    for (const auto& [arguments, status] :
         std::vector<std::pair<std::vector<std::string>, int>>{{{"check", "/tmp"}, 1},
                                                               {{"repair", "--json", "/tmp"}, 1},
                                                               {{"check"}, 2},
                                                               {{"repair", "--json"}, 2}}) {
        const ToolRun run = runProgram(variant, arguments, {"PKEXEC_UID=1000"});
        EXPECT_EQ(run.status, status) << arguments.back() << run.err;
        EXPECT_EQ(run.out, "");
    }
}

} // namespace
