// The record of every administrator action: when, who (account and address), what, on whom.
#pragma once

#include <cstdint>
#include <string>

#include "store/Sql.h"

struct AdminAction {
    int64_t at = 0;
    std::string actor;    // the acting connection's account, or "" when it has none
    std::string address;  // the acting connection's address and port
    std::string action;   // the job's name, e.g. Job::Control_KickUser.Name
    std::string target;   // the user acted on, or ""
    std::string detail;   // e.g. "banned=1 option=3"
};

class AdminLogTable {
public:
    explicit AdminLogTable(Database &db) : db_(db) {}

    void record(const AdminAction &action);

private:
    Database &db_;
};
