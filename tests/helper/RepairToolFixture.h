#pragma once

#include "plist/PropertyList.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

// How one run of a program ended, and what the repair tool's output says.
struct ToolRun {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out, err;
    std::vector<plist::Value> lists; // every property list on standard output, in order

    std::vector<std::string> messages() const;
    std::vector<double> percents() const;
    // Exactly one list says "End", and it is the last, with "PercentComplete" 100.
    bool endsOnce() const;
};

// Runs `program` with `environment` (and the sanitizers' settings, if any), as `user` when one is given
// (uid and gid), and waits. Status 120: it could not become the user; 121: the program could not start.
ToolRun runProgram(const std::string& program, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& environment = {}, int user = -1);
// The repair tool on a volume, with an environment of `environment` alone.
ToolRun repairTool(const std::string& volume, const std::vector<std::string>& environment = {},
                   const std::string& tool = VARNEL_REPAIR_TOOL);

// rpm as the tool runs it: the same fixed path and the same environment.
ToolRun rpm(const std::vector<std::string>& arguments);

// A temporary folder of its own, removed at the end of the scope.
struct TemporaryFolder {
    TemporaryFolder();
    ~TemporaryFolder();
    std::string path;
};

// A temporary root holding the three test packages, with its own etc/passwd and etc/group (daemon is 2
// there, wheel 10). Changing owners needs root, and so does installing: the tests skip without it.
class RepairToolTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    std::string path(const std::string& inRoot) const { return m_root + inRoot; }
    struct stat statOf(const std::string& inRoot) const;
    std::string contentOf(const std::string& inRoot) const;

    std::unique_ptr<TemporaryFolder> m_folder;
    std::string m_dir;  // a temporary folder holding the root and whatever a test puts beside it
    std::string m_root; // m_dir + "/root"
};
