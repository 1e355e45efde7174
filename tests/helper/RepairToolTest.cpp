// varnel-repair on temporary roots holding real rpm databases.
#include "RepairToolFixture.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

using Messages = std::vector<std::string>;

const std::string kOrphan =
    "\u201c/opt/vt/share/orphan\u201d should belong to user \u201cnosuchuser\u201d, which "
    "this system does not know; it was left alone.";

std::string q(const std::string& path) {
    return "\u201c" + path + "\u201d";
}

// The messages between the start message and the summary, sorted (the database decides the order).
Messages findings(const ToolRun& run) {
    Messages all = run.messages();
    EXPECT_GE(all.size(), 2u);
    if (all.size() < 2)
        return {};
    EXPECT_TRUE(all.front().starts_with("Started repairing permissions on "));
    Messages middle(all.begin() + 1, all.end() - 1);
    std::sort(middle.begin(), middle.end());
    return middle;
}

Messages sorted(Messages m) {
    std::sort(m.begin(), m.end());
    return m;
}

// A whole run that went well: exit 0, nothing on stderr, progress rising, one "End" at the very end.
void expectCompleteRun(const ToolRun& run) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(run.endsOnce());
    const std::vector<double> percents = run.percents();
    EXPECT_GE(percents.size(), 3u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()), percents.end());
    // Each list is written whole with one write: the output is nothing but complete lists.
    size_t plists = 0;
    for (size_t at = run.out.find("<plist "); at != std::string::npos; at = run.out.find("<plist ", at + 1))
        ++plists;
    EXPECT_EQ(plists, run.lists.size());
}

TEST_F(RepairToolTest, RepairsExactlyWhatDiffersThenFindsNothing) {
    struct Break {
        const char* path;
        int mode; // -1: unchanged
        int uid, gid;
        std::vector<std::string> reports;
    };
    const std::vector<Break> breaks = {
        {"/opt/vt/etc/conf",
         0666,
         -1,
         -1,
         {"Permissions differ on " + q("/opt/vt/etc/conf") +
          "; should be -rw-r--r-- , they are -rw-rw-rw- ."}},
        {"/opt/vt/private",
         0777,
         -1,
         -1,
         {"Permissions differ on " + q("/opt/vt/private") +
          "; should be drwxr-x--- , they are drwxrwxrwx ."}},
        {"/opt/vt/bin/setuid",
         0755,
         -1,
         -1,
         {"Permissions differ on " + q("/opt/vt/bin/setuid") +
          "; should be -rwsr-xr-x , they are -rwxr-xr-x ."}},
        // Names come from the root's own files: daemon is 2 there, 1 on Debian itself.
        {"/opt/vt/bin/tool",
         -1,
         2,
         -1,
         {"Owner differs on " + q("/opt/vt/bin/tool") + "; should be root , it is daemon ."}},
        {"/opt/vt/share/data",
         -1,
         -1,
         10,
         {"Group differs on " + q("/opt/vt/share/data") + "; should be root , it is wheel ."}},
        {"/opt/vt/private/key",
         0604,
         0,
         0,
         {"Permissions differ on " + q("/opt/vt/private/key") +
              "; should be -rw-r----- , they are -rw----r-- .",
          "Owner differs on " + q("/opt/vt/private/key") + "; should be daemon , it is root .",
          "Group differs on " + q("/opt/vt/private/key") + "; should be daemon , it is root ."}},
        {"/opt/names/it's",
         0,
         -1,
         -1,
         {"Permissions differ on " + q("/opt/names/it's") +
          "; should be -rw-r--r-- , they are ---------- ."}},
    };
    Messages expected = {kOrphan};
    for (const Break& b : breaks) {
        ASSERT_EQ(::lchown(path(b.path).c_str(), b.uid, b.gid), 0);
        if (b.mode >= 0) {
            ASSERT_EQ(::chmod(path(b.path).c_str(), b.mode), 0);
        }
        expected.insert(expected.end(), b.reports.begin(), b.reports.end());
        expected.push_back("Repaired " + q(b.path) + ".");
    }
    const ToolRun first = repairTool(m_root);
    expectCompleteRun(first);
    EXPECT_EQ(findings(first), sorted(expected));
    EXPECT_EQ(first.messages().back(), "Repaired 7 of 7 files whose permissions differed.");

    // rpm's own verification agrees.
    const ToolRun verify = rpm({"--root", m_root, "--verify", "--all"});
    EXPECT_EQ(verify.status, 0);
    EXPECT_EQ(verify.out, "");
    EXPECT_EQ(statOf("/opt/vt/bin/setuid").st_mode, S_IFREG | 04755u);
    EXPECT_EQ(statOf("/opt/vt/private/key").st_uid, 2u);

    const ToolRun second = repairTool(m_root);
    expectCompleteRun(second);
    EXPECT_EQ(findings(second), Messages{kOrphan});
    EXPECT_EQ(second.messages().back(), "Found no file whose permissions differ.");
}

TEST_F(RepairToolTest, NeverFollowsALinkToAnotherFile) {
    // A file outside the root, and folders inside it that links lead to.
    const std::string outside = m_dir + "/outside";
    std::ofstream(outside) << "not packaged";
    ASSERT_EQ(::chmod(outside.c_str(), 0600), 0);
    std::filesystem::create_directories(m_dir + "/elsewhere");
    std::ofstream(m_dir + "/elsewhere/key") << "not packaged either";
    ASSERT_EQ(::chmod((m_dir + "/elsewhere/key").c_str(), 0666), 0);
    std::filesystem::create_directories(path("/relocated/lib"));
    std::ofstream(path("/relocated/lib/a")) << "a\n";
    ASSERT_EQ(::chmod(path("/relocated/lib/a").c_str(), 0600), 0);

    // A packaged file replaced by a link out of the root.
    std::filesystem::remove(path("/opt/vt/etc/conf"));
    std::filesystem::create_symlink(outside, path("/opt/vt/etc/conf"));
    // A packaged folder replaced by a link someone other than root made.
    std::filesystem::remove_all(path("/opt/vt/private"));
    std::filesystem::create_directory_symlink(m_dir + "/elsewhere", path("/opt/vt/private"));
    ASSERT_EQ(::lchown(path("/opt/vt/private").c_str(), 1000, 1000), 0);
    // root's own absolute link, as /lib -> /usr/lib: followed, and inside the root.
    std::filesystem::remove_all(path("/opt/victim/lib"));
    std::filesystem::create_directory_symlink("/relocated/lib", path("/opt/victim/lib"));

    const ToolRun run = repairTool(m_root);
    expectCompleteRun(run);
    EXPECT_EQ(findings(run),
              sorted({kOrphan,
                      q("/opt/vt/etc/conf") + " should be a file but is a symbolic link; it was left alone.",
                      q("/opt/vt/private") + " should be a folder but is a symbolic link; it was left alone.",
                      q("/opt/victim/lib") + " should be a folder but is a symbolic link; it was left alone.",
                      "Could not check " + q("/opt/vt/private/key") + ": Too many levels of symbolic links.",
                      q("/opt/victim/lib/b") + " is missing; it was not created.",
                      "Permissions differ on " + q("/opt/victim/lib/a") +
                          "; should be -rw-r--r-- , they are -rw------- .",
                      "Repaired " + q("/opt/victim/lib/a") + "."}));
    struct stat st {};
    ASSERT_EQ(::stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, 0600u);
    ASSERT_EQ(::stat((m_dir + "/elsewhere/key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, 0666u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(statOf("/relocated/lib/a").st_mode & 07777u, 0644u);
}

TEST_F(RepairToolTest, AMissingFileLeavesEveryOtherFileOfItsPackageAsItWas) {
    const std::vector<std::string> others = {"/opt/victim/bin/run", "/opt/victim/lib/b"};
    std::vector<std::string> contents;
    for (const std::string& file : others)
        contents.push_back(contentOf(file));
    std::filesystem::remove(path("/opt/victim/lib/a"));
    ASSERT_EQ(::chmod(path("/opt/victim/bin/run").c_str(), 0700), 0);

    const ToolRun run = repairTool(m_root);
    expectCompleteRun(run);
    EXPECT_EQ(findings(run), sorted({kOrphan, q("/opt/victim/lib/a") + " is missing; it was not created.",
                                     "Permissions differ on " + q("/opt/victim/bin/run") +
                                         "; should be -rwxr-xr-x , they are -rwx------ .",
                                     "Repaired " + q("/opt/victim/bin/run") + "."}));
    EXPECT_FALSE(std::filesystem::exists(path("/opt/victim/lib/a")));
    for (size_t i = 0; i < others.size(); ++i)
        EXPECT_EQ(contentOf(others[i]), contents[i]) << others[i];
    EXPECT_EQ(statOf("/opt/victim/bin/run").st_mode & 07777u, 0755u);
}

// A file whose packaged state grants privileges keeps them through a change of group, and gets none
// back when a user other than root could have rewritten it.
TEST_F(RepairToolTest, PrivilegesComeBackOnlyToContentNoUserCouldHaveChanged) {
    const auto capability = [this](const char* file) {
        char value[64];
        const ssize_t n = ::getxattr(path(file).c_str(), "security.capability", value, sizeof value);
        return n < 0 ? std::string() : std::string(value, static_cast<size_t>(n));
    };
    const std::string packagedCapability = capability("/opt/vt/bin/cap");
    ASSERT_FALSE(packagedCapability.empty()) << "rpm did not set the packaged capability";
    // A wrong group (the kernel drops the capability with chown: the test puts it back).
    ASSERT_EQ(::chown(path("/opt/vt/bin/cap").c_str(), -1, 10), 0);
    ASSERT_EQ(::setxattr(path("/opt/vt/bin/cap").c_str(), "security.capability", packagedCapability.data(),
                         packagedCapability.size(), 0),
              0);
    // A set-user-ID file a user has owned, and a capability file a user owns.
    ASSERT_EQ(::chown(path("/opt/vt/bin/setuid").c_str(), 2, -1), 0);

    const ToolRun run = repairTool(m_root);
    expectCompleteRun(run);
    const std::string refused = " was not repaired: it should carry privileges (set-user-ID, set-group-ID or "
                                "capabilities), and users other than its packaged owner could have changed "
                                "its content. Reinstall the package \u201cvt\u201d.";
    EXPECT_EQ(
        findings(run),
        sorted({kOrphan, "Group differs on " + q("/opt/vt/bin/cap") + "; should be root , it is wheel .",
                "Repaired " + q("/opt/vt/bin/cap") + ".",
                "Permissions differ on " + q("/opt/vt/bin/setuid") +
                    "; should be -rwsr-xr-x , they are -rwxr-xr-x .",
                "Owner differs on " + q("/opt/vt/bin/setuid") + "; should be root , it is daemon .",
                q("/opt/vt/bin/setuid") + refused}));
    EXPECT_EQ(statOf("/opt/vt/bin/cap").st_gid, 0u);
    EXPECT_EQ(capability("/opt/vt/bin/cap"), packagedCapability);
    EXPECT_EQ(statOf("/opt/vt/bin/setuid").st_uid, 2u);
    EXPECT_EQ(statOf("/opt/vt/bin/setuid").st_mode & 07777u, 0755u);
}

TEST_F(RepairToolTest, ACapabilityFileAUserOwnsIsLeftAlone) {
    ASSERT_EQ(::chown(path("/opt/vt/bin/cap").c_str(), 2, -1), 0);
    const ToolRun run = repairTool(m_root);
    expectCompleteRun(run);
    EXPECT_EQ(
        findings(run),
        sorted({kOrphan, "Owner differs on " + q("/opt/vt/bin/cap") + "; should be root , it is daemon .",
                q("/opt/vt/bin/cap") +
                    " was not repaired: it should carry privileges (set-user-ID, set-group-ID or "
                    "capabilities), and users other than its packaged owner could have changed its "
                    "content. Reinstall the package \u201cvt\u201d."}));
    EXPECT_EQ(statOf("/opt/vt/bin/cap").st_uid, 2u);
}

TEST_F(RepairToolTest, NamesWithMarkupOrBadBytesComeOutAsText) {
    const std::string markup = "/opt/names/</string><key>End</key><true/>";
    const std::string bad = "/opt/names/bad\xff\xfename";
    ASSERT_EQ(::chmod(path(markup).c_str(), 0600), 0);
    ASSERT_EQ(::chmod(path(bad).c_str(), 0600), 0);
    const ToolRun run = repairTool(m_root);
    expectCompleteRun(run);
    const std::string shownBad = "/opt/names/bad\uFFFD\uFFFDname";
    EXPECT_EQ(
        findings(run),
        sorted({kOrphan,
                "Permissions differ on " + q(markup) + "; should be -rw-r--r-- , they are -rw------- .",
                "Repaired " + q(markup) + ".",
                "Permissions differ on " + q(shownBad) + "; should be -rw-r--r-- , they are -rw------- .",
                "Repaired " + q(shownBad) + "."}));
    EXPECT_EQ(statOf(bad).st_mode & 07777u, 0644u);
}

TEST(RepairToolCommandLine, RefusesEveryOtherForm) {
    TemporaryFolder volume;
    struct Case {
        std::vector<std::string> arguments;
        std::vector<std::string> environment;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{"verify", "/"}, {}},
        {{"repairPermissions", "/"}, {}},
        {{"repairPermissions", "-xml", "/"}, {}},
        {{"repairPermissions", "-plist", "/", "/"}, {}},
        {{"repairPermissions", "-plist", "relative/root"}, {}},
        {{"repairPermissions", "-plist", ""}, {}},
        // Under pkexec only the running system may be repaired.
        {{"repairPermissions", "-plist", volume.path}, {"PKEXEC_UID=1000"}},
        {{"repairPermissions", "-plist", "/tmp/.."}, {"PKEXEC_UID=1000"}},
        {{"repairPermissions", "-plist", "//"}, {"PKEXEC_UID=0"}},
    };
    for (const Case& c : cases) {
        const ToolRun run = runProgram(VARNEL_REPAIR_TOOL, c.arguments, c.environment);
        SCOPED_TRACE(c.arguments.empty() ? "(nothing)" : c.arguments.back());
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_TRUE(run.err.starts_with("varnel-repair: ") && run.err.find('\n') == run.err.size() - 1)
            << run.err;
    }
}

TEST(RepairToolDatabase, NoDatabaseNoPackageOrNoRpmMeansNothingToRepair) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: rpm refuses to create a database in a root for another user";
    TemporaryFolder empty, initialised;
    ASSERT_EQ(rpm({"--root", initialised.path, "--initdb"}).status, 0);
    const std::string fakeRpm = VARNEL_FAKE_RPM_DIR;
    std::filesystem::remove_all(fakeRpm);
    const struct {
        std::string volume, tool;
        std::vector<std::string> environment;
    } cases[] = {
        {empty.path, VARNEL_REPAIR_TOOL, {}},
        {initialised.path, VARNEL_REPAIR_TOOL, {}},
        // A caller under pkexec may repair "/": the variant, without rpm, shows it is accepted, and the
        // running system is never touched.
        {"/", VARNEL_REPAIR_TOOL_TEST_VARIANT, {"PKEXEC_UID=1000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.volume);
        const ToolRun run = repairTool(c.volume, c.environment, c.tool);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "varnel-repair: this system's packages record no permissions to repair (no rpm "
                           "package database on " +
                               c.volume + ")\n");
    }
    // Asking rpm about a missing database would have made one: the tool did not ask.
    EXPECT_TRUE(std::filesystem::is_empty(empty.path));

    // rpm gets a fixed environment, nothing of the tool's own.
    std::filesystem::create_directories(fakeRpm);
    std::ofstream(fakeRpm + "/rpm") << "#!/bin/sh\ncat /proc/$$/environ >'" << fakeRpm
                                    << "/environment'\nexit 1\n";
    std::filesystem::permissions(fakeRpm + "/rpm", std::filesystem::perms::owner_all);
    const ToolRun failed =
        repairTool(empty.path, {"PATH=/tmp/evil", "HOME=/tmp"}, VARNEL_REPAIR_TOOL_TEST_VARIANT);
    EXPECT_EQ(failed.status, 3);
    std::ifstream recorded(fakeRpm + "/environment", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(recorded), {}),
              std::string("PATH=/usr/sbin:/usr/bin:/sbin:/bin\0LC_ALL=C\0", 44));
}

// The variant whose pkexec is a stand-in that records how it was started and exits as told.
TEST(RepairToolElevation, AUserGoesThroughPkexecWithItsAbsolutePathAndAnEmptyEnvironment) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: runs the tool as the user nobody";
    const std::string records = VARNEL_FAKE_PKEXEC_DIR;
    std::filesystem::remove_all(records);
    std::filesystem::create_directories(records);
    ASSERT_EQ(::chmod(records.c_str(), 0777), 0);
    const auto slurp = [&](const char* name) {
        std::ifstream file(records + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    };
    const std::string self = std::filesystem::canonical(VARNEL_REPAIR_TOOL_TEST_VARIANT);
    constexpr int kNobody = 65534;
    if (runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT, {}, {}, kNobody).status == 121)
        GTEST_SKIP() << "the user nobody cannot reach the build tree to run the tool";
    const struct {
        int pkexecStatus, status;
        const char* says;
    } cases[] = {{126, 126, "varnel-repair: authentication was cancelled or refused; nothing was changed\n"},
                 {127, 127, "varnel-repair: could not authenticate as an administrator"},
                 {0, 0, ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pkexecStatus);
        std::ofstream(records + "/status") << c.pkexecStatus << "\n";
        std::filesystem::remove(records + "/arguments");
        const ToolRun run = runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT, {"repairPermissions", "-plist", "/"},
                                       {"PATH=/tmp/evil", "HOME=/tmp", "DISPLAY=:9"}, kNobody);
        EXPECT_EQ(run.status, c.status);
        EXPECT_TRUE(run.err.starts_with(c.says)) << run.err;
        EXPECT_EQ(slurp("arguments"), self + "\nrepairPermissions\n-plist\n/\n");
        EXPECT_EQ(slurp("environment"), "");
    }
    // Another volume needs root already: no password prompt for a request that would be refused.
    std::filesystem::remove(records + "/arguments");
    TemporaryFolder volume;
    const ToolRun run = runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT,
                                   {"repairPermissions", "-plist", volume.path}, {}, kNobody);
    EXPECT_EQ(run.status, 1);
    EXPECT_FALSE(std::filesystem::exists(records + "/arguments"));
}

} // namespace
