#include "TestStore.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <random>

namespace {

// The connection string with another database name in its path.
std::string WithDatabase(const std::string &url, const std::string &database) {
    const size_t scheme = url.find("://");
    const size_t path = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    const size_t query = url.find('?', scheme == std::string::npos ? 0 : scheme + 3);
    const std::string head = url.substr(0, std::min(path, query));
    const std::string tail = query == std::string::npos ? "" : url.substr(query);
    return head + "/" + database + tail;
}

// Runs one statement; the error text, or "" on success. Rows go to `rows` when given.
std::string Execute(const std::string &url, const std::string &sql,
                    std::vector<std::vector<std::string>> *rows = nullptr) {
    PGconn *conn = PQconnectdb(url.c_str());
    std::string error;
    if (PQstatus(conn) != CONNECTION_OK) {
        error = PQerrorMessage(conn);
    } else {
        PGresult *result = PQexec(conn, sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            error = PQresultErrorMessage(result);
        for (int r = 0; rows && error.empty() && r < PQntuples(result); ++r) {
            std::vector<std::string> row;
            for (int c = 0; c < PQnfields(result); ++c)
                row.emplace_back(PQgetvalue(result, r, c));
            rows->push_back(std::move(row));
        }
        PQclear(result);
    }
    PQfinish(conn);
    return error;
}

// Databases this program made, dropped when it ends; by folder where a folder asked for one.
struct Databases {
    std::mutex mutex;
    std::vector<std::string> made;
    std::map<std::filesystem::path, std::string> byFolder;
    ~Databases() {
        for (const std::string &name : made)
            Execute(TestPostgresUrl(), "DROP DATABASE IF EXISTS " + name + " WITH (FORCE)");
    }
};
Databases databases;

class PostgresNeeded : public ::testing::Environment {
public:
    void SetUp() override {
        if (TestStoreIsPostgres() && TestPostgresUrl().empty())
            GTEST_SKIP() << "CT_TEST_STORE=postgres needs a PostgreSQL server: set "
                            "CT_TEST_POSTGRES_URL (scripts/test.sh starts one)";
    }
};
[[maybe_unused]] ::testing::Environment *const postgresNeeded =
    ::testing::AddGlobalTestEnvironment(new PostgresNeeded);

}  // namespace

bool TestStoreIsPostgres() {
    const char *store = std::getenv("CT_TEST_STORE");
    return store && std::string(store) == "postgres";
}

std::string TestPostgresUrl() {
    const char *url = std::getenv("CT_TEST_POSTGRES_URL");
    return url ? url : "";
}

std::string NewPostgresDatabase() {
    static std::atomic<int> counter{0};
    const std::string name = "ct_" + std::to_string(getpid()) + "_" + std::to_string(counter++) +
                             "_" + std::to_string(std::random_device()() % 100000);
    const std::string error = Execute(TestPostgresUrl(), "CREATE DATABASE " + name);
    if (!error.empty()) {
        ADD_FAILURE() << "cannot create database " << name << ": " << error;
        return "";
    }
    std::lock_guard guard(databases.mutex);
    databases.made.push_back(name);
    return WithDatabase(TestPostgresUrl(), name);
}

std::string StoreLocation(const std::filesystem::path &folder) {
    if (!TestStoreIsPostgres())
        return (folder / "community.db").string();
    {
        std::lock_guard guard(databases.mutex);
        auto it = databases.byFolder.find(folder);
        if (it != databases.byFolder.end())
            return it->second;
    }
    std::string url = NewPostgresDatabase();
    std::lock_guard guard(databases.mutex);
    databases.byFolder[folder] = url;
    return url;
}

std::vector<std::vector<std::string>> QueryStore(const std::filesystem::path &folder,
                                                 const std::string &sql) {
    std::vector<std::vector<std::string>> rows;
    if (TestStoreIsPostgres()) {
        const std::string error = Execute(StoreLocation(folder), sql, &rows);
        if (!error.empty())
            ADD_FAILURE() << sql << ": " << error;
        return rows;
    }
    const std::filesystem::path db = folder / "community.db";
    sqlite3 *handle = nullptr;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << db;
        sqlite3_close(handle);
        return rows;
    }
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(handle);
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int col = 0; col < sqlite3_column_count(stmt); ++col) {
                const auto *text = sqlite3_column_text(stmt, col);
                row.emplace_back(text ? reinterpret_cast<const char *>(text) : "");
            }
            rows.push_back(std::move(row));
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(handle);
    return rows;
}
