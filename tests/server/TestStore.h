// The store of a test server: a SQLite file in the test's folder, or, when CT_TEST_STORE is
// "postgres", a database of its own on the PostgreSQL server that CT_TEST_POSTGRES_URL names
// (scripts/test.sh starts one). Without that URL every test of such a run is skipped.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

// CT_TEST_POSTGRES_URL, or "" when it is not set.
std::string TestPostgresUrl();
// Whether test servers keep their stores on PostgreSQL.
bool TestStoreIsPostgres();
// A new, empty database on that server, dropped when the test program ends: its connection
// string. Fails the test and returns "" when it cannot be made.
std::string NewPostgresDatabase();
// The --db of a server whose files are in `folder`: folder/community.db, or on PostgreSQL the
// same database for the same folder, every time.
std::string StoreLocation(const std::filesystem::path &folder);

// The rows of a query on the store of the server that ran in `folder`, every column as text
// ("" for NULL). Fails the test when the store cannot be opened or the query run.
std::vector<std::vector<std::string>> QueryStore(const std::filesystem::path &folder,
                                                 const std::string &sql);
