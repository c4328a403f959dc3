#include "store/Sql.h"

#include <atomic>

#include "store/postgres/PgDatabase.h"
#include "store/sqlite/SqliteDatabase.h"

Sql::Sql(std::string_view sqliteText, std::string_view postgresText)
    : sqlite_(sqliteText), postgres_(postgresText) {
    static std::atomic<size_t> next{0};
    id_ = next++;
}

bool IsPostgresLocation(std::string_view location) {
    return location.starts_with("postgresql://") || location.starts_with("postgres://");
}

std::unique_ptr<Database> OpenDatabase(const std::string &location,
                                       std::chrono::milliseconds answerTimeout) {
    if (IsPostgresLocation(location))
        return std::make_unique<PgDatabase>(location, PgDatabase::kPoolSize, answerTimeout);
    return std::make_unique<SqliteDatabase>(location);
}
