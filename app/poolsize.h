#pragma once
// Sizing the paging pool and the new XDB from the neutral header's block size B and flag F.
//
//   value    B = 0        B != 0
//   PAGSIZ   1024         |B|                       pool page size in words
//   POOLEN   17*PAGSIZ    17*PAGSIZ + 17753         pool length, never above kPoolWords
//            + 550
//   DDLCFG   0            200005000                 DDL room: 2000 objects, 5000 data words
//   BLKSIZ   1024         B (sign included)         block size for the new XDB
//   MAXBLK   16777215     2147483640 if F != 0, else 16777215

#include <cstdint>

namespace app {

// Words in the program's pool array.
inline constexpr int32_t kPoolWords = 1131648;

struct PoolSizing {
  int32_t PAGSIZ;
  int32_t POOLEN;
  int32_t DDLCFG;
  int32_t BLKSIZ;
  int32_t MAXBLK;
};

PoolSizing size_pool(int32_t B, int32_t F);

// A pool for reading an existing XDB of blocks of `block_size` words (as its header says): pages
// that hold its blocks and room for the DDL that the converter allows. MAXBLK and BLKSIZ are 0
// (an existing file keeps its own).
PoolSizing size_pool_for_reading(int32_t block_size);

}  // namespace app
