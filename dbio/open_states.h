#pragma once
// How a database unit is open: its DBOPND word in /GRDBLK/.
//
//   0  closed           the unit holds no file
//   1  read-only        an existing file opened for reading; nothing is written back
//   2  new file         a file this run created
//   3  open for update  an existing file opened for reading and writing

#include <cstdint>

namespace dbio {

inline constexpr int32_t kUnitClosed = 0;
inline constexpr int32_t kUnitReadOnly = 1;
inline constexpr int32_t kUnitNewFile = 2;
inline constexpr int32_t kUnitForUpdate = 3;

}  // namespace dbio
