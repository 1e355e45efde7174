// The dpkg backend on temporary roots holding a dpkg database written here and real .deb files built with
// dpkg-deb (tests/helper/make-test-debs), and on hostile archives built with libarchive.
#include "helper/dpkg/AptDownload.h"
#include "helper/dpkg/DebArchive.h"
#include "helper/dpkg/DpkgDatabase.h"

#include <archive.h>
#include <archive_entry.h>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace fs = std::filesystem;
using helper::PackagedFile;
using namespace helper::dpkg;

namespace {

constexpr auto Exact = PackagedFile::Rule::Exact;
constexpr auto Undo = PackagedFile::Rule::UndoDamage;
const std::string kDebs = VARNEL_TEST_DEBS;

// A security.capability attribute: its magic word, then the words that follow, little-endian.
std::string capability(uint32_t magic, std::vector<uint32_t> words) {
    words.insert(words.begin(), magic);
    std::string bytes;
    for (const uint32_t word : words)
        for (int shift = 0; shift < 32; shift += 8)
            bytes += static_cast<char>((word >> shift) & 0xFF);
    return bytes;
}

std::string fileText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const fs::path& file, std::string_view text, mode_t mode = 0644) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    ::chmod(file.c_str(), mode);
}

const char* kStatus = R"(Package: vt-core
Status: install ok installed
Architecture: amd64
Version: 1:1.0-1
Conffiles:
 /etc/vt.conf 0123456789abcdef0123456789abcdef
 /etc/vt-gone.conf 0123456789abcdef0123456789abcdef obsolete

Package: vt-other
Status: hold ok installed
Architecture: all
Version: 2.0

Package: vt-removed
Status: deinstall ok config-files
Architecture: amd64
Version: 1.0

Package: vt-gz
Status: install ok installed
Architecture: amd64
Version: 1.0

Package: vt-ver
Status: install ok installed
Architecture: amd64
Version: 2.0

Package: vt-missing
Status: install ok installed
Architecture: amd64
Version: 1.0

Package: ../../etc
Status: install ok installed
Architecture: amd64
Version: 1.0
)";

// A temporary installation with a dpkg database, merged /usr, and the test packages in apt's cache.
class DpkgRoot : public testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "the archives must be root's, as apt's are";
        char name[] = "/tmp/varnel-dpkg-XXXXXX";
        m_root = ::mkdtemp(name);
        const fs::path info = m_root / "var/lib/dpkg/info";
        fs::create_directories(info);
        fs::create_directories(m_root / "usr/bin");
        fs::create_directory_symlink("usr/bin", m_root / "bin");
        writeFile(m_root / "var/lib/dpkg/status", kStatus);
        writeFile(m_root / "var/lib/dpkg/statoverride", "root crontab 2755 /usr/bin/crontab\n#0 #4242 0750 "
                                                        "/usr/bin/tool\n#99999 root 0755 /usr/bin/suid\n"
                                                        "broken line\n");
        // vt-other moved vt-core's hardlink aside; vt-core's own diversion leaves its own file in place.
        writeFile(m_root / "var/lib/dpkg/diversions",
                  "/usr/lib/vt/hardlink\n/usr/lib/vt/hardlink.distrib\nvt-other\n"
                  "/usr/lib/vt/helper\n/usr/lib/vt/helper.local\nvt-core\n");
        writeFile(m_root / "etc/passwd", "root:x:0:0::/root:/bin/sh\ndaemon:x:1:1::/:/bin/false\n");
        writeFile(m_root / "etc/group",
                  "root:x:0:\ndaemon:x:1:\ncrontab:x:101:\n_ssh:x:102:\nvtgroup:x:4242:\n");
        std::string core = fileText(kDebs + "/vt-core_amd64.list");
        core.erase(core.find("/usr/share/vt/replaced\n"), 23); // another package took it over
        writeFile(info / "vt-core.list", core);
        writeFile(info / "vt-core.postinst", fileText(kDebs + "/vt-core.postinst"), 0755);
        writeFile(info / "vt-other.list", fileText(kDebs + "/vt-other_all.list"));
        writeFile(info / "vt-gz.list", fileText(kDebs + "/vt-gz_amd64.list"));
        writeFile(info / "vt-ver.list", fileText(kDebs + "/vt-ver_amd64.list"));
        fs::create_directories(m_root / "var/cache/apt/archives");
        for (const auto& deb : fs::directory_iterator(kDebs))
            if (deb.path().extension() == ".deb")
                fs::copy_file(deb.path(), m_root / "var/cache/apt/archives" / deb.path().filename());
        m_fd = ::open(m_root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    void TearDown() override {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_root.empty())
            fs::remove_all(m_root);
    }

    DpkgListing read(DpkgOptions options = {}) {
        std::string failure;
        auto listing = readDpkgDatabase(m_fd, options, {}, &failure);
        EXPECT_TRUE(listing) << failure;
        return listing ? *listing : DpkgListing{};
    }

    static std::map<std::pair<std::string, std::string>, std::vector<PackagedFile>>
    byPath(const DpkgListing& l) {
        std::map<std::pair<std::string, std::string>, std::vector<PackagedFile>> out;
        for (const PackagedFile& file : l.files)
            out[{file.package, file.path}].push_back(file);
        return out;
    }

    fs::path m_root;
    int m_fd = -1;
};

struct Expected {
    const char* package;
    std::string path;
    unsigned mode; // 0: no record
    const char* user;
    const char* group;
    PackagedFile::Rule rule;
    bool missingOk;
};

const std::vector<Expected> kRecords = {
    // statoverride wins, names and "#id" forms alike
    {"vt-core", "/usr/bin/crontab", S_IFREG | 02755, "root", "crontab", Exact, false},
    {"vt-core", "/usr/bin/tool", S_IFREG | 0750, "root", "vtgroup", Exact, false},
    // an override whose id the installation cannot name leaves the path out rather than fall back
    {"vt-core", "/usr/bin/suid", 0, "", "", Exact, false},
    // a script names it ("$DPKG_ROOT/usr/bin/agent"), or a folder above it
    {"vt-core", "/usr/bin/agent", S_IFREG | 0755, "root", "root", Undo, false},
    {"vt-core", "/usr/lib/vt/plugins", S_IFDIR | 0755, "root", "root", Undo, false},
    {"vt-core", "/usr/lib/vt/plugins/x", S_IFREG | 0644, "root", "root", Undo, false},
    // under /usr otherwise: exact; the hard link carries what it links to
    {"vt-core", "/usr/lib/vt/hardlink.distrib", S_IFREG | 0700, "root", "root", Exact, false},
    {"vt-core", "/usr/lib/vt/hardlink", 0, "", "", Exact, false},
    {"vt-core", "/usr/lib/vt/helper", S_IFREG | 0700, "root", "root", Exact, false},
    {"vt-core", "/usr/lib/vt/symlink", 0, "", "", Exact, false},
    {"vt-core", "/usr/share/vt/replaced", 0, "", "", Exact, false},
    // merged /usr: the path as listed, never the linked folder itself
    {"vt-core", "/bin/old", S_IFREG | 0755, "root", "root", Exact, false},
    {"vt-core", "/bin", 0, "", "", Exact, false},
    {"vt-core", "/usr", S_IFDIR | 0755, "root", "root", Exact, false},
    // conffile; outside /usr
    {"vt-core", "/etc/vt.conf", S_IFREG | 0644, "root", "root", Undo, true},
    {"vt-core", "/var/lib/vt", S_IFDIR | 0750, "daemon", "daemon", Undo, false},
    {"vt-core", "/", 0, "", "", Exact, false},
    // a path two packages list with different modes: both, for the check to report
    {"vt-core", "/usr/share/vt/shared", S_IFREG | 0644, "root", "root", Exact, false},
    {"vt-other", "/usr/share/vt/shared", S_IFREG | 0600, "root", "root", Exact, false},
    // zstd; names that are markup or not UTF-8, verbatim
    {"vt-other", "/usr/share/odd/<key>End<true>&amp;\"'", S_IFREG | 0644, "root", "root", Exact, false},
    {"vt-other", "/usr/share/odd/bad\377\376name", S_IFREG | 0644, "root", "root", Exact, false},
    // gzip; a group the archive has by number only, named by the installation
    {"vt-gz", "/opt/vt-gz/file", S_IFREG | 0640, "root", "vtgroup", Undo, false},
};

void expectRecords(const std::map<std::pair<std::string, std::string>, std::vector<PackagedFile>>& records) {
    for (const Expected& row : kRecords) {
        SCOPED_TRACE(std::string(row.package) + " " + row.path);
        const auto it = records.find({row.package, row.path});
        if (row.mode == 0) {
            EXPECT_EQ(it, records.end());
            continue;
        }
        ASSERT_NE(it, records.end());
        ASSERT_EQ(it->second.size(), 1u);
        const PackagedFile& file = it->second.front();
        EXPECT_EQ(file.mode, row.mode);
        EXPECT_EQ(file.user, row.user);
        EXPECT_EQ(file.group, row.group);
        EXPECT_EQ(file.rule, row.rule);
        EXPECT_EQ(file.missingOk, row.missingOk);
        EXPECT_EQ(file.verify,
                  PackagedFile::kVerifyMode | PackagedFile::kVerifyUser | PackagedFile::kVerifyGroup);
    }
}

const std::vector<std::string> kNotCompared = {"vt-ver:amd64 2.0", "vt-missing:amd64 1.0"};

TEST_F(DpkgRoot, EveryRuleFromRealArchivesThenFromTheCacheAlone) {
    std::vector<int> percents;
    std::string failure;
    const auto first = readDpkgDatabase(
        m_fd, {}, [&](int percent, std::string_view) { percents.push_back(percent); }, &failure);
    ASSERT_TRUE(first) << failure;
    EXPECT_EQ(first->packages, 5u);
    expectRecords(byPath(*first));
    EXPECT_EQ(first->notCompared, kNotCompared);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(percents.back(), 100);
    const auto mentions = [](const DpkgListing& listing, std::string_view text) {
        return std::count_if(listing.problems.begin(), listing.problems.end(),
                             [&](const std::string& p) { return p.find(text) != std::string::npos; });
    };
    EXPECT_EQ(mentions(*first, "1 installed packages have a name"), 1);
    EXPECT_EQ(mentions(*first, "/usr/bin/suid names an account id (#99999)"), 1);

    // A second run reads no archive: the same records from the cache, in the same order.
    fs::remove_all(m_root / "var/cache/apt/archives");
    DpkgOptions oneThread;
    oneThread.threads = 1;
    const DpkgListing second = read(oneThread);
    ASSERT_EQ(second.files.size(), first->files.size());
    for (size_t i = 0; i < second.files.size(); ++i)
        EXPECT_EQ(second.files[i].path, first->files[i].path);
    expectRecords(byPath(second));
    EXPECT_EQ(second.notCompared, kNotCompared);
}

TEST_F(DpkgRoot, ACacheEntryNotToBelieveIsIgnored) {
    read();
    fs::remove_all(m_root / "var/cache/apt/archives");
    const fs::path entry = m_root / "var/lib/varnel/cache/packages";
    ASSERT_TRUE(fs::exists(entry));
    EXPECT_EQ(fs::status(m_root / "var/lib/varnel/cache").permissions(), fs::perms::owner_all);
    const std::string good = fileText(entry);
    const auto edited = [&](std::string_view from, std::string_view to) {
        std::string bad = good;
        bad.replace(bad.find(from), from.size(), to);
        writeFile(entry, bad, 0600);
    };
    struct Row {
        const char* name;
        std::function<void()> spoil;
        bool othersStand; // vt-core's record, before vt-gz's in the file
    };
    const std::vector<Row> rows = {
        {"cut short", [&] { writeFile(entry, good.substr(0, good.size() - 3), 0600); }, true},
        {"another version inside",
         [&] {
             edited(std::string("vt-gz\0001.0\0", 10), {"vt-gz\0001.1\0", 10});
         },
         true},
        {"another kind inside",
         [&] {
             edited(std::string("cache\0vt-gz", 11), {"recpt\0vt-gz", 11});
         },
         true},
        {"a length past the end",
         [&] {
             edited(std::string("\0cache\0vt-gz", 12), {"9\0cache\0vt-gz", 13});
         },
         true},
        {"someone else's", [&] { writeFile(entry, good, 0600), ::chown(entry.c_str(), 1000, 1000); }, false},
        {"readable by others", [&] { writeFile(entry, good, 0644); }, false},
        {"in a folder someone else owns",
         [&] { writeFile(entry, good, 0600), ::chown(entry.parent_path().c_str(), 1000, 0); }, false},
        {"a link to a good one",
         [&] { writeFile(entry.string() + ".good", good, 0600), fs::create_symlink("packages.good", entry); },
         false},
        {"a mode the archive cannot hold", [&] { edited("100640", "160640"); }, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(entry);
        ASSERT_EQ(::chown(entry.parent_path().c_str(), 0, 0), 0);
        row.spoil();
        const DpkgListing listing = read();
        const auto compared = [&](const char* package) {
            return std::find(listing.notCompared.begin(), listing.notCompared.end(), package) ==
                   listing.notCompared.end();
        };
        EXPECT_FALSE(compared("vt-gz:amd64 1.0"));
        EXPECT_FALSE(byPath(listing).count({"vt-gz", "/opt/vt-gz/file"}));
        EXPECT_EQ(compared("vt-core:amd64 1:1.0-1"), row.othersStand);
    }
}

TEST_F(DpkgRoot, AReceiptWinsOnlyForPackagesConfiguredSinceTheLastRecording) {
    fs::create_directories(m_root / "opt/vt-gz");
    fs::create_directories(m_root / "usr/share/vt");
    // As a maintainer script left them: a folder its group may write, so what is inside is not recorded.
    writeFile(m_root / "opt/vt-gz/file", "x", 0604);
    ASSERT_EQ(::chown((m_root / "opt/vt-gz").c_str(), 0, 4242), 0);
    ::chmod((m_root / "opt/vt-gz").c_str(), 0775);
    writeFile(m_root / "usr/share/vt/shared", "x", 0640);
    // A capability a maintainer script gave (cap_net_raw, effective and permitted).
    writeFile(m_root / "usr/lib/vt-gz/helper", "x", 0750);
    const std::string netRaw = capability(0x02000001u, {1u << 13, 0, 0, 0});
    ASSERT_EQ(::setxattr((m_root / "usr/lib/vt-gz/helper").c_str(), "security.capability", netRaw.data(),
                         netRaw.size(), 0),
              0);
    const std::string before = "2026-01-01 10:00:00 status installed vt-gz:amd64 0.9\n";
    writeFile(m_root / "var/log/dpkg.log", before);
    std::vector<std::string> recorded;
    std::string failure;
    ASSERT_TRUE(recordPermissions(m_fd, recorded, failure)) << failure;
    EXPECT_TRUE(recorded.empty()) << "the first recording takes nothing for the truth";
    // Receipts of another version (to go), and of another package and another architecture (to stay).
    const fs::path receipts = m_root / "var/lib/varnel/receipts";
    for (const char* name : {"vt-gz_0.9_amd64", "vt-gz-tools_0.9_amd64", "vt-gz_0.9_i386"})
        writeFile(receipts / name, "x", 0600);

    writeFile(m_root / "var/log/dpkg.log",
              before + "2026-01-02 10:00:00 status unpacked vt-other:all 2.0\n"
                       "2026-01-02 10:00:01 status installed vt-gz:amd64 1.0\n"
                       "2026-01-02 10:00:02 status installed vt-core:amd64 1:0.9-1\n"
                       "2026-01-02 10:00:03 status half-configured vt-other:all 2.0\n");
    ASSERT_TRUE(recordPermissions(m_fd, recorded, failure)) << failure;
    EXPECT_EQ(recorded, std::vector<std::string>{"vt-gz:amd64"});
    EXPECT_FALSE(fs::exists(receipts / "vt-gz_0.9_amd64"));
    EXPECT_TRUE(fs::exists(receipts / "vt-gz-tools_0.9_amd64") && fs::exists(receipts / "vt-gz_0.9_i386"));
    ASSERT_TRUE(recordPermissions(m_fd, recorded, failure)) << failure;
    EXPECT_TRUE(recorded.empty()) << "nothing configured since";

    const auto records = byPath(read());
    const PackagedFile& folder = records.at({"vt-gz", "/opt/vt-gz"}).front();
    EXPECT_EQ(folder.mode, S_IFDIR | 0775u);
    EXPECT_EQ(folder.group, "vtgroup");
    EXPECT_EQ(folder.rule, Exact);
    const PackagedFile& file = records.at({"vt-gz", "/opt/vt-gz/file"}).front(); // data.tar's, as before
    EXPECT_EQ(file.mode, S_IFREG | 0640u);
    EXPECT_EQ(file.rule, Undo);
    EXPECT_EQ(records.at({"vt-other", "/usr/share/vt/shared"}).front().mode, S_IFREG | 0600u);
    const PackagedFile& helper = records.at({"vt-gz", "/usr/lib/vt-gz/helper"}).front();
    EXPECT_EQ(helper.mode, S_IFREG | 0750u);
    EXPECT_EQ(helper.capability, "cap_net_raw=ep");
    EXPECT_EQ(helper.rule, Exact);
}

TEST(DpkgText, CapabilityAttributesAsText) {
    const struct {
        std::string attribute;
        std::optional<std::string> text;
    } rows[] = {
        {capability(0x02000001u, {1u << 13, 0, 0, 0}), "cap_net_raw=ep"},
        {capability(0x01000000u, {1u << 12 | 1u << 13, 1u << 13}), "cap_net_admin=p cap_net_raw=ip"},
        {capability(0x02000001u, {0, 0, 1u << 8, 1u << 9}), "cap_checkpoint_restore=ep 41=ei"},
        {capability(0x02000000u, {0, 0, 0, 0}), ""},
        {capability(0x03000001u, {1u, 0, 0, 0, 0}), "cap_chown=ep"},
        {capability(0x03000001u, {1u, 0, 0, 0, 1000}), std::nullopt}, // another user namespace's
        {capability(0x02000001u, {1u, 0, 0}), std::nullopt},          // cut short
        {capability(0x04000000u, {1u, 0, 0, 0}), std::nullopt},       // an unknown revision
        {capability(0x02000003u, {1u, 0, 0, 0}), std::nullopt},       // an unknown flag
    };
    for (const auto& row : rows)
        EXPECT_EQ(capabilityText(row.attribute), row.text) << row.text.value_or("(none)");
}

TEST_F(DpkgRoot, AptFetchesExactlyTheInstalledVersionOrSaysWhyNot) {
    fs::remove(m_root / "var/cache/apt/archives/vt-gz_1.0_amd64.deb");
    const std::string debs = kDebs + "/";
    struct Row {
        const char* name;
        std::string script; // what the stand-in apt-get does when asked for vt-gz:amd64=1.0, in its folder
        const char* problem;
    };
    const std::vector<Row> rows = {
        {"the right archive", "cp " + debs + "vt-gz_1.0_amd64.deb .", nullptr},
        {"fails", "echo 'E: apt says why' >&2; exit 100",
         "apt-get could not download this version (status 100)"},
        {"hangs, its output closed, a child running", "exec >/dev/null; sleep 60; exit 0",
         "did not finish within the time for downloads (2 s)"},
        {"another version under the name", "cp " + debs + "vt-ver_1.0_amd64.deb vt-gz_1.0_amd64.deb",
         "fetched is vt-ver:amd64 1.0, not this version"},
        {"a link", "ln -s " + debs + "vt-gz_1.0_amd64.deb .", "left no archive named vt-gz_1.0_amd64.deb"},
    };
    const fs::path aptGet = m_root / "apt-get";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // A fixed environment, a root-only folder of its own, and exactly the version installed.
        writeFile(aptGet,
                  "#!/bin/sh\n[ -z \"$HOME\" ] && [ \"$(stat -c %a .)\" = 700 ] || exit 4\n"
                  "[ \"$4 $5\" = \"download vt-gz:amd64=1.0\" ] || exit 3\n" +
                      row.script + "\n",
                  0755);
        AptDownloader apt({aptGet, std::chrono::seconds(2)});
        DpkgOptions options;
        options.fetchArchive = [&](const InstalledPackage& package, std::string& problem) {
            return apt.fetch(package, problem);
        };
        const auto start = std::chrono::steady_clock::now();
        // apt's own complaints stay out of the tool's standard error: the tool says why in its words.
        const int err = ::dup(STDERR_FILENO), captured = ::memfd_create("err", MFD_CLOEXEC);
        ::dup2(captured, STDERR_FILENO);
        const DpkgListing listing = read(options);
        ::dup2(err, STDERR_FILENO);
        ::close(err);
        EXPECT_EQ(fileText("/proc/self/fd/" + std::to_string(captured)).find("apt says why"),
                  std::string::npos);
        ::close(captured);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
        const bool compared = !row.problem;
        EXPECT_EQ(byPath(listing).count({"vt-gz", "/opt/vt-gz/file"}), compared ? 1u : 0u);
        EXPECT_EQ(std::count(listing.notCompared.begin(), listing.notCompared.end(), "vt-gz:amd64 1.0"),
                  compared ? 0 : 1);
        const auto problem =
            std::find_if(listing.problems.begin(), listing.problems.end(),
                         [](const std::string& p) { return p.rfind("vt-gz:amd64 1.0: ", 0) == 0; });
        if (row.problem) {
            ASSERT_NE(problem, listing.problems.end());
            EXPECT_NE(problem->find(row.problem), std::string::npos) << *problem;
        } else {
            EXPECT_EQ(problem, listing.problems.end()) << *problem;
        }
        EXPECT_TRUE(std::any_of(listing.problems.begin(), listing.problems.end(), [](const std::string& p) {
            return p.find("vt-missing:amd64 1.0: apt-get could not download this version (status 3)") == 0;
        }));
        fs::remove_all(m_root / "var/lib/varnel"); // the next row finds no cache
    }
}

// A .deb written here: debian-binary, any extra members, then a plain data.tar of `members`.
struct Member {
    Member(std::string p, unsigned t = AE_IFREG, std::string h = {})
        : path(std::move(p))
        , type(t)
        , hardlink(std::move(h)) {}
    std::string path;
    unsigned type;
    std::string hardlink;
};

std::string makeDeb(const std::vector<Member>& members, int extraMembers = 0, bool debianBinaryFirst = true) {
    std::string tar(1u << 20, '\0');
    size_t used = 0;
    archive* writer = archive_write_new();
    archive_write_set_format_pax_restricted(writer);
    archive_write_open_memory(writer, tar.data(), tar.size(), &used);
    for (const Member& member : members) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, member.path.c_str());
        archive_entry_set_filetype(entry, member.type);
        archive_entry_set_perm(entry, 0644);
        if (!member.hardlink.empty())
            archive_entry_set_hardlink(entry, member.hardlink.c_str());
        archive_write_header(writer, entry);
        archive_entry_free(entry);
    }
    archive_write_free(writer);
    tar.resize(used);

    std::string deb(2u << 20, '\0');
    writer = archive_write_new();
    archive_write_set_format_ar_bsd(writer);
    archive_write_open_memory(writer, deb.data(), deb.size(), &used);
    std::vector<std::pair<std::string, std::string>> outer;
    if (debianBinaryFirst)
        outer.emplace_back("debian-binary", "2.0\n");
    for (int i = 0; i < extraMembers; ++i)
        outer.emplace_back("_extra" + std::to_string(i), "x");
    outer.emplace_back("data.tar", tar);
    for (const auto& [name, content] : outer) {
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
        archive_write_header(writer, entry);
        archive_write_data(writer, content.data(), content.size());
        archive_entry_free(entry);
    }
    archive_write_free(writer);
    deb.resize(used);
    return deb;
}

bool readBytes(const std::string& bytes, std::vector<DebEntry>& entries, std::string& error,
               size_t maxEntries = 1000) {
    DebLimits limits;
    limits.maxEntries = maxEntries;
    char name[] = "/tmp/varnel-deb-XXXXXX";
    const int fd = ::mkstemp(name);
    ::unlink(name);
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::lseek(fd, 0, SEEK_SET);
    const bool ok = readDebEntries(fd, limits, entries, error);
    ::close(fd);
    return ok;
}

TEST(DebArchive, HostileArchivesAreRefusedWhole) {
    std::vector<Member> many;
    for (int i = 0; i < 101; ++i)
        many.push_back({"./f" + std::to_string(i)});
    const std::string real = fileText(kDebs + "/vt-core_1%3a1.0-1_amd64.deb");
    struct Row {
        const char* name;
        std::string bytes;
        const char* error;
    };
    const std::vector<Row> rows = {
        {"climbs out", makeDeb({{"./usr/"}, {"./usr/../../etc/shadow"}}), "outside the installation"},
        {"absolute", makeDeb({{"/etc/shadow"}}), "outside the installation"},
        {"hard link to nothing before", makeDeb({{"./a", AE_IFREG, "./b"}, {"./b"}}), "does not hold before"},
        {"hard link out", makeDeb({{"./a", AE_IFREG, "../../etc/shadow"}}), "does not hold before"},
        {"truncated", real.substr(0, real.size() / 2), "data.tar"},
        {"too many members", makeDeb({{"./a"}}, 70), "more than 64 members"},
        {"too many entries", makeDeb(many), "more than 100 entries"},
        {"not a package", makeDeb({{"./a"}}, 0, false), "not a Debian package"},
        {"not an archive", "nonsense", "not a Debian package"},
        {"no data.tar", "!<arch>\n", "no data.tar"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<DebEntry> entries;
        std::string error;
        EXPECT_FALSE(readBytes(row.bytes, entries, error, 100));
        EXPECT_NE(error.find(row.error), std::string::npos) << error;
        EXPECT_TRUE(entries.empty());
    }
    std::vector<DebEntry> entries;
    std::string error;
    ASSERT_TRUE(readBytes(makeDeb({{"."}, {"./a//b/./c"}, {"d", AE_IFREG, "./a/b/c"}}), entries, error))
        << error;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].path, "/a/b/c");
    EXPECT_EQ(entries[1].path, "/d");
}

TEST_F(DpkgRoot, AHostileArchiveInTheCacheLeavesItsPackageUncompared) {
    const std::string deb = makeDeb({{"./usr/"}, {"./usr/../etc/shadow"}});
    writeFile(m_root / "var/cache/apt/archives/vt-missing_1.0_amd64.deb", deb);
    const fs::path ver = m_root / "var/cache/apt/archives/vt-ver_2.0_amd64.deb";
    fs::copy_file(m_root / "var/cache/apt/archives/vt-ver_1.0_amd64.deb", ver); // good, but not root's alone:
    for (const auto& [mode, owner] : {std::pair{0666, 0}, std::pair{0644, 1000}}) {
        ::chmod(ver.c_str(), static_cast<mode_t>(mode));
        ASSERT_EQ(::chown(ver.c_str(), static_cast<uid_t>(owner), 0), 0);
        const DpkgListing listing = read();
        EXPECT_EQ(listing.notCompared, kNotCompared);
        const auto has = [&](std::string_view text) {
            return std::any_of(listing.problems.begin(), listing.problems.end(),
                               [&](const std::string& p) { return p.find(text) != std::string::npos; });
        };
        EXPECT_TRUE(has("vt-missing:amd64 1.0: its archive was not used"));
        EXPECT_TRUE(has("vt-ver_2.0_amd64.deb is not root's alone"));
    }
}

// The tool itself on a dpkg root holding vt-core's files as dpkg unpacked them: each rule puts back what it
// should and no more, and a recording answers.
TEST_F(DpkgRoot, TheToolRepairsADpkgInstallationByEachRule) {
    const std::string deb = kDebs + "/vt-core_1%3a1.0-1_amd64.deb";
    ASSERT_EQ(std::system(("dpkg-deb --fsys-tarfile '" + deb + "' | tar -x --same-owner --numeric-owner " +
                           "--keep-directory-symlink -C '" + m_root.string() + "'")
                              .c_str()),
              0);
    const auto stat = [&](const char* path) {
        struct stat st {};
        EXPECT_EQ(::lstat((m_root / path).c_str(), &st), 0) << path;
        return std::tuple{st.st_uid, st.st_gid, st.st_mode & 07777};
    };
    const struct {
        const char* path;
        std::tuple<uid_t, gid_t, unsigned> damaged, repaired;
    } rows[] = {
        // statoverride: exactly its values, whatever data.tar says
        {"usr/bin/tool", {0, 0, 0777}, {0, 4242, 0750}},
        // under /usr, named by no script: data.tar's values both ways
        {"usr/lib/vt/helper", {0, 0, 0755}, {0, 0, 0700}},
        // a conffile: a login account loses it, bits it gained go; nothing is widened
        {"etc/vt.conf", {1000, 0, 0666}, {0, 0, 0644}},
        {"usr/lib/vt/plugins/x", {0, 0, 0600}, {0, 0, 0600}}, // a script names it: only damage undone
    };
    for (const auto& row : rows) {
        const auto [uid, gid, mode] = row.damaged;
        ASSERT_EQ(::lchown((m_root / row.path).c_str(), uid, gid), 0);
        ASSERT_EQ(::chmod((m_root / row.path).c_str(), mode), 0);
    }
    const auto tool = [&](const char* verb) {
        return std::system(
            (std::string(VARNEL_REPAIR_TOOL) + " " + verb + " -plist '" + m_root.string() + "' >/dev/null")
                .c_str());
    };
    ASSERT_EQ(tool("repairPermissions"), 0);
    for (const auto& row : rows)
        EXPECT_EQ(stat(row.path), row.repaired) << row.path;
    // The first recording records where dpkg's log ends, and nothing else.
    writeFile(m_root / "var/log/dpkg.log", "2026-12-01 10:00:00 status installed vt-core:amd64 1:1.0-1\n");
    EXPECT_EQ(tool("recordPermissions"), 0);
    for (const auto& entry : fs::directory_iterator(m_root / "var/lib/varnel/receipts"))
        EXPECT_EQ(entry.path().filename(), "dpkg-log-position");
}

// A check of the same installation changes nothing (not even this tool's metadata cache appears) and
// names, line for line, the paths the repair then changes.
TEST_F(DpkgRoot, ACheckChangesNothingAndNamesWhatTheRepairChanges) {
    const std::string deb = kDebs + "/vt-core_1%3a1.0-1_amd64.deb";
    ASSERT_EQ(std::system(("dpkg-deb --fsys-tarfile '" + deb + "' | tar -x --same-owner --numeric-owner " +
                           "--keep-directory-symlink -C '" + m_root.string() + "'")
                              .c_str()),
              0);
    for (const auto& [path, uid, mode] : {std::tuple{"usr/bin/tool", 0, 0777},
                                          {"usr/lib/vt/helper", 0, 0755},
                                          {"etc/vt.conf", 1000, 0666},
                                          {"usr/lib/vt/plugins/x", 0, 0600}}) {
        ASSERT_EQ(::lchown((m_root / path).c_str(), uid, 0), 0);
        ASSERT_EQ(::chmod((m_root / path).c_str(), mode), 0);
    }
    const auto snapshot = [&] {
        std::map<std::string, std::string> out;
        for (const auto& entry : fs::recursive_directory_iterator(m_root)) {
            struct stat st {};
            ::lstat(entry.path().c_str(), &st);
            out[entry.path()] = std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " +
                                std::to_string(st.st_mode) + " " + std::to_string(st.st_ctim.tv_nsec);
        }
        return out;
    };
    // The tool's JSON lines of one type, as "type path" (these paths need no escapes), and its status.
    const auto tool = [&](const char* verb, const char* type, int& status) {
        FILE* out = ::popen(
            (std::string(VARNEL_REPAIR_TOOL) + " " + verb + " --json '" + m_root.string() + "'").c_str(),
            "r");
        std::set<std::string> lines;
        char line[8192];
        const std::string prefix = std::string("{\"type\":\"") + type + "\",\"path\":\"";
        while (out && std::fgets(line, sizeof line, out))
            if (std::string_view(line).starts_with(prefix))
                lines.insert(std::string(line + prefix.size(), std::strchr(line + prefix.size(), '"')));
        const int ended = out ? ::pclose(out) : -1;
        status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
        return lines;
    };
    const auto before = snapshot();
    int status = -1;
    const std::set<std::string> wouldRepair = tool("check", "would-repair", status);
    EXPECT_EQ(status, 5);
    EXPECT_EQ(snapshot(), before);
    // statoverride's crontab too: the unpacked archive left it as data.tar has it.
    EXPECT_EQ(wouldRepair, (std::set<std::string>{"/usr/bin/tool", "/usr/lib/vt/helper", "/etc/vt.conf",
                                                  "/usr/bin/crontab"}));
    EXPECT_EQ(tool("repair", "repair", status), wouldRepair);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(fs::exists(m_root / "var/lib/varnel/cache")); // the repair may keep what it read
    // What is left differs (a script names plugins/x, so the bits it lost are not added): 5, and nothing
    // for a repair to do.
    EXPECT_EQ(tool("check", "would-repair", status), std::set<std::string>{});
    EXPECT_EQ(status, 5);
}

} // namespace
