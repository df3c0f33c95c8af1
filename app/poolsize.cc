#include "app/poolsize.h"

#include <algorithm>

namespace app {

namespace {
constexpr int32_t kDefaultBlockWords = 1024;
constexpr int64_t kPagesInPool = 17;
constexpr int64_t kPoolExtraWithoutDdl = 550;
constexpr int64_t kPoolExtraWithDdl = 17753;
constexpr int32_t kDdlRoom = 200005000;
constexpr int32_t kMaxBlocks = 16777215;
constexpr int32_t kMaxBlocksLarge = 2147483640;
}  // namespace

PoolSizing size_pool(int32_t B, int32_t F) {
  PoolSizing s{};
  // |B| is taken in 64 bits: the most negative block size has no 32-bit absolute value. A page
  // that large cannot fit the pool anyway; it is passed on as the largest word count, which the
  // pool configuration refuses in the same way.
  int64_t page = B == 0 ? kDefaultBlockWords : std::abs(static_cast<int64_t>(B));
  int64_t length = kPagesInPool * page + (B == 0 ? kPoolExtraWithoutDdl : kPoolExtraWithDdl);
  s.PAGSIZ = static_cast<int32_t>(std::min<int64_t>(page, INT32_MAX));
  s.POOLEN = static_cast<int32_t>(std::min<int64_t>(length, kPoolWords));
  s.DDLCFG = B == 0 ? 0 : kDdlRoom;
  s.BLKSIZ = B == 0 ? kDefaultBlockWords : B;
  s.MAXBLK = (B != 0 && F != 0) ? kMaxBlocksLarge : kMaxBlocks;
  return s;
}

PoolSizing size_pool_for_reading(int32_t block_size) {
  // A page of at least the smallest block a converted XDB has, so that a header that names a
  // tiny block size still gets a pool that can be configured.
  constexpr int32_t kSmallestPage = 300;
  PoolSizing s{};
  s.PAGSIZ = std::max(block_size, kSmallestPage);
  s.POOLEN = static_cast<int32_t>(std::min<int64_t>(kPagesInPool * s.PAGSIZ + kPoolExtraWithDdl, kPoolWords));
  s.DDLCFG = kDdlRoom;
  return s;
}

}  // namespace app
