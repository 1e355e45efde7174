#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

namespace helper {

// rpm's sqlite database read in this process, read-only, through the system's sqlite library, loaded when
// first needed: the tool does not depend on it, and where it is missing rpm reads the database instead.
class RpmSqlite {
public:
    RpmSqlite() = default;
    RpmSqlite(const RpmSqlite&) = delete;
    RpmSqlite& operator=(const RpmSqlite&) = delete;
    ~RpmSqlite();

    // False when the library cannot be loaded or `file` cannot be opened as a database; failure() says why.
    bool open(const std::string& file);
    // How many packages the database holds; none when it cannot be told.
    std::optional<long> countPackages();
    // Gives `each` every package's header, in the order rpm lists them, until it returns false. False when
    // the database could not be read to its end; failure() says why.
    bool forEachHeader(const std::function<bool(std::span<const unsigned char>)>& each);
    const std::string& failure() const { return m_failure; }

private:
    bool fail(const char* doing);

    void* m_database = nullptr; // sqlite's connection, once open() loaded the library
    std::string m_failure;
};

} // namespace helper
