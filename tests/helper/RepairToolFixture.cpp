#include "RepairToolFixture.h"

#include <QString>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string readBack(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t n;
    off_t offset = 0;
    while ((n = ::pread(fd, buffer, sizeof buffer, offset)) > 0) {
        text.append(buffer, static_cast<size_t>(n));
        offset += n;
    }
    return text;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings)
        out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

} // namespace

std::vector<std::string> ToolRun::messages() const {
    std::vector<std::string> out;
    for (const plist::Value& list : lists)
        if (const plist::Value* message = list.find(u"Message"))
            out.push_back(message->text().toStdString());
    return out;
}

std::vector<double> ToolRun::percents() const {
    std::vector<double> out;
    for (const plist::Value& list : lists)
        if (const plist::Value* percent = list.find(u"PercentComplete"))
            out.push_back(percent->real());
    return out;
}

bool ToolRun::endsOnce() const {
    int ends = 0;
    for (const plist::Value& list : lists)
        if (const plist::Value* end = list.find(u"End"))
            ends += end->boolean();
    const plist::Value* last = lists.empty() ? nullptr : lists.back().find(u"End");
    const plist::Value* percent = lists.empty() ? nullptr : lists.back().find(u"PercentComplete");
    return ends == 1 && last && last->boolean() && percent && percent->real() == 100;
}

ToolRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment, int user) {
    const int out = ::memfd_create("out", MFD_CLOEXEC), err = ::memfd_create("err", MFD_CLOEXEC);
    std::vector<std::string> argv = arguments, envp = environment;
    argv.insert(argv.begin(), program);
    // The sanitizers' settings of the asan build reach the tool it built.
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            envp.push_back(std::string(name) + "=" + value);
    std::vector<char*> args = pointers(argv), env = pointers(envp);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (user >= 0 && (::setgroups(0, nullptr) != 0 || ::setgid(user) != 0 || ::setuid(user) != 0))
            ::_exit(120);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::execve(program.c_str(), args.data(), env.data());
        ::_exit(121);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    ToolRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = readBack(out);
    run.err = readBack(err);
    ::close(out);
    ::close(err);
    run.lists = plist::parseAll(QString::fromUtf8(run.out));
    return run;
}

ToolRun repairTool(const std::string& volume, const std::vector<std::string>& environment,
                   const std::string& tool) {
    return runProgram(tool, {"repairPermissions", "-plist", volume}, environment);
}

ToolRun rpm(const std::vector<std::string>& arguments) {
    return runProgram("/usr/bin/rpm", arguments, {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LC_ALL=C"});
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = std::filesystem::temp_directory_path() / "varnel-helper-XXXXXX";
    if (::mkdtemp(pattern.data()))
        path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    if (!path.empty())
        std::filesystem::remove_all(path, ignored); // removes links, never what they point at
}

void RepairToolTest::SetUp() {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root: installs packages into a temporary root and changes owners";
    m_folder = std::make_unique<TemporaryFolder>();
    m_dir = m_folder->path;
    ASSERT_FALSE(m_dir.empty());
    m_root = m_dir + "/root";
    std::filesystem::create_directories(m_root + "/etc");
    std::ofstream(m_root + "/etc/passwd") << "root:x:0:0:root:/root:/bin/sh\n# a comment\n"
                                             "daemon:x:2:2:daemon:/:/usr/sbin/nologin\n";
    std::ofstream(m_root + "/etc/group") << "root:x:0:\ndaemon:x:2:\nwheel:x:10:\n";
    std::vector<std::string> install = {"--root", m_root, "--nodeps", "--install"};
    for (const char* package : {"vt", "vt-names", "vt-victim"})
        install.push_back(std::string(VARNEL_TEST_PACKAGES) + "/" + package + "-1-1.noarch.rpm");
    const ToolRun installed = rpm(install);
    ASSERT_EQ(installed.status, 0) << installed.err;
}

void RepairToolTest::TearDown() {
    m_folder.reset();
}

struct stat RepairToolTest::statOf(const std::string& inRoot) const {
    struct stat st {};
    EXPECT_EQ(::lstat(path(inRoot).c_str(), &st), 0) << inRoot;
    return st;
}

std::string RepairToolTest::contentOf(const std::string& inRoot) const {
    std::ifstream file(path(inRoot), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
