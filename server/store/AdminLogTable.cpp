#include "store/AdminLogTable.h"

AdminLogTable::AdminLogTable(Database &db)
    : db_(db),
      insert_(db.handle(),
              "INSERT INTO admin_log(at, actor, address, action, target, detail) "
              "VALUES (?1, ?2, ?3, ?4, ?5, ?6)") {}

void AdminLogTable::record(const AdminAction &action) {
    auto guard = db_.lock();
    Query query(insert_);
    query.bind(1, action.at)
        .bindText(2, action.actor)
        .bindText(3, action.address)
        .bindText(4, action.action)
        .bindText(5, action.target)
        .bindText(6, action.detail);
    query.run();
}
