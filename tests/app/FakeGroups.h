#pragma once

#include "app/GroupDatabase.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A group database of the test's own: group name -> member names, and a login name or none. The groups
// are numbered from 100 in name order; the accounts are alex (1000, primary group 1000) and bob (1001),
// and the process runs as realUser.
class FakeGroups : public app::GroupDatabase {
public:
    using Groups = std::map<std::string, std::vector<const char*>>;
    FakeGroups(Groups groups, const char* login, uid_t realUser = 1000, gid_t primaryGroup = 1000)
        : m_groups(std::move(groups))
        , m_login(login)
        , m_realUser(realUser)
        , m_primaryGroup(primaryGroup) {
        for (auto& [name, members] : m_groups)
            members.push_back(nullptr);
    }
    const char* const* membersOf(const char* group) const override {
        const auto it = m_groups.find(group);
        return it == m_groups.end() ? nullptr : it->second.data();
    }
    std::optional<gid_t> groupId(const char* group) const override {
        const auto it = m_groups.find(group);
        if (it == m_groups.end())
            return std::nullopt;
        return static_cast<gid_t>(100 + std::distance(m_groups.begin(), it));
    }
    const char* loginName() const override { return m_login; }
    uid_t realUserId() const override { return m_realUser; }
    std::optional<Account> account(uid_t user) const override {
        if (user == 1000)
            return Account{"alex", m_primaryGroup};
        if (user == 1001)
            return Account{"bob", 1001};
        return std::nullopt;
    }
    std::optional<uid_t> userId(const char* name) const override {
        if (std::string_view(name) == "alex")
            return 1000;
        if (std::string_view(name) == "bob")
            return 1001;
        return std::nullopt;
    }
    static std::unique_ptr<FakeGroups> admin() {
        return std::make_unique<FakeGroups>(Groups{{"sudo", {"alex"}}}, "alex");
    }

private:
    Groups m_groups;
    const char* m_login;
    uid_t m_realUser;
    gid_t m_primaryGroup;
};
