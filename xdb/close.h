#pragma once
// Closing and flushing: every change to a database lives in the pool's pages until these write
// it back.

#include <cstdint>

#include "dbio/context.h"

namespace xdb {

// Return codes of DBCLOS.
inline constexpr int32_t kCloseUnitOutOfRange = 1;
inline constexpr int32_t kCloseUnitNotOpen = 2;
inline constexpr int32_t kCloseFailed = 3;

// Writes every modified page of every database, then rewrites the header block of every database
// open for writing from its control values and has its file written out: on disk, each such
// file is then the database as the pool knows it.
void PAGFLS(dbio::Context& ctx);

// Force-closes the logical files still open on DBNUM (warning 15 each) and frees the database's
// pages, returning them (and its dictionary-cache slots) to the never-used state.
void PAGDBF(dbio::Context& ctx, int32_t DBNUM);

// After a fatal stop: lets unit DBNUM's file go the way the end of the process would, without a
// further flush or message, so that a caller running again in the same process finds it free.
void release_after_stop(dbio::Context& ctx, int32_t DBNUM);

// Flushes and detaches unit DBNUM and closes its file. STATUS is accepted and not used.
void DBCLOS(dbio::Context& ctx, int32_t DBNUM, int32_t STATUS, int32_t& IERR);

}  // namespace xdb
