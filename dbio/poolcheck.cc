#include "dbio/poolcheck.h"

#include <cstdlib>
#include <map>
#include <utility>

#include "dbio/pool.h"

namespace dbio {

namespace {

std::string str(int64_t v) { return std::to_string(v); }

class PoolCheck {
 public:
  explicit PoolCheck(Context& ctx) : ctx_(ctx), s_(ctx.sysfil), place_(static_cast<std::size_t>(s_.NOFP) + 1) {}

  std::vector<std::string> run() {
    if (s_.NOFP < 1) return {};
    page_chain();
    locked_chain();
    cache_slots();
    for (int32_t p = 1; p <= s_.NOFP; ++p) {
      if (place_[p].empty()) problem("page " + str(p) + " is lost: on no chain and in no dictionary-cache slot");
    }
    shared_blocks();
    return std::move(problems_);
  }

 private:
  void problem(std::string line) { problems_.push_back(std::move(line)); }

  // Records that page p is in `where`; false when p is no page or already has a place.
  bool take(int32_t p, const std::string& where) {
    if (p < 1 || p > s_.NOFP) {
      problem(where + " names page " + str(p) + ", outside 1.." + str(s_.NOFP));
      return false;
    }
    if (!place_[p].empty()) {
      problem("page " + str(p) + " is in " + place_[p] + " and in " + where);
      return false;
    }
    place_[p] = where;
    return true;
  }

  void page_chain() {
    int32_t previous = 0, last_in_use = 0;
    bool never_used_seen = false;
    for (int32_t p = s_.FREE; p != 0;) {
      if (!take(p, "the page chain")) break;
      if (up_link(ctx_, p) != previous) {
        problem("page " + str(p) + " on the page chain has up link " + str(up_link(ctx_, p)) + ", expected " +
                str(previous));
      }
      const int32_t down = down_link(ctx_, p);
      previous = p;
      if (down >= 0) {
        if (never_used_seen) problem("page " + str(p) + " is in use but follows never-used pages");
        last_in_use = p;
        p = down;
      } else {
        never_used_seen = true;
        if (page_unit(ctx_, p) != 0) problem("never-used page " + str(p) + " holds a block");
        p = down == -1 ? 0 : -down;
      }
    }
    if (s_.LSTUSD != last_in_use) {
      problem("LSTUSD is " + str(s_.LSTUSD) + ", but the last page in use on the page chain is " + str(last_in_use));
    }
  }

  void locked_chain() {
    for (int32_t p = s_.LOCKED; p != 0; p = down_link(ctx_, p)) {
      if (!take(p, "the locked chain")) break;
      if (down_link(ctx_, p) < 0) {
        problem("locked page " + str(p) + " has down link " + str(down_link(ctx_, p)));
        break;
      }
    }
  }

  void cache_slots() {
    const int32_t n = s_.NPDICT;
    auto link = [&](int32_t i) { return slot_link(ctx_, i); };
    auto page = [&](int32_t i) { return slot_page(ctx_, i); };
    std::vector<char> listed(static_cast<std::size_t>(n) + 1, 0);
    bool never_used_seen = false;
    for (int32_t i = s_.DLSTR; i != 0;) {
      if (i < 1 || i > n) {
        problem("the slot list names slot " + str(i) + ", outside 1.." + str(n));
        break;
      }
      if (listed[i]) {
        problem("the slot list comes back to slot " + str(i));
        break;
      }
      listed[i] = 1;
      if (link(i) < 0) {
        never_used_seen = true;
        if (page(i) != 0) problem("never-used slot " + str(i) + " holds page " + str(page(i)));
        i = link(i) == -1 ? 0 : -link(i);
      } else {
        if (never_used_seen) problem("slot " + str(i) + " is in use but follows never-used slots");
        i = link(i);
      }
    }
    for (int32_t i = 1; i <= n; ++i) {
      if (!listed[i]) problem("slot " + str(i) + " is not on the slot list");
      const int32_t p = page(i);
      if (p == 0) continue;
      if (take(p, "dictionary-cache slot " + str(i)) && page_unit(ctx_, p) == 0) {
        problem("dictionary-cache slot " + str(i) + " holds page " + str(p) + ", which holds no block");
      }
    }
  }

  void shared_blocks() {
    std::map<std::pair<int32_t, int32_t>, int32_t> holder;
    for (int32_t p = 1; p <= s_.NOFP; ++p) {
      const int32_t u = std::abs(page_unit(ctx_, p));
      if (u == 0) continue;
      auto [at, fresh] = holder.try_emplace({u, page_block(ctx_, p)}, p);
      if (!fresh) {
        problem("block " + str(page_block(ctx_, p)) + " of unit " + str(u) + " is held by pages " + str(at->second) +
                " and " + str(p));
      }
    }
  }

  Context& ctx_;
  const Sysfil& s_;
  std::vector<std::string> place_;  // where each page was found, empty = nowhere yet
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> check_pool(Context& ctx) { return PoolCheck(ctx).run(); }

}  // namespace dbio
