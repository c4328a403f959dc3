// Entry points of the cluster library, family SQLite: the embedded database (not provided by this
// build of the library: bound if present, never called).
//
// CLUSTER_SQLITE_ENTRY_POINTS lists the family in binding order. TYPED names are declared by
// drovik.h and bound with their exact type; RESERVED names are not provided by this build of the
// library: they are bound if present and never called.
#pragma once

#include "Network/Include/Parts/EntryPoint.h"

// clang-format off
#define CLUSTER_SQLITE_ENTRY_POINTS(TYPED, RESERVED) \
    RESERVED(SQLite_Create) \
    RESERVED(SQLite_Open) \
    RESERVED(SQLite_Close) \
    RESERVED(SQLite_Update) \
    RESERVED(SQLite_UpdateSync) \
    RESERVED(SQLite_Query) \
    RESERVED(SQLite_EndQuery) \
    RESERVED(SQLite_SelectRow) \
    RESERVED(SQLite_GetAsString) \
    RESERVED(SQLite_GetAsLong) \
    RESERVED(SQLite_GetAsQuad) \
    RESERVED(SQLite_GetAsDouble) \
    RESERVED(SQLite_GetAsBlobPointer) \
    RESERVED(SQLite_GetAsBlobSize) \
    RESERVED(SQLite_GetAsBlobFlags) \
    RESERVED(SQLite_GetNumColumns) \
    RESERVED(SQLite_GetColumnTypeAsString) \
    RESERVED(SQLite_GetColumnName) \
    RESERVED(SQLite_StoreRow) \
    RESERVED(SQLite_StoreAsLong) \
    RESERVED(SQLite_StoreAsQuad) \
    RESERVED(SQLite_StoreAsDouble) \
    RESERVED(SQLite_StoreAsString) \
    RESERVED(SQLite_StoreAsBlob) \
    RESERVED(SQLite_GetLastErrorString) \
    RESERVED(SQLite_SetCompressionLevel) \
    RESERVED(SQLite_Flush) \
    RESERVED(SQLite_GetSQLiteVersion)
// clang-format on

namespace Cluster {
CLUSTER_SQLITE_ENTRY_POINTS(CLUSTER_DECLARE_TYPED, CLUSTER_DECLARE_RESERVED)
}  // namespace Cluster
