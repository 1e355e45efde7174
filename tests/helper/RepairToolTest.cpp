// varnel-repair on temporary roots holding real rpm databases, run on its own and by the application's
// runner.
#include "helper/AccountDatabase.h"
#include "helper/FileRepairer.h"
#include "helper/FolderWalk.h"
#include "helper/PlistReporter.h"
#include "helper/RpmDatabase.h"
#include "helper/RpmHeader.h"
#include "plist/PropertyList.h"
#include "repair/ProgressChunk.h"
#include "repair/repairPermissions.h"
#include "tests/helper/ProgramRun.h"

#include <QTest>
#include <algorithm>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <set>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <tuple>
#include <unistd.h>

namespace {

using Messages = std::vector<std::string>;

using helper_test::fakeRpm;
using helper_test::fileText;
using helper_test::TemporaryFolder;

// How one run of a program ended, and the property lists it wrote.
struct ToolRun : helper_test::ProgramRun {
    std::vector<plist::Value> lists;

    Messages messages() const {
        Messages out;
        for (const plist::Value& list : lists)
            if (const plist::Value* message = list.find(u"Message"))
                out.push_back(message->text().toStdString());
        return out;
    }
};

// Runs `program` with `environment` alone, as `user` when one is given, with at most `maxFiles`
// descriptors when given, and waits (see helper_test::runProgram).
ToolRun runProgram(const std::string& program, std::vector<std::string> arguments,
                   std::vector<std::string> environment = {}, int user = -1, int maxFiles = -1) {
    ToolRun run{helper_test::runProgram(program, std::move(arguments), std::move(environment),
                                        {.user = user, .maxFiles = maxFiles}),
                {}};
    run.lists = plist::parseAll(QString::fromUtf8(run.out));
    return run;
}

ToolRun repairTool(const std::string& volume, const std::vector<std::string>& environment = {},
                   const std::string& tool = VARNEL_REPAIR_TOOL) {
    return runProgram(tool, {"repairPermissions", "-plist", volume}, environment);
}

// rpm as the tool runs it, its property lists read.
ToolRun rpm(const std::vector<std::string>& arguments) {
    return {helper_test::rpm(arguments), {}};
}

// The test variant's fs.protected_hardlinks.
void fakeHardLinksProtected(bool on) {
    std::ofstream(VARNEL_FAKE_PROTECTED_HARDLINKS) << (on ? "1\n" : "0\n");
}

// A temporary root holding the three test packages, with its own etc/passwd and etc/group (daemon is 2
// there, 1 on Debian itself; wheel is 10). Installing and changing owners need root: without it, skipped.
class RepairToolTest : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root: installs packages into a temporary root and changes owners";
        ASSERT_FALSE(m_folder.path.empty());
        makeRoot(m_root, {"vt", "vt-names", "vt-victim"});
    }
    static void makeRoot(const std::string& root, const std::vector<std::string>& packages) {
        ASSERT_EQ(helper_test::makeRpmRoot(root, packages), "");
    }
    std::string path(const std::string& inRoot) const { return m_root + inRoot; }
    struct stat statOf(const std::string& inRoot) const {
        struct stat st {};
        EXPECT_EQ(::lstat(path(inRoot).c_str(), &st), 0) << inRoot;
        return st;
    }

    TemporaryFolder m_folder;
    const std::string m_root = m_folder.path + "/root";
};

// Gives user 1234 write through an access control list (user, named user, group, mask, other entries).
bool acl(const std::string& file) {
    const uint16_t e[][2] = {{1, 7}, {2, 7}, {4, 5}, {0x10, 7}, {0x20, 5}};
    const uint32_t ids[] = {~0u, 1234, ~0u, ~0u, ~0u};
    std::string v("\x02\0\0\0", 4);
    for (int i = 0; i < 5; ++i)
        v += std::string(reinterpret_cast<const char*>(e[i]), 4) +
             std::string(reinterpret_cast<const char*>(&ids[i]), 4);
    return ::setxattr(file.c_str(), "system.posix_acl_access", v.data(), v.size(), 0) == 0;
}

// The tool's messages, as the tests expect them.
std::string q(const std::string& path) {
    return "\u201c" + path + "\u201d";
}
std::string modes(const std::string& path, const char* should, const char* are) {
    return "Permissions differ on " + q(path) + "; should be " + should + " , they are " + are + " .";
}
std::string differs(const char* what, const std::string& path, const char* should, const char* is) {
    return std::string(what) + " differs on " + q(path) + "; should be " + should + " , it is " + is + " .";
}
std::string repaired(const std::string& path) {
    return "Repaired " + q(path) + ".";
}
std::string refused(const std::string& path, const std::string& because) {
    return q(path) +
           " was not repaired: it should carry privileges (set-user-ID, set-group-ID or capabilities), "
           "and " +
           because + ", so others could have changed its content. Reinstall the package \u201cvt\u201d.";
}
const std::string kOrphan = "\u201c/opt/vt/share/orphan\u201d should belong to user \u201cnosuchuser\u201d, "
                            "which this system does not know; it was left alone.";

// A run that went well (exit 0, nothing on stderr, progress rising, one "End" with 100 at the very end,
// nothing but whole lists) and its messages between the start and the summary, sorted.
Messages findings(const ToolRun& run) {
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<double> percents;
    int ends = 0;
    for (const plist::Value& list : run.lists) {
        if (const plist::Value* percent = list.find(u"PercentComplete"))
            percents.push_back(percent->real());
        ends += plist::boolValue(list.find(u"End"));
    }
    EXPECT_GE(percents.size(), 3u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()) &&
                std::adjacent_find(percents.begin(), percents.end()) == percents.end());
    const plist::Value* last = run.lists.empty() ? nullptr : run.lists.back().find(u"PercentComplete");
    EXPECT_TRUE(ends == 1 && last && last->real() == 100 && plist::boolValue(run.lists.back().find(u"End")));
    EXPECT_TRUE(percents.size() < 2 || percents[percents.size() - 2] < 100); // 100 only at the end
    size_t plists = 0;
    for (size_t at = run.out.find("<plist "); at != std::string::npos; at = run.out.find("<plist ", at + 1))
        ++plists;
    EXPECT_EQ(plists, run.lists.size());
    Messages all = run.messages();
    if (all.size() < 2 || !all.front().starts_with("Started repairing permissions on "))
        return {"(no start message or summary)"};
    Messages middle(all.begin() + 1, all.end() - 1);
    std::sort(middle.begin(), middle.end());
    return middle;
}

Messages sorted(Messages m) {
    std::sort(m.begin(), m.end());
    return m;
}

// Modes, owners and groups (names from the root's own files), and names holding markup, a quote or bytes
// that are not UTF-8: each reported as it differs, repaired, and then rpm's own verification agrees.
TEST_F(RepairToolTest, RepairsExactlyWhatDiffersThenFindsNothing) {
    const std::string markup = "/opt/names/</string><key>End</key><true/>",
                      bad = "/opt/names/bad\xff\xfename";
    const std::string shownBad = "/opt/names/bad\uFFFD\uFFFDname";
    const struct {
        std::string path;
        int mode, uid, gid; // -1: unchanged
        Messages reports;
        std::string shown = {}; // the name in the messages, when it is not the path
    } breaks[] = {
        // clang-format off
        {"/opt/vt/etc/conf", 0666, -1, -1, {modes("/opt/vt/etc/conf", "-rw-r--r--", "-rw-rw-rw-")}},
        {"/opt/vt/private", 0777, -1, -1, {modes("/opt/vt/private", "drwxr-x---", "drwxrwxrwx")}},
        {"/opt/vt/bin/setuid", 0755, -1, -1, {modes("/opt/vt/bin/setuid", "-rwsr-xr-x", "-rwxr-xr-x")}},
        {"/opt/vt/bin/tool", -1, 2, -1, {differs("Owner", "/opt/vt/bin/tool", "root", "daemon")}},
        {"/opt/vt/share/data", -1, -1, 10, {differs("Group", "/opt/vt/share/data", "root", "wheel")}},
        {"/opt/vt/private/key", 0604, -1, 10, {modes("/opt/vt/private/key", "-rw-r-----", "-rw----r--"),
                                               differs("Group", "/opt/vt/private/key", "daemon", "wheel")}},
        {"/opt/names/it's", 0, -1, -1, {modes("/opt/names/it's", "-rw-r--r--", "----------")}},
        {markup, 0600, -1, -1, {modes(markup, "-rw-r--r--", "-rw-------")}},
        {bad, 0600, -1, -1, {modes(shownBad, "-rw-r--r--", "-rw-------")}, shownBad},
        // clang-format on
    };
    Messages expected = {kOrphan};
    for (const auto& b : breaks) {
        ASSERT_EQ(::lchown(path(b.path).c_str(), b.uid, b.gid), 0);
        ASSERT_TRUE(b.mode < 0 || ::chmod(path(b.path).c_str(), b.mode) == 0);
        expected.insert(expected.end(), b.reports.begin(), b.reports.end());
        expected.push_back(repaired(b.shown.empty() ? b.path : b.shown));
    }
    const ToolRun first = repairTool(m_root);
    EXPECT_EQ(findings(first), sorted(expected));
    EXPECT_EQ(first.messages().back(), "Repaired 9 of 9 files whose permissions differed.");
    const ToolRun verify = rpm({"--root", m_root, "--verify", "--all"});
    EXPECT_EQ(verify.status, 0);
    EXPECT_EQ(verify.out, "");
    EXPECT_EQ(statOf("/opt/vt/bin/setuid").st_mode, S_IFREG | 04755u);

    const ToolRun second = repairTool(m_root);
    EXPECT_EQ(findings(second), Messages{kOrphan});
    EXPECT_EQ(second.messages().back(), "Found no file whose permissions differ.");

    // A file system mounted on a packaged folder (as /proc is) shows the mount's top: it is left to the
    // mount; what the package put inside is checked as ever.
    const std::string mounted = path("/opt/vt/private");
    if (::mount("tmpfs", mounted.c_str(), "tmpfs", 0, "mode=1777") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const std::unique_ptr<const char, void (*)(const char*)> unmount(
        mounted.c_str(), [](const char* m) { ::umount2(m, MNT_DETACH); });
    std::ofstream(mounted + "/key") << "key\n";
    ASSERT_EQ(::chown((mounted + "/key").c_str(), 2, 2), 0);
    ASSERT_EQ(::chmod((mounted + "/key").c_str(), 0604), 0);
    EXPECT_EQ(findings(repairTool(m_root)),
              sorted({kOrphan, modes("/opt/vt/private/key", "-rw-r-----", "-rw----r--"),
                      repaired("/opt/vt/private/key")}));
    EXPECT_EQ(statOf("/opt/vt/private").st_mode, S_IFDIR | 01777u);
}

// Links that lead out of the root, or that someone other than root made, are left alone and what they
// lead to is untouched; root's own link inside the root is followed. A missing file is not created, and
// every other file of its package stays as it was.
TEST_F(RepairToolTest, NeverFollowsALinkOutOfTheRootNorCreatesOrRemovesFiles) {
    const std::string outside = m_folder.path + "/outside", elsewhere = m_folder.path + "/elsewhere";
    std::ofstream(outside) << "not packaged";
    ASSERT_EQ(::chmod(outside.c_str(), 0600), 0);
    std::filesystem::create_directories(elsewhere);
    std::ofstream(elsewhere + "/key") << "not packaged either";
    ASSERT_EQ(::chmod((elsewhere + "/key").c_str(), 0666), 0);
    // A packaged file replaced by a link out of the root, a packaged folder by a link a user made.
    std::filesystem::remove(path("/opt/vt/etc/conf"));
    std::filesystem::create_symlink(outside, path("/opt/vt/etc/conf"));
    std::filesystem::remove_all(path("/opt/vt/private"));
    std::filesystem::create_directory_symlink(elsewhere, path("/opt/vt/private"));
    ASSERT_EQ(::lchown(path("/opt/vt/private").c_str(), 1000, 1000), 0);
    // root's own absolute link, as /lib -> /usr/lib, to a folder that holds one of the package's two files.
    std::filesystem::create_directories(path("/relocated/lib"));
    std::ofstream(path("/relocated/lib/a")) << "a\n";
    ASSERT_EQ(::chmod(path("/relocated/lib/a").c_str(), 0600), 0);
    std::filesystem::remove_all(path("/opt/victim/lib"));
    std::filesystem::create_directory_symlink("/relocated/lib", path("/opt/victim/lib"));
    ASSERT_EQ(::chmod(path("/opt/victim/bin/run").c_str(), 0700), 0);
    const std::string run = fileText(path("/opt/victim/bin/run"));

    EXPECT_EQ(
        findings(repairTool(m_root)),
        sorted({kOrphan,
                q("/opt/vt/etc/conf") + " should be a file but is a symbolic link; it was left alone.",
                q("/opt/vt/private") + " should be a folder but is a symbolic link; it was left alone.",
                q("/opt/victim/lib") + " should be a folder but is a symbolic link; it was left alone.",
                "Could not check " + q("/opt/vt/private/key") + ": Too many levels of symbolic links.",
                q("/opt/victim/lib/b") + " is missing; it was not created.",
                modes("/opt/victim/lib/a", "-rw-r--r--", "-rw-------"), repaired("/opt/victim/lib/a"),
                modes("/opt/victim/bin/run", "-rwxr-xr-x", "-rwx------"), repaired("/opt/victim/bin/run")}));
    struct stat st {};
    ASSERT_EQ(::stat(outside.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777u, 0600u);
    ASSERT_EQ(::stat((elsewhere + "/key").c_str(), &st), 0);
    EXPECT_TRUE((st.st_mode & 07777u) == 0666u && st.st_uid == 0u);
    EXPECT_EQ(statOf("/relocated/lib/a").st_mode & 07777u, 0644u);
    EXPECT_EQ(statOf("/opt/victim/bin/run").st_mode & 07777u, 0755u);
    EXPECT_FALSE(std::filesystem::exists(path("/relocated/lib/b")));
    EXPECT_EQ(fileText(path("/relocated/lib/a")) + fileText(path("/opt/victim/bin/run")), "a\n" + run);
}

// Set-ID bits and capabilities go back only on content nobody but root could have written and nobody can
// write now; otherwise the file is left as found. Each row breaks /opt/vt/bin/setuid (4755 root:root) or
// /opt/vt/bin/cap (cap_net_raw) and is undone before the next.
TEST_F(RepairToolTest, PrivilegesComeBackOnlyToContentNoUserCouldHaveChanged) {
    const std::string setuid = path("/opt/vt/bin/setuid"), cap = path("/opt/vt/bin/cap");
    const auto capability = [&] {
        char value[64];
        const ssize_t n = ::getxattr(cap.c_str(), "security.capability", value, sizeof value);
        return n < 0 ? std::string() : std::string(value, static_cast<size_t>(n));
    };
    const std::string packaged = capability();
    ASSERT_FALSE(packaged.empty()) << "rpm did not set the packaged capability";
    void* mapping = nullptr;
    const auto lose = [&] { return ::chmod(setuid.c_str(), 0755) == 0; }; // as a change of content would
    const std::string s = "/opt/vt/bin/setuid", c = "/opt/vt/bin/cap";
    const struct {
        const char* name;
        std::function<bool()> breakIt;
        Messages reports;
        unsigned modeAfter;
    } rows[] = {
        {"group and mode differ, nobody else may write: owner first, then mode",
         [&] { return lose() && ::chown(setuid.c_str(), -1, 10) == 0; },
         {modes(s, "-rwsr-xr-x", "-rwxr-xr-x"), differs("Group", s, "root", "wheel"), repaired(s)},
         04755},
        {"a group other than root may write it",
         [&] { return ::chown(setuid.c_str(), -1, 10) == 0 && ::chmod(setuid.c_str(), 0775) == 0; },
         {modes(s, "-rwsr-xr-x", "-rwxrwxr-x"), differs("Group", s, "root", "wheel"),
          refused(s, "its group may write it")},
         0775},
        {"an access control list lets a user write it",
         [&] { return lose() && acl(setuid); },
         {modes(s, "-rwsr-xr-x", "-rwxrwxr-x"), refused(s, "an access control list lets others write it")},
         0775},
        {"anyone may write it",
         [&] { return ::chmod(setuid.c_str(), 0777) == 0; },
         {modes(s, "-rwsr-xr-x", "-rwxrwxrwx"), refused(s, "anyone may write it")},
         0777},
        {"another user owns it",
         [&] { return lose() && ::chown(setuid.c_str(), 2, -1) == 0; },
         {modes(s, "-rwsr-xr-x", "-rwxr-xr-x"), differs("Owner", s, "root", "daemon"),
          refused(s, "it belongs to a user other than root")},
         0755},
        {"it has a second hard link",
         [&] { return lose() && ::link(setuid.c_str(), (setuid + "-link").c_str()) == 0; },
         {modes(s, "-rwsr-xr-x", "-rwxr-xr-x"), refused(s, "it has several hard links")},
         0755},
        {"a process has it mapped writable",
         [&] {
             const int fd = lose() ? ::open(setuid.c_str(), O_RDWR) : -1;
             mapping = ::mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
             ::close(fd);
             return mapping != MAP_FAILED;
         },
         {modes(s, "-rwsr-xr-x", "-rwxr-xr-x"),
          refused(s, "a process has it open for writing or mapped writable")},
         0755},
        // The kernel drops the capability with chown: the test puts it back, the tool does after its own.
        {"a packaged capability through a change of group",
         [&] {
             return ::chown(cap.c_str(), -1, 10) == 0 &&
                    ::setxattr(cap.c_str(), "security.capability", packaged.data(), packaged.size(), 0) == 0;
         },
         {differs("Group", c, "root", "wheel"), repaired(c)},
         04755},
        {"a packaged capability on a file another user owns",
         [&] { return ::chown(cap.c_str(), 2, -1) == 0; },
         {differs("Owner", c, "root", "daemon"), refused(c, "it belongs to a user other than root")},
         04755},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(row.breakIt());
        EXPECT_EQ(findings(repairTool(m_root)), sorted([&] {
                      Messages m = row.reports;
                      m.push_back(kOrphan);
                      return m;
                  }()));
        EXPECT_EQ(statOf("/opt/vt/bin/setuid").st_mode & 07777u, row.modeAfter);
        if (row.reports.back() == repaired(c)) {
            EXPECT_EQ(capability(), packaged);
        }
        // Undone for the next row.
        if (mapping)
            ::munmap(std::exchange(mapping, nullptr), 4096);
        ::removexattr(setuid.c_str(), "system.posix_acl_access");
        std::filesystem::remove(setuid + "-link");
        ASSERT_EQ(::chown(setuid.c_str(), 0, 0) | ::chmod(setuid.c_str(), 04755) | ::chown(cap.c_str(), 0, 0),
                  0);
        ASSERT_EQ(::setxattr(cap.c_str(), "security.capability", packaged.data(), packaged.size(), 0), 0);
    }
}

// Below a folder anyone but root can write (/opt/m2 is daemon's, /opt/loose gets an access control list),
// nothing is trusted for its owner: no link is followed, root's objects and hard-linked ones are left
// alone, and what was there stays as it was. Also rpm's verify flags and a folder two packages list
// with different modes. Each row on a root of its own holding vt-m2 and vt-other.
TEST_F(RepairToolTest, NothingBelowAFolderOthersCanWriteIsTrustedForItsOwner) {
    const std::string shared =
        q("/opt/shared") +
        " is listed with different values by several packages (\u201cvt-m2\u201d: "
        "drwxr-xr-x root:root; \u201cvt-other\u201d: drwx------ root:root); it was left alone.";
    const auto leftIn = [](const std::string& file, const char* what, const char* folder) {
        return q(file) + " was not repaired: " + what + ", in " + q(folder) +
               ", a folder users other than root can change, so it may not be what the package put there.";
    };
    const auto link = [](const std::string& file) {
        return q(file) + " should be a folder but is a symbolic link; it was left alone.";
    };
    const auto loop = [](const std::string& file) {
        return "Could not check " + q(file) + ": Too many levels of symbolic links.";
    };
    const std::string shadow = "/opt/m2/data/shadow", file = "/opt/m2/data/sub/file";
    const struct {
        const char* name;
        std::function<void(const std::string& root)> breakIt;
        Messages reports;
        std::vector<std::pair<std::string, unsigned>> after; // path in the root, uid << 16 | mode
    } rows[] = {
        {"root's link renamed onto a packaged folder",
         [](const std::string& r) {
             std::filesystem::remove_all(r + "/opt/m2/data");
             std::filesystem::rename(r + "/opt/m2/etc-link", r + "/opt/m2/data");
         },
         {link("/opt/m2/data"), loop(shadow), loop("/opt/m2/data/sub"), loop(file)},
         {{"/etc/shadow", 0600}}},
        {"root's link one folder deeper",
         [](const std::string& r) {
             std::filesystem::remove_all(r + "/opt/m2/data/sub");
             std::filesystem::create_directory_symlink("/etc", r + "/opt/m2/data/sub");
             std::ofstream(r + "/etc/file") << "root's\n";
             ::chmod((r + "/etc/file").c_str(), 0600);
         },
         {link("/opt/m2/data/sub"), loop(file)},
         {{"/etc/file", 0600}}},
        {"a hard link to a file only root may write",
         [&](const std::string& r) {
             std::filesystem::remove(r + shadow);
             std::filesystem::create_hard_link(r + "/etc/shadow", r + shadow);
         },
         {modes(shadow, "-rw-r-----", "-rw-------"), differs("Owner", shadow, "daemon", "root"),
          differs("Group", shadow, "daemon", "root"), leftIn(shadow, "it has several hard links", "/opt/m2")},
         {{"/etc/shadow", 0600}}},
        {"a hard link to a root file anyone may write",
         [&](const std::string& r) {
             std::ofstream(r + "/etc/open") << "root's\n";
             ::chmod((r + "/etc/open").c_str(), 0666);
             std::filesystem::remove(r + file);
             std::filesystem::create_hard_link(r + "/etc/open", r + file);
         },
         {modes(file, "-rw-r-----", "-rw-rw-rw-"), differs("Owner", file, "daemon", "root"),
          differs("Group", file, "daemon", "root"), leftIn(file, "it has several hard links", "/opt/m2")},
         {{"/etc/open", 0666}}},
        {"root's set-user-ID program and another swapped by name",
         [](const std::string& r) {
             std::filesystem::rename(r + "/opt/m2/su", r + "/opt/m2/x");
             std::filesystem::rename(r + "/opt/m2/sh", r + "/opt/m2/su");
             std::filesystem::rename(r + "/opt/m2/x", r + "/opt/m2/sh");
         },
         {modes("/opt/m2/su", "-rwsr-xr-x", "-rwxr-xr-x"), leftIn("/opt/m2/su", "root owns it", "/opt/m2"),
          modes("/opt/m2/sh", "-rwxr-xr-x", "-rwsr-xr-x"), leftIn("/opt/m2/sh", "root owns it", "/opt/m2")},
         {{"/opt/m2/su", 0755}, {"/opt/m2/sh", 04755}}},
        {"the account's own file there is repaired",
         [&](const std::string& r) { ::chmod((r + shadow).c_str(), 0666); },
         {modes(shadow, "-rw-r-----", "-rw-rw-rw-"), repaired(shadow)},
         {{shadow, 2u << 16 | 0640}}},
        // Once the run has closed the folder, what it holds is looked at again, as a second run would.
        {"an access control list lets a user write a root folder",
         [](const std::string& r) {
             ::chmod((r + "/opt/loose/owner").c_str(), 0600);
             acl(r + "/opt/loose");
         },
         {modes("/opt/loose", "drwxr-xr-x", "drwxrwxr-x"), repaired("/opt/loose"),
          modes("/opt/loose/owner", "-rw-r--r--", "-rw-------"), repaired("/opt/loose/owner")},
         {{"/opt/loose/owner", 0644}}},
        // ... but gives no privileges back there: anyone could have put any program under that name.
        {"root's folder opened by accident",
         [](const std::string& r) {
             ::chmod((r + "/opt/loose").c_str(), 0777);
             ::chmod((r + "/opt/loose/suid").c_str(), 0755);
         },
         {modes("/opt/loose", "drwxr-xr-x", "drwxrwxrwx"), repaired("/opt/loose"),
          modes("/opt/loose/suid", "-rwsr-xr-x", "-rwxr-xr-x"),
          q("/opt/loose/suid") +
              " was not repaired: it should carry privileges (set-user-ID, set-group-ID or "
              "capabilities), and a folder above it was open to users other than root until "
              "this run closed it, so others could have changed its content. Reinstall the "
              "package \u201cvt-m2\u201d."},
         {{"/opt/loose", 0755}, {"/opt/loose/suid", 0755}}},
        // Taking write away from a program that is set-user-ID already gives nothing: it is done.
        {"root's set-user-ID program left writable in a folder opened by accident",
         [](const std::string& r) {
             ::chmod((r + "/opt/loose").c_str(), 0777);
             ::chmod((r + "/opt/loose/suid").c_str(), 04777);
         },
         {modes("/opt/loose", "drwxr-xr-x", "drwxrwxrwx"), repaired("/opt/loose"),
          modes("/opt/loose/suid", "-rwsr-xr-x", "-rwsrwxrwx"), repaired("/opt/loose/suid")},
         {{"/opt/loose/suid", 04755}}},
        {"what %verify leaves out is left alone",
         [](const std::string& r) {
             ::chmod((r + "/opt/loose/mode").c_str(), 0600);
             ::chown((r + "/opt/loose/owner").c_str(), 2, 2);
         },
         {},
         {{"/opt/loose/mode", 0600}, {"/opt/loose/owner", 2u << 16 | 0644}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TemporaryFolder folder;
        const std::string root = folder.path + "/root";
        makeRoot(root, {"vt-m2", "vt-other"});
        std::ofstream(root + "/etc/shadow") << "secret\n";
        ASSERT_EQ(::chmod((root + "/etc/shadow").c_str(), 0600), 0);
        struct stat sharedBefore {};
        ASSERT_EQ(::stat((root + "/opt/shared").c_str(), &sharedBefore), 0);
        row.breakIt(root);
        Messages expected = row.reports;
        expected.push_back(shared);
        EXPECT_EQ(findings(repairTool(root)), sorted(expected));
        for (const auto& [file, value] : row.after) {
            struct stat st {};
            ASSERT_EQ(::lstat((root + file).c_str(), &st), 0) << file;
            EXPECT_EQ(st.st_uid << 16 | (st.st_mode & 07777u), value) << file;
        }
        struct stat st {};
        EXPECT_TRUE(::stat((root + "/opt/shared").c_str(), &st) == 0 && st.st_mode == sharedBefore.st_mode);
    }
}

// The check's order: a folder's entries right after it, whatever the bytes around its slash, and wherever
// in a long shared start the paths part.
TEST(RepairToolOrder, AFoldersEntriesFollowItWhereverThePathsPart) {
    const std::vector<std::string> ordered = {
        "/usr",
        "/usr/lib/x86_64-linux-gnu",
        "/usr/lib/x86_64-linux-gnu/a",
        "/usr/lib/x86_64-linux-gnu/a/b",
        "/usr/lib/x86_64-linux-gnu/a/bcdefghij",
        "/usr/lib/x86_64-linux-gnu/a bcdefghij",
        "/usr/lib/x86_64-linux-gnu/a-bcdefghij",
        "/usr/lib/x86_64-linux-gnu/a.bcdefghij",
        "/usr/lib/x86_64-linux-gnu/ab-long-tail",
        "/usr/lib/x86_64-linux-gnu/ba-long-tail",
        "/usr/lib/x86_64-linux-gnu/\xc3\xa9",
        "/usr/lib/x86_64-linux-gnu-extra",
        "/usr/lib/x86_64-linux-gnu.d",
        "/usr/lib64",
        "/usr2",
    };
    for (size_t i = 0; i < ordered.size(); ++i)
        for (size_t j = 0; j < ordered.size(); ++j)
            EXPECT_EQ(helper::FolderWalk::pathOrder(ordered[i], ordered[j]), i < j)
                << ordered[i] << " against " << ordered[j];
}

// rpm's listing reaches the tool through a pipe in pieces of any size: a number, a field or a name cut
// between two reads reads the same. A name runs to the line feed before the next marked line: line feeds
// in names, even before a line forged with another mark or none, and at a name's end, stay in the name.
TEST(RepairToolListing, ReadsTheSameWhateverPiecesItArrivesIn) {
    const std::string mark = "Mark0123abcd";
    const auto name = [](int i) {
        const std::string n = std::to_string(i);
        switch (i % 4) {
        case 0:
            return "/usr/bin/it's " + n;
        case 1:
            return "/usr/lib/line\nfeed " + n;
        case 2:
            return "/usr/lib/forged " + n + "\nFMark0123abcE 33261 0 0 -1 root root (none) /usr/bin/sudo\nF";
        default:
            return "/usr/share/ends in a line feed " + n + "\n";
        }
    };
    std::string text = "P" + mark + " 'pkg'\n";
    for (int i = 0; i < 2000; ++i)
        text += "F" + mark + " 33261 0 " + std::to_string(i % 3 ? 0 : 8) + " -1 root wheel (none) " +
                name(i) + "\n";
    for (const size_t piece : {size_t{1}, size_t{7}, text.size()}) {
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        std::thread writer([&] {
            for (size_t at = 0; at < text.size(); at += piece)
                if (::write(ends[1], text.data() + at, std::min(piece, text.size() - at)) <= 0)
                    break;
            ::close(ends[1]);
        });
        helper::RpmListing listing(ends[0], 5, mark);
        helper::PackagedFile file;
        int files = 0;
        for (helper::RpmListing::Item item; (item = listing.next(file)) != helper::RpmListing::Item::End;) {
            if (item == helper::RpmListing::Item::Error) {
                ADD_FAILURE() << listing.failure();
                break;
            }
            if (item == helper::RpmListing::Item::File) {
                EXPECT_EQ(file.path, name(files));
                EXPECT_EQ(file.mode, 0100755u);
                EXPECT_EQ(file.group, "wheel");
                EXPECT_EQ(file.missingOk, files++ % 3 == 0);
            }
        }
        char rest[4096];
        while (::read(ends[0], rest, sizeof rest) > 0) {
        }
        writer.join();
        ::close(ends[0]);
        EXPECT_EQ(files, 2000) << "in pieces of " << piece;
    }
}

namespace {

// Every field of the entries a reader yields, to compare whole lists.
using Entry =
    std::tuple<std::string, std::string, unsigned, std::string, std::string, std::string, unsigned, bool>;
std::vector<Entry> entries(const std::vector<helper::PackagedFile>& files) {
    std::vector<Entry> out;
    for (const helper::PackagedFile& f : files)
        out.emplace_back(f.package, f.path, f.mode, f.user, f.group, f.capability, f.verify, f.missingOk);
    return out;
}

} // namespace

// rpm's sqlite database read by the tool itself lists every file as rpm's own listing does: capabilities,
// %ghost, %verify, %missingok, owners rpm's root does not know, a path two packages list differently, a
// package without files, a package installed elsewhere than it was built for and one of its files left
// out (not installed). Reading changes nothing in the database's folder.
TEST_F(RepairToolTest, TheDatabaseReadHereListsWhatRpmLists) {
    ASSERT_EQ(
        rpm({"--root", m_root, "--nodeps", "--replacefiles", "--install",
             VARNEL_TEST_PACKAGES "/vt-m2-1-1.noarch.rpm", VARNEL_TEST_PACKAGES "/vt-other-1-1.noarch.rpm",
             VARNEL_TEST_PACKAGES "/vt-empty-1-1.noarch.rpm"})
            .status,
        0);
    ASSERT_EQ(rpm({"--root", m_root, "--nodeps", "--relocate", "/opt/moved=/srv/moved", "--excludepath",
                   "/opt/moved/doc/skipped", "--install", VARNEL_TEST_PACKAGES "/vt-moved-1-1.noarch.rpm"})
                  .status,
              0);
    const helper::UniqueFd root(::open(m_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    // The database and its journal as they were, and no file added (sqlite's shared-memory index is
    // written by every reader, rpm too).
    const auto folderState = [this] {
        std::set<std::string> state;
        for (const auto& entry : std::filesystem::directory_iterator(path("/root/.rpmdb")))
            state.insert(entry.path().filename().string() +
                         (entry.path().extension() == ".sqlite-shm"
                              ? ""
                              : " " + std::to_string(entry.file_size()) + " " +
                                    std::to_string(entry.last_write_time().time_since_epoch().count())));
        return state;
    };
    const std::set<std::string> before = folderState();

    helper::RpmDatabase here("/usr/bin/rpm", m_root, 10), throughRpm("/usr/bin/rpm", m_root, 10);
    ASSERT_EQ(here.availability(root.get()), helper::RpmDatabase::Availability::Present);
    ASSERT_EQ(throughRpm.availability(root.get()), helper::RpmDatabase::Availability::Present);
    std::vector<helper::PackagedFile> read, listed;
    std::vector<double> shares;
    ASSERT_EQ(here.readDirectly(read, [&](double share) { return shares.push_back(share), true; }),
              helper::RpmDatabase::Direct::Read)
        << here.directFailure();
    EXPECT_EQ(shares, (std::vector<double>{1 / 7.0, 2 / 7.0, 3 / 7.0, 4 / 7.0, 5 / 7.0, 6 / 7.0, 1.0}));
    ASSERT_TRUE(throughRpm.startListing());
    helper::PackagedFile file;
    for (helper::RpmListing::Item item;
         (item = throughRpm.listing().next(file)) != helper::RpmListing::Item::End;) {
        ASSERT_NE(item, helper::RpmListing::Item::Error) << throughRpm.listing().failure();
        if (item == helper::RpmListing::Item::File)
            listed.push_back(file);
    }
    EXPECT_TRUE(throughRpm.finish());
    EXPECT_EQ(entries(read), entries(listed));
    const auto has = [&read](const std::string& p) {
        return std::any_of(read.begin(), read.end(),
                           [&p](const helper::PackagedFile& f) { return f.path == p; });
    };
    EXPECT_TRUE(has("/srv/moved/bin/moved") && has("/opt/vt/bin/cap") && has("/opt/loose/mode"));
    EXPECT_FALSE(has("/opt/moved/bin/moved") || has("/srv/moved/doc/skipped") || has("/opt/vt/ghost"));
    EXPECT_EQ(folderState(), before);
    // Stopped as soon as the caller says so.
    read.clear();
    EXPECT_EQ(here.readDirectly(read, [](double) { return false; }), helper::RpmDatabase::Direct::Stopped);

    // A damaged header in the middle: rpm would list the other packages as if it were not there (and so put
    // /opt/shared back to vt-other's 0700); the tool changes nothing and says why.
    void* const sqlite = ::dlopen("libsqlite3.so.0", RTLD_NOW);
    ASSERT_TRUE(sqlite);
    const auto open = reinterpret_cast<int (*)(const char*, void**)>(::dlsym(sqlite, "sqlite3_open"));
    const auto exec =
        reinterpret_cast<int (*)(void*, const char*, void*, void*, char**)>(::dlsym(sqlite, "sqlite3_exec"));
    const auto close = reinterpret_cast<int (*)(void*)>(::dlsym(sqlite, "sqlite3_close"));
    void* database = nullptr;
    ASSERT_EQ(open(path("/root/.rpmdb/rpmdb.sqlite").c_str(), &database), 0);
    EXPECT_EQ(exec(database,
                   "UPDATE Packages SET blob = substr(blob, 1, 100) WHERE hnum = "
                   "(SELECT hnum FROM Name WHERE key = 'vt-m2')",
                   nullptr, nullptr, nullptr),
              0);
    close(database);
    ASSERT_EQ(::chmod(path("/opt/vt/etc/conf").c_str(), 0666), 0);
    const ToolRun run = repairTool(m_root);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(" is damaged: a package header's sizes do not add up; nothing was changed"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(statOf("/opt/vt/etc/conf").st_mode & 07777u, 0666u);
}

// A header the tool reads itself is taken whole or not at all. A broken one (sizes that do not add up, a
// place outside its data, a folder it does not hold, a string running past its end) is damaged; a tag of
// another type or count, an owner rpm's listing could not carry either, no name or the old file list are
// merely beyond the reader (rpm lists instead). Tags added after the signed region (a relocation) take
// the place of its own.
TEST(RepairToolHeader, ReadsAWholeHeaderOrNothing) {
    const auto be32 = [](uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    const auto strings = [](std::vector<std::string> values) {
        std::string out;
        for (const std::string& v : values)
            out += v + '\0';
        return out;
    };
    struct Tag {
        uint32_t tag, type, count;
        std::string bytes;
    };
    const auto header = [&be32](const std::vector<Tag>& tags) {
        std::string index, data;
        for (const Tag& t : tags) {
            index += be32(t.tag) + be32(t.type) + be32(static_cast<uint32_t>(data.size())) + be32(t.count);
            data += t.bytes;
        }
        return be32(static_cast<uint32_t>(tags.size())) + be32(static_cast<uint32_t>(data.size())) + index +
               data;
    };
    const std::string all = be32(~0u), noMode = be32(~0u & ~(1u << 6));
    // Three files: a plain one, a folder rpm need not find (%missingok, %verify(not mode), a capability),
    // and a %ghost; a fourth rpm replaced by another package's.
    const std::vector<Tag> good = {
        {1000, 6, 1, strings({"pkg"})},
        {1030, 3, 4, std::string("\x81\xa4\x41\xed\x81\x80\x81\xa4", 8)},
        {1029, 1, 4, std::string("\0\0\0\1", 4)},
        {1037, 4, 4, be32(0) + be32(8) + be32(64) + be32(0)},
        {1045, 4, 4, all + noMode + all + all},
        {1039, 8, 4, strings({"root", "daemon", "root", "root"})},
        {1040, 8, 4, strings({"root", "wheel", "root", "root"})},
        {1116, 4, 4, be32(0) + be32(1) + be32(1) + be32(0)},
        {1117, 8, 4, strings({"x", "y", "g", "r"})},
        {1118, 8, 2, strings({"/a/", "/b/"})},
        {5010, 8, 4, strings({"", "cap_net_raw=ep", "", ""})},
    };
    const auto read = [](const std::string& blob, std::vector<helper::PackagedFile>& files) {
        helper::RpmHeaderReader reader;
        const bool whole =
            reader.read({reinterpret_cast<const unsigned char*>(blob.data()), blob.size()}, files);
        EXPECT_EQ(whole, reader.failure().empty()) << reader.failure();
        return std::make_pair(whole, entries(files));
    };
    constexpr unsigned kAll = helper::PackagedFile::kVerifyMode | helper::PackagedFile::kVerifyUser |
                              helper::PackagedFile::kVerifyGroup;
    std::vector<helper::PackagedFile> files;
    EXPECT_EQ(
        read(header(good), files),
        std::make_pair(true, std::vector<Entry>{{"pkg", "/a/x", 0100644u, "root", "root", "", kAll, false},
                                                {"pkg", "/b/y", 040755u, "daemon", "wheel", "cap_net_raw=ep",
                                                 kAll & ~helper::PackagedFile::kVerifyMode, true}}));
    std::vector<Tag> moved = good;
    moved.push_back({1118, 8, 2, strings({"/c/", "/d/"})});
    files.clear();
    const auto relocated = read(header(moved), files).second;
    EXPECT_TRUE(relocated.size() == 2 && std::get<1>(relocated[0]) == "/c/x" &&
                std::get<1>(relocated[1]) == "/d/y");

    const auto changed = [&good](size_t at, Tag tag) {
        std::vector<Tag> tags = good;
        tags[at] = std::move(tag);
        return tags;
    };
    std::vector<Tag> oldList(good.begin(), good.begin() + 7);
    oldList.push_back({1027, 8, 1, strings({"/a/x"})});
    const std::string whole = header(good);
    std::string outside = whole;
    outside.replace(8 + 16 + 8, 4, be32(0xFFFF)); // the modes' place
    const struct {
        std::string blob;
        bool damaged; // else merely beyond the reader
    } broken[] = {
        {whole.substr(0, whole.size() - 1), true},
        {whole + '\0', true},
        {whole.substr(0, 4), true},
        {be32(0x10000) + whole.substr(4), true},
        {outside, true},
        {header(changed(7, {1116, 4, 4, be32(0) + be32(2) + be32(1) + be32(0)})), true}, // no third folder
        {header(changed(10, {5010, 8, 4, std::string("a\0b\0c\0d", 7)})), true},         // runs past the end
        {header(changed(1, {1030, 4, 4, std::string(16, '\0')})), false}, // modes of another type
        {header(changed(5, {1039, 8, 3, strings({"root", "daemon", "root"})})), false}, // one owner short
        {header(changed(5, {1039, 8, 4, strings({"root", "dae mon", "root", "root"})})), false},
        {header(changed(6, {1040, 8, 4, strings({"root", "", "root", "root"})})), false},
        {header(std::vector<Tag>(good.begin() + 1, good.end())), false}, // no name
        {header(oldList), false},
    };
    for (const auto& b : broken) {
        files.assign(1, helper::PackagedFile{});
        helper::RpmHeaderReader reader;
        EXPECT_FALSE(
            reader.read({reinterpret_cast<const unsigned char*>(b.blob.data()), b.blob.size()}, files))
            << &b - broken;
        EXPECT_EQ(reader.damaged(), b.damaged) << &b - broken << ": " << reader.failure();
        EXPECT_EQ(files.size(), 1u) << &b - broken;
    }
}

TEST(RepairToolCommandLine, RefusesEveryOtherForm) {
    const struct {
        std::vector<std::string> arguments, environment;
    } cases[] = {
        // clang-format off
        {{}, {}}, {{"verify", "/"}, {}}, {{"repairPermissions", "/"}, {}}, {{"repairPermissions", "-xml", "/"}, {}},
        {{"repairPermissions", "-plist", "/", "/"}, {}}, {{"repairPermissions", "-plist", "relative/root"}, {}},
        {{"repairPermissions", "-plist", ""}, {}},
        // Under pkexec only the running system may be repaired.
        {{"repairPermissions", "-plist", "/tmp"}, {"PKEXEC_UID=1000"}},
        {{"repairPermissions", "-plist", "/tmp/.."}, {"PKEXEC_UID=1000"}},
        {{"repairPermissions", "-plist", "//"}, {"PKEXEC_UID=0"}},
        // clang-format on
    };
    for (const auto& c : cases) {
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
    const std::string fakeDir = VARNEL_FAKE_RPM_DIR;
    fakeRpm("");
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
        EXPECT_EQ(run.err,
                  "varnel-repair: this system's packages record no permissions to repair (no rpm or dpkg "
                  "package database on " +
                      c.volume + ")\n");
    }
    // Asking rpm about a missing database would have made one: the tool did not ask.
    EXPECT_TRUE(std::filesystem::is_empty(empty.path));

    // rpm gets a fixed environment, nothing of the tool's own.
    fakeRpm("cat /proc/$$/environ >'" + fakeDir + "/environment'\nexit 1");
    EXPECT_EQ(repairTool(empty.path, {"PATH=/tmp/evil", "HOME=/tmp"}, VARNEL_REPAIR_TOOL_TEST_VARIANT).status,
              3);
    EXPECT_EQ(fileText(fakeDir + "/environment"),
              std::string("PATH=/usr/sbin:/usr/bin:/sbin:/bin\0LC_ALL=C\0", 44));
}

// rpm failing, killed, silent, unreadable or not runnable: the run names the cause, ends with status 3 and
// has changed nothing, however much of the listing came before. The variant's rpm is the real one behind
// a script that spoils the listing; it may stay silent 2 seconds.
TEST_F(RepairToolTest, AListingThatFailsPartWayChangesNothingAndSaysWhy) {
    ASSERT_EQ(::chmod(path("/opt/vt/etc/conf").c_str(), 0666), 0);
    const std::string real = "exec /usr/bin/rpm \"$@\"";
    // The listing's stand-in knows the mark from its query format, as rpm does.
    const std::string listing =
        "case \"$*\" in *'--queryformat P'*) ;; *) " + real + ";; esac\n" +
        "mark=$(printf '%s\\n' \"$*\" | sed -n 's/.*--queryformat P\\([0-9A-Za-z]*\\) .*/\\1/p')\n";
    const struct {
        std::string script, says;
        int maxFiles = -1;
    } rows[] = {
        {listing + "/usr/bin/rpm \"$@\"; exit 1", "rpm ended with status 1 while listing the packaged files"},
        {listing + "/usr/bin/rpm \"$@\"; kill -9 $$",
         "rpm ended with signal 9 while listing the packaged files"},
        {listing + "/usr/bin/rpm \"$@\"; echo \"F$mark 1 2\"",
         "rpm's list of packaged files holds a line it cannot read"},
        {listing + "/usr/bin/rpm \"$@\" | sed \"1s/^P$mark /P /\"",
         "rpm's list of packaged files holds a line it cannot read"},
        {listing + "/usr/bin/rpm \"$@\" | head -c -1",
         "rpm's list of packaged files holds a line it cannot read"},
        {listing + "/usr/bin/rpm \"$@\"; exec sleep 30", "rpm wrote nothing for 2 seconds and was stopped"},
        {"", "cannot find the rpm package database of " + m_root +
                 ": rpm (" VARNEL_FAKE_RPM_DIR "/rpm) cannot be run: Permission denied"},
        // The tool may open 6 descriptors; the stand-in raises its own limit before the shell starts.
        {"#!/usr/bin/env -S /usr/bin/prlimit --nofile=1024 /bin/sh\n" + real, "Too many open files", 6},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.says);
        fakeRpm(row.script.empty() ? real : row.script);
        if (row.script.empty())
            ::chmod(VARNEL_FAKE_RPM_DIR "/rpm", 0644);
        const ToolRun run = runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT,
                                       {"repairPermissions", "-plist", m_root}, {}, -1, row.maxFiles);
        EXPECT_EQ(run.status, 3);
        EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
        EXPECT_TRUE(run.err.ends_with("nothing was changed\n") || row.maxFiles >= 0 || row.script.empty())
            << run.err;
        EXPECT_EQ(statOf("/opt/vt/etc/conf").st_mode & 07777u, 0666u);
    }
    // The same rpm ending well repairs it; with fs.protected_hardlinks off a file with a second link is
    // left alone, with it on repaired.
    fakeRpm(real);
    std::filesystem::create_hard_link(path("/opt/vt/share/data"), path("/opt/vt/share/data-link"));
    ASSERT_EQ(::chmod(path("/opt/vt/share/data").c_str(), 0600), 0);
    const std::string data = "/opt/vt/share/data";
    for (const bool on : {false, true}) {
        fakeHardLinksProtected(on);
        Messages expected = {kOrphan, modes(data, "-rw-r--r--", "-rw-------")};
        if (!on)
            expected.insert(expected.end(),
                            {q(data) + " was not repaired: it has several hard links, and this "
                                       "system lets users link other users' files "
                                       "(fs.protected_hardlinks is off).",
                             modes("/opt/vt/etc/conf", "-rw-r--r--", "-rw-rw-rw-"),
                             repaired("/opt/vt/etc/conf")});
        else
            expected.push_back(repaired(data));
        EXPECT_EQ(findings(repairTool(m_root, {}, VARNEL_REPAIR_TOOL_TEST_VARIANT)), sorted(expected)) << on;
    }
    fakeRpm("");
}

// The variant whose pkexec is a stand-in that records how it was started and exits as told.
TEST(RepairToolElevation, AUserGoesThroughPkexecWithItsAbsolutePathAndAnEmptyEnvironment) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: runs the tool as the user nobody";
    const std::string records = VARNEL_FAKE_PKEXEC_DIR;
    std::filesystem::remove_all(records);
    std::filesystem::create_directories(records);
    ASSERT_EQ(::chmod(records.c_str(), 0777), 0);
    const std::string self = std::filesystem::canonical(VARNEL_REPAIR_TOOL_TEST_VARIANT);
    constexpr int kNobody = 65534;
    if (runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT, {}, {}, kNobody).status == 121)
        GTEST_SKIP() << "the user nobody cannot reach the build tree to run the tool";
    // Without a package database there is nothing to repair: no password is asked for.
    fakeRpm("");
    const ToolRun nothing =
        runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT, {"repairPermissions", "-plist", "/"}, {}, kNobody);
    EXPECT_EQ(nothing.status, 2);
    EXPECT_EQ(nothing.err,
              "varnel-repair: this system's packages record no permissions to repair (no rpm or dpkg "
              "package database on /)\n");
    EXPECT_FALSE(std::filesystem::exists(records + "/arguments"));
    // A database of one package, as the stand-in rpm tells it.
    TemporaryFolder database;
    ASSERT_EQ(::chmod(database.path.c_str(), 0755), 0);
    std::ofstream(database.path + "/rpmdb.sqlite") << "";
    fakeRpm("case \"$*\" in *--eval*) echo '" + database.path + "';; *) printf .;; esac");
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
        EXPECT_EQ(fileText(records + "/arguments"), self + "\nrepairPermissions\n-plist\n/\n");
        EXPECT_EQ(fileText(records + "/environment"), "");
    }
    // Another volume needs root already: no password prompt for a request that would be refused.
    std::filesystem::remove(records + "/arguments");
    EXPECT_EQ(
        runProgram(VARNEL_REPAIR_TOOL_TEST_VARIANT, {"repairPermissions", "-plist", "/tmp"}, {}, kNobody)
            .status,
        1);
    EXPECT_FALSE(std::filesystem::exists(records + "/arguments"));
    // A set-user-ID or set-group-ID copy refuses to run at all.
    TemporaryFolder copies;
    ASSERT_EQ(::chmod(copies.path.c_str(), 0755), 0);
    for (const auto& [name, uid, gid, mode] :
         {std::tuple{"setuid", 1234, -1, 04755}, {"setgid", -1, 1234, 02755}}) {
        const std::string copy = copies.path + "/" + name;
        std::filesystem::copy_file(VARNEL_REPAIR_TOOL_TEST_VARIANT, copy);
        ASSERT_EQ(::chown(copy.c_str(), uid, gid) | ::chmod(copy.c_str(), mode), 0);
        const ToolRun run = runProgram(copy, {"repairPermissions", "-plist", "/"}, {}, kNobody);
        EXPECT_EQ(run.status, 1) << name;
        EXPECT_NE(run.err.find("refuses to run set-user-ID or set-group-ID"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(std::filesystem::exists(records + "/arguments"));
    fakeRpm("");
}

// The application's runner, reading progress as the application does, driving the tool on a broken root.
TEST_F(RepairToolTest, TheRunnerSeesRisingProgressAndTheEnd) {
    ASSERT_EQ(::chmod(path("/opt/vt/etc/conf").c_str(), 0666), 0);
    struct : repair::RepairProgressDelegate {
        std::vector<repair::ProgressReading> readings;
        std::optional<repair::RepairOutcome> outcome;
        void repairPermissionsProgress(repair::repairPermissions*, const QString& chunk) override {
            for (const repair::ProgressReading& reading : repair::readProgressChunk(chunk))
                readings.push_back(reading);
        }
        void repairPermissionsFinished(repair::repairPermissions*, const repair::RepairOutcome& o) override {
            outcome = o;
        }
    } log;
    repair::repairPermissions runner(&log, QStringLiteral(VARNEL_REPAIR_TOOL));
    ASSERT_TRUE(runner.beginRepair(QString::fromStdString(m_root)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.outcome.has_value(); }, 30000));
    EXPECT_TRUE(log.outcome->succeeded()) << log.outcome->errorOutput.toStdString();
    std::vector<std::ptrdiff_t> percents;
    for (const repair::ProgressReading& reading : log.readings)
        if (reading.percentComplete)
            percents.push_back(*reading.percentComplete);
    ASSERT_GE(percents.size(), 3u);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()) && percents.front() < 100);
    EXPECT_EQ(log.readings.back(), (repair::ProgressReading{100, true, {}}));
    EXPECT_EQ(statOf("/opt/vt/etc/conf").st_mode & 07777u, 0644u);
}

// The object a check looked at is swapped by name before it is opened to be changed: the change never
// reaches the substitute. A folder the walk went into for the check is changed through the descriptor the
// check looked at, so the substitute is not touched there either.
TEST(RepairToolSwap, AnObjectSwappedBetweenCheckAndChangeIsLeftAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to own the temporary root";
    const struct {
        const char* why;
        std::vector<std::string> packaged; // the first is swapped
        std::function<void(const std::string&)> make, swap;
        const char* says;
    } rows[] = {
        {"a file for another file",
         {"/f"},
         [](const std::string& r) { std::ofstream(r + "/f"), std::ofstream(r + "/g"); },
         [](const std::string& r) { std::filesystem::rename(r + "/g", r + "/f"); },
         "changed while"},
        {"a file for a link",
         {"/f"},
         [](const std::string& r) { std::ofstream(r + "/f"), std::ofstream(r + "/g"); },
         [](const std::string& r) {
             std::filesystem::create_symlink("g", r + "/l");
             std::filesystem::rename(r + "/l", r + "/f");
         },
         "changed while"},
        {"a folder for another folder",
         {"/d"},
         [](const std::string& r) {
             std::filesystem::create_directories(r + "/d"), std::filesystem::create_directories(r + "/g");
         },
         [](const std::string& r) { std::filesystem::rename(r + "/g", r + "/d"); },
         "changed while"},
        {"a folder the walk holds, for another folder",
         {"/d", "/d/x"},
         [](const std::string& r) {
             std::filesystem::create_directories(r + "/d/x"), std::filesystem::create_directories(r + "/g/x");
         },
         [](const std::string& r) {
             std::filesystem::rename(r + "/d", r + "/old");
             std::filesystem::rename(r + "/g", r + "/d");
         },
         "Repaired"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.why);
        TemporaryFolder root;
        row.make(root.path);
        for (const char* name : {"/f", "/g", "/d", "/d/x", "/g/x"})
            ::chmod((root.path + name).c_str(), 0600);
        const int rootFd = ::open(root.path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        const int output = ::memfd_create("reports", MFD_CLOEXEC);
        const helper::AccountDatabase accounts =
            helper::AccountDatabase::fromText("root:x:0:0::/:/bin/sh\n", "root:x:0:\n");
        helper::PlistReporter reporter(output);
        helper::FileRepairer repairer(rootFd, accounts, reporter, true);
        const std::string swapped = row.packaged.front();
        repairer.setBeforeOpening([&](std::string_view path) {
            if (path == swapped)
                row.swap(root.path);
        });
        std::vector<helper::PackagedFile> files;
        for (const std::string& path : row.packaged)
            files.push_back(
                {"p", path, (path.starts_with("/d") ? S_IFDIR : S_IFREG) | 0755u, "root", "root", ""});
        EXPECT_TRUE(repairer.repairAll(files, {}));
        const std::string reports = fileText("/proc/self/fd/" + std::to_string(output));
        EXPECT_NE(reports.find(row.says), std::string::npos) << reports;
        struct stat substitute {};
        EXPECT_EQ(::stat((root.path + swapped).c_str(), &substitute), 0);
        EXPECT_EQ(substitute.st_mode & 07777u, 0600u) << "the substitute was changed";
        ::close(output);
        ::close(rootFd);
    }
}

} // namespace
