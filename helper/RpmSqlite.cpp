#include "helper/RpmSqlite.h"

#include <dlfcn.h>

namespace helper {

namespace {

// The few entry points of sqlite's C interface used here (stable since 3.7); its header is not needed.
struct Sqlite {
    int (*open)(const char*, void**, int, const char*);
    int (*close)(void*);
    int (*busyTimeout)(void*, int);
    int (*prepare)(void*, const char*, int, void**, const char**);
    int (*step)(void*);
    const void* (*columnBlob)(void*, int);
    int (*columnBytes)(void*, int);
    long long (*columnInt64)(void*, int);
    int (*finalize)(void*);
    const char* (*errorMessage)(void*);
    int (*exec)(void*, const char*, void*, void*, char**);
};

constexpr int kOk = 0, kRow = 100, kDone = 101;
constexpr int kOpenReadOnly = 0x1, kOpenNoMutex = 0x8000;

// The library, loaded once; null when it cannot be had.
const Sqlite* library() {
    static const Sqlite* const loaded = []() -> const Sqlite* {
        void* const handle = ::dlopen("libsqlite3.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return nullptr;
        static Sqlite s;
        const auto find = [handle](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(handle, name));
            return function != nullptr;
        };
        if (!find(s.open, "sqlite3_open_v2") || !find(s.close, "sqlite3_close") ||
            !find(s.busyTimeout, "sqlite3_busy_timeout") || !find(s.prepare, "sqlite3_prepare_v2") ||
            !find(s.step, "sqlite3_step") || !find(s.columnBlob, "sqlite3_column_blob") ||
            !find(s.columnBytes, "sqlite3_column_bytes") || !find(s.columnInt64, "sqlite3_column_int64") ||
            !find(s.finalize, "sqlite3_finalize") || !find(s.errorMessage, "sqlite3_errmsg") ||
            !find(s.exec, "sqlite3_exec"))
            return nullptr;
        return &s;
    }();
    return loaded;
}

// A prepared statement, finalized at the end of the scope.
struct Statement {
    const Sqlite& sqlite;
    void* statement = nullptr;
    ~Statement() {
        if (statement)
            sqlite.finalize(statement);
    }
};

} // namespace

RpmSqlite::~RpmSqlite() {
    if (m_database)
        library()->close(m_database);
}

bool RpmSqlite::fail(const char* doing) {
    m_failure = std::string("cannot ") + doing + " rpm's sqlite database";
    if (m_database)
        m_failure += std::string(": ") + library()->errorMessage(m_database);
    return false;
}

bool RpmSqlite::open(const std::string& file) {
    const Sqlite* const sqlite = library();
    if (!sqlite) {
        m_failure = "the sqlite library cannot be loaded";
        return false;
    }
    // Read-only: it never creates the database, and a write by rpm meanwhile does not change what is read
    // (one read transaction). A writer holding the database a while is waited for, as rpm waits.
    if (sqlite->open(file.c_str(), &m_database, kOpenReadOnly | kOpenNoMutex, nullptr) != kOk)
        return fail("open");
    sqlite->busyTimeout(m_database, 10000);
    // The headers are read once, in order: a small page cache holds the tree's upper pages, which is all
    // that is read again (sqlite's usual 2 MB only adds page faults).
    sqlite->exec(m_database, "PRAGMA cache_size = -256", nullptr, nullptr, nullptr);
    return true;
}

std::optional<long> RpmSqlite::countPackages() {
    if (!m_database)
        return std::nullopt;
    const Sqlite& sqlite = *library();
    Statement count{sqlite};
    if (sqlite.prepare(m_database, "SELECT count(*) FROM Packages", -1, &count.statement, nullptr) != kOk ||
        sqlite.step(count.statement) != kRow)
        return std::nullopt;
    return static_cast<long>(sqlite.columnInt64(count.statement, 0));
}

bool RpmSqlite::forEachHeader(const std::function<bool(std::span<const unsigned char>)>& each) {
    if (!m_database)
        return false;
    const Sqlite& sqlite = *library();
    Statement rows{sqlite};
    if (sqlite.prepare(m_database, "SELECT blob FROM Packages ORDER BY hnum", -1, &rows.statement, nullptr) !=
        kOk)
        return fail("query");
    for (;;) {
        const int step = sqlite.step(rows.statement);
        if (step == kDone)
            return true;
        if (step != kRow)
            return fail("read");
        const auto* const blob = static_cast<const unsigned char*>(sqlite.columnBlob(rows.statement, 0));
        const int size = sqlite.columnBytes(rows.statement, 0);
        if (!each({blob, blob ? static_cast<size_t>(size) : 0}))
            return true;
    }
}

} // namespace helper
