#include "store/AdminLogTable.h"

namespace {
const Sql kInsert(
    "INSERT INTO admin_log(at, actor, address, action, target, detail) "
    "VALUES ($1, $2, $3, $4, $5, $6)");
}  // namespace

void AdminLogTable::record(const AdminAction &action) {
    db_.run(kInsert,
            {action.at, action.actor, action.address, action.action, action.target, action.detail});
}
