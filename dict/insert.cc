#include "dict/insert.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "dbio/blocks.h"
#include "dbio/names.h"
#include "dbio/pool.h"
#include "dict/dictionary.h"
#include "platform/format.h"
#include "platform/stop.h"
#include "dbio/messages.h"
#include "dbio/open_states.h"

namespace dict {

namespace {

using platform::iw;

constexpr int32_t kKeyWords = dbio::kKeyWords;
constexpr int32_t kNameWords = 2;
constexpr int32_t kPrimaryOverflow = 6;
constexpr int32_t kTraceInfoWords = 15;   // words of the block being split shown before the split
constexpr int32_t kTraceBlockWords = 16;  // words of each block shown after it

bool same_name(const int32_t* a, const int32_t* b) { return a[0] == b[0] && a[1] == b[1]; }

// Inserts one entry into the dictionary of unit `u`. The entry (key and descriptor) is carried in
// `work` from level to level: after a data block split it holds the first key of the new block,
// which goes into the secondary index.
//
// Blocks are reached through the dictionary cache; a block's words stay where they are only until
// the next cache access, so every step fetches the block it works on again. New blocks are taken
// before anything is changed, so that a stop for lack of room never leaves half a split behind.
class Insertion {
 public:
  Insertion(dbio::Context& ctx, int32_t u, const int32_t* KEY, const int32_t* ENTRY)
      : ctx_(ctx),
        g_(ctx.grdblk),
        s_(ctx.sysfil),
        u_(u),
        bufsz_(ctx.grdblk.BUFSZ[u]),
        dbdlen_(ctx.grdblk.DBDLEN[u]),
        dl_(ctx.grdblk.DBDLEN[u] + kKeyWords),
        trace_(ctx.DBGFLG[dbio::kTraceDictionary]),
        work_(KEY, KEY + kKeyWords) {
    work_.insert(work_.end(), ENTRY, ENTRY + dbdlen_);
  }

  // True when inserted, false when the key is already there.
  bool run() {
    // A block that cannot hold a single entry leaves the dictionary no room at all.
    if (data_capacity(bufsz_, dl_) < 1) overflow();
    if (g_.NUMDB[u_] == 0) return first_entry();

    int32_t* pi = fetch(g_.DICTPI[u_]);
    int32_t pos = 0, notfnd = 0;
    const int32_t pi_count = std::clamp(g_.DICNSI[u_], 0, primary_capacity(bufsz_));
    DICSRC(key(), pi + kPrimaryFirstWord - 1, kIndexEntryWords, kKeyWords, pi_count, pos, notfnd);
    if (!notfnd) return false;
    if (pos == 1) return new_lowest_key(pi[kPrimaryFirstWord - 1 + kKeyWords]);

    const int32_t si_block = child(pi + kPrimaryFirstWord - 1, pos, notfnd);
    int32_t* si = fetch(si_block);
    const int32_t si_count = std::clamp(si[kSecondaryCountWord - 1], 0, secondary_capacity(bufsz_));
    DICSRC(key(), si + kSecondaryFirstWord - 1, kIndexEntryWords, kKeyWords, si_count, pos, notfnd);
    if (!notfnd) return false;
    return insert_into(si_block, child(si + kSecondaryFirstWord - 1, pos, notfnd));
  }

 private:
  const int32_t* key() const { return work_.data(); }
  const int32_t* descriptor() const { return work_.data() + kKeyWords; }

  // Dictionary block `block` made resident: its words 1..BUFSZ.
  int32_t* fetch(int32_t block, int32_t& addr) {
    DICBLK(ctx_, u_, block, addr);
    return ctx_.words(addr, bufsz_);
  }
  int32_t* fetch(int32_t block) {
    int32_t addr = 0;
    return fetch(block, addr);
  }
  void modified(int32_t block) { dbio::PAGMOD(ctx_, u_, block); }
  int32_t data_count(const int32_t* block) const {
    return std::clamp(block[kDataCountWord - 1], 0, data_capacity(bufsz_, dl_));
  }

  // The block number of the index record covering a searched key: the matching record, or the
  // last record with a lower key.
  static int32_t child(const int32_t* list, int32_t pos, int32_t notfnd) {
    const int32_t at = notfnd ? std::max(pos - kIndexEntryWords, 1) : pos;
    return list[at - 1 + kKeyWords];
  }

  // Code 6 is fatal: DIOMSG stops the run and does not come back.
  [[noreturn]] void overflow() {
    dbio::DIOMSG(ctx_, kPrimaryOverflow, "DICINS  ", u_);
    platform::stop_run();
  }

  void count_entry() {
    g_.NUMDB[u_] += 1;
    g_.INFINU[u_] += 1;
  }

  // The first entry writes the three blocks that the new database was created with.
  bool first_entry() {
    const int32_t pi_block = g_.DICTPI[u_], si_block = g_.DICFSI[u_], data_block = g_.DICFDB[u_];
    int32_t* pi = fetch(pi_block);
    pi[0] = kPrimaryIndexType;
    std::copy_n(key(), kKeyWords, pi + kPrimaryFirstWord - 1);
    pi[kPrimaryFirstWord - 1 + kKeyWords] = si_block;
    modified(pi_block);

    int32_t* si = fetch(si_block);
    si[0] = kSecondaryIndexType;
    si[kSecondaryIndexWord - 1] = pi_block;
    si[kSecondaryCountWord - 1] = 1;
    std::copy_n(key(), kKeyWords, si + kSecondaryFirstWord - 1);
    si[kSecondaryFirstWord - 1 + kKeyWords] = data_block;
    modified(si_block);

    int32_t* data = fetch(data_block);
    data[0] = kDictionaryDataType;
    data[kDataNextWord - 1] = data[kDataPreviousWord - 1] = 0;
    data[kDataCountWord - 1] = 1;
    std::copy(work_.begin(), work_.end(), data + kDataFirstWord - 1);
    modified(data_block);

    g_.DICNSI[u_] = 1;
    remember(data_block, 1);
    count_entry();
    return true;
  }

  void remember(int32_t block, int32_t pos) {
    s_.DICDBB = block;
    s_.DICDBO = pos + kDataCountWord - 1;
  }

  // The blocks a split of a data block below secondary block `si_block` needs: a data block, and
  // a secondary block too when `si_block` is full. Stops the run, before anything has changed,
  // when the primary index has no room for the entry of that secondary block.
  struct NewBlocks {
    int32_t data = 0, si = 0;
  };
  NewBlocks take_split_blocks(int32_t si_block) {
    const bool si_full = fetch(si_block)[kSecondaryCountWord - 1] >= secondary_capacity(bufsz_);
    if (si_full && g_.DICNSI[u_] >= primary_capacity(bufsz_)) overflow();
    NewBlocks blocks;
    blocks.data = take_block(kDictionaryDataType);
    if (si_full) blocks.si = take_block(kSecondaryIndexType);
    return blocks;
  }

  // A key lower than every key: it becomes the first key at every level.
  bool new_lowest_key(int32_t si_block) {
    const int32_t data_block = g_.DICFDB[u_];
    const bool full = data_count(fetch(data_block)) >= data_capacity(bufsz_, dl_);
    const NewBlocks blocks = full ? take_split_blocks(si_block) : NewBlocks{};

    int32_t* pi = fetch(g_.DICTPI[u_]);
    std::copy_n(key(), kKeyWords, pi + kPrimaryFirstWord - 1);
    modified(g_.DICTPI[u_]);
    int32_t* si = fetch(si_block);
    std::copy_n(key(), kKeyWords, si + kSecondaryFirstWord - 1);
    modified(si_block);

    int32_t* data = fetch(data_block);
    const int32_t n = data_count(data);
    int32_t* list = data + kDataFirstWord - 1;
    int32_t pos = 1, notfnd = 0, dup = 0;
    if (!full) {
      LSTINS(list, n, kKeyWords, dl_, pos, key(), kKeyWords, descriptor(), dbdlen_, dup);
      data[kDataCountWord - 1] = n + 1;
      modified(data_block);
      remember(data_block, pos);
      count_entry();
      return true;
    }
    // The new entry takes the place of the block's first entry, which goes through the split
    // instead. The remembered entry is then that former first entry.
    std::swap_ranges(work_.begin(), work_.end(), list);
    modified(data_block);
    DICSRC(key(), list, dl_, kKeyWords, n, pos, notfnd);
    split(si_block, data_block, pos, blocks);
    return true;
  }

  // Inserts the working entry into data block `data_block`, below secondary block `si_block`.
  bool insert_into(int32_t si_block, int32_t data_block) {
    int32_t* data = fetch(data_block);
    const int32_t n = data_count(data);
    int32_t pos = 0, notfnd = 0;
    DICSRC(key(), data + kDataFirstWord - 1, dl_, kKeyWords, n, pos, notfnd);
    if (!notfnd) return false;
    if (n < data_capacity(bufsz_, dl_)) {
      int32_t dup = 0;
      LSTINS(data + kDataFirstWord - 1, n, kKeyWords, dl_, pos, key(), kKeyWords, descriptor(), dbdlen_, dup);
      data[kDataCountWord - 1] = n + 1;
      modified(data_block);
      remember(data_block, pos);
      count_entry();
      return true;
    }
    split(si_block, data_block, pos, take_split_blocks(si_block));
    return true;
  }

  // The working entry goes to list word `pos` of full data block `data_block`: the block is split
  // into `blocks.data`, which is entered into secondary block `si_block` (split into `blocks.si`
  // when that is full).
  void split(int32_t si_block, int32_t data_block, int32_t pos, const NewBlocks& blocks) {
    split_data_block(data_block, pos, blocks.data);
    enter_into_secondary(si_block, blocks.data, blocks.si);
    count_entry();
  }

  // A new block for the dictionary, made resident and marked modified at once: should the cache
  // give its page back to the page chain before the block is filled, the page is written before
  // it is reused, so the block is never read from beyond the end of the file.
  int32_t take_block(int32_t type) {
    int32_t block = 0, addr = 0;
    dbio::BLKGET(ctx_, u_, block, addr);
    fetch(block)[0] = type;
    modified(block);
    return block;
  }

  // Splits full data block `old_block`, whose entries and the working entry (to go at list word
  // `pos`) are shared with the new block `new_block`, and leaves the new block's first key in the
  // working key.
  void split_data_block(int32_t old_block, int32_t pos, int32_t new_block) {
    int32_t old_addr = 0, new_addr = 0;
    int32_t* block = fetch(old_block, old_addr);
    const int32_t n = data_count(block);
    const int32_t* list = block + kDataFirstWord - 1;
    const int32_t* last = list + (n - 1) * dl_;
    if (trace_) {
      ctx_.out() << " Dictionary Data Block Spliting\n";
      position_line(old_block, old_addr, kDataFirstWord + (n - 1) * dl_, kDataFirstWord - 1 + pos);
      words_line(" Info: ", block, std::min(kTraceInfoWords, bufsz_));
      key_line(" Nent: ", key(), 0);
      key_line(" Lent: ", last, dbdlen_);
    }

    // The n + 1 entries in order, and how many of them stay. Ascending keys of one name fill a
    // block completely (append split); keys of one name arriving in its upper half keep the
    // block up to the new entry; anything else halves the block.
    const int32_t k = (pos - 1) / dl_ + 1;  // the new entry's place among the n + 1
    const bool append = k > n && same_name(key(), last);
    std::vector<int32_t> all(list, list + n * dl_);
    all.insert(all.begin() + (k - 1) * dl_, work_.begin(), work_.end());
    int32_t keep = (n + 1) / 2;
    if (append) {
      keep = n;
    } else if (k <= n && same_name(key(), all.data()) && k > n / 2) {
      keep = k;
    }
    const int32_t moved = n + 1 - keep;

    const int32_t former_next = block[kDataNextWord - 1];
    g_.DICNDB[u_] += 1;
    std::copy(all.begin(), all.begin() + keep * dl_, block + kDataFirstWord - 1);
    block[kDataNextWord - 1] = new_block;
    block[kDataCountWord - 1] = keep;
    modified(old_block);
    const std::vector<int32_t> shown1(block, block + std::min(kTraceBlockWords, bufsz_));

    int32_t* fresh = fetch(new_block, new_addr);
    fresh[0] = kDictionaryDataType;
    fresh[kDataNextWord - 1] = former_next;
    fresh[kDataPreviousWord - 1] = old_block;
    fresh[kDataCountWord - 1] = moved;
    std::copy(all.begin() + keep * dl_, all.end(), fresh + kDataFirstWord - 1);
    modified(new_block);
    const std::vector<int32_t> shown2(fresh, fresh + std::min(kTraceBlockWords, bufsz_));

    int32_t next_addr = 0;
    std::vector<int32_t> shown3;
    if (former_next != 0) {
      int32_t* next = fetch(former_next, next_addr);
      next[kDataPreviousWord - 1] = new_block;
      modified(former_next);
      shown3.assign(next, next + std::min(kTraceBlockWords, bufsz_));
    }

    // Where the working entry went.
    int32_t found_pos = 0, notfnd = 0;
    block = fetch(old_block);
    DICSRC(key(), block + kDataFirstWord - 1, dl_, kKeyWords, keep, found_pos, notfnd);
    int32_t holder = old_block;
    if (notfnd) {
      fresh = fetch(new_block);
      DICSRC(key(), fresh + kDataFirstWord - 1, dl_, kKeyWords, moved, found_pos, notfnd);
      holder = new_block;
    }
    remember(holder, found_pos);

    if (trace_) {
      ctx_.out() << " B1,A1, B2,A2, B3 Flag, DB,OF :" << iw(old_block, 8) << iw(old_addr, 10) << iw(new_block, 8)
                 << iw(new_addr, 10) << iw(former_next, 8) << iw(append, 3) << iw(s_.DICDBB, 8) << iw(s_.DICDBO, 6)
                 << '\n';
      words_line(" Blk1: ", shown1.data(), static_cast<int32_t>(shown1.size()));
      words_line(" Blk2: ", shown2.data(), static_cast<int32_t>(shown2.size()));
      if (former_next != 0) {
        ctx_.out() << " B3,A3 :" << iw(former_next, 8) << iw(next_addr, 10) << '\n';
        words_line(" Blk3: ", shown3.data(), static_cast<int32_t>(shown3.size()));
      }
    }
    std::copy(all.begin() + keep * dl_, all.begin() + keep * dl_ + kKeyWords, work_.begin());
  }

  // Enters (working key, data block `data_block`) into secondary block `si_block`; when that is
  // full, splits it into `new_si` and enters the new block into the primary index.
  void enter_into_secondary(int32_t si_block, int32_t data_block, int32_t new_si) {
    int32_t si_addr = 0, new_addr = 0;
    int32_t* si = fetch(si_block, si_addr);
    const int32_t n = std::clamp(si[kSecondaryCountWord - 1], 0, secondary_capacity(bufsz_));
    int32_t* list = si + kSecondaryFirstWord - 1;
    int32_t pos = 0, notfnd = 0, dup = 0;
    DICSRC(key(), list, kIndexEntryWords, kKeyWords, n, pos, notfnd);
    if (new_si == 0) {
      LSTINS(list, n, kKeyWords, kIndexEntryWords, pos, key(), kKeyWords, &data_block, 1, dup);
      si[kSecondaryCountWord - 1] = n + 1;
      modified(si_block);
      return;
    }

    if (trace_) {
      ctx_.out() << " Dictionary Secondary Block Spliting\n";
      position_line(si_block, si_addr, kSecondaryFirstWord + (n - 1) * kIndexEntryWords,
                    kSecondaryFirstWord - 1 + pos);
      key_line(" Fent: ", list, 1);
      key_line(" Nent: ", key(), 0);
      key_line(" Lent: ", list + (n - 1) * kIndexEntryWords, 1);
    }
    // The records lower than the working key stay; the working record follows them, in the old
    // block when higher records move to the new block, else alone in the new block.
    const int32_t lower = pos / kIndexEntryWords;
    const bool append = lower >= n;
    std::vector<int32_t> record(key(), key() + kKeyWords);
    record.push_back(data_block);
    std::vector<int32_t> moving = record;
    if (!append) {
      moving.assign(list + lower * kIndexEntryWords, list + n * kIndexEntryWords);
      std::copy(record.begin(), record.end(), list + lower * kIndexEntryWords);
      si[kSecondaryCountWord - 1] = lower + 1;
    }
    const int32_t pi_block = si[kSecondaryIndexWord - 1];
    modified(si_block);
    const std::vector<int32_t> shown1(si, si + std::min(kTraceBlockWords, bufsz_));

    int32_t* fresh = fetch(new_si, new_addr);
    fresh[0] = kSecondaryIndexType;
    fresh[kSecondaryIndexWord - 1] = pi_block;
    fresh[kSecondaryCountWord - 1] = static_cast<int32_t>(moving.size()) / kIndexEntryWords;
    std::copy(moving.begin(), moving.end(), fresh + kSecondaryFirstWord - 1);
    modified(new_si);
    if (trace_) {
      ctx_.out() << " JLOC, Flag : " << iw(append ? 1 : 0, 6) << iw(append, 3) << '\n';
      ctx_.out() << " B1,A1 B2,A2 :" << iw(si_block, 8) << iw(si_addr, 10) << iw(new_si, 8) << iw(new_addr, 10)
                 << '\n';
      words_line(" Blk1: ", shown1.data(), static_cast<int32_t>(shown1.size()));
      words_line(" Blk2: ", fresh, std::min(kTraceBlockWords, bufsz_));
    }

    // The primary index gets (first key of the new secondary block, its number).
    if (g_.DICNSI[u_] >= primary_capacity(bufsz_)) overflow();
    int32_t* pi = fetch(g_.DICTPI[u_]);
    LSTINS(pi + kPrimaryFirstWord - 1, g_.DICNSI[u_], kKeyWords, kIndexEntryWords, -1, moving.data(), kKeyWords,
           &new_si, 1, dup);
    g_.DICNSI[u_] += 1;
    modified(g_.DICTPI[u_]);
  }

  // Trace lines.
  void position_line(int32_t block, int32_t addr, int32_t last_word, int32_t new_word) {
    ctx_.out() << " Original Block " << iw(block, 8) << " Index " << iw(addr, 10) << " Lst " << iw(last_word, 6)
               << " New " << iw(new_word, 6) << '\n';
  }
  void words_line(const char* label, const int32_t* words, int32_t n) {
    ctx_.out() << label;
    for (int32_t i = 0; i < n; ++i) ctx_.out() << iw(words[i], 12);
    ctx_.out() << '\n';
  }
  // A key as its name and qualifiers, followed by `extra` further words of its record.
  void key_line(const char* label, const int32_t* record, int32_t extra) {
    ctx_.out() << label << dbio::name_chars(record[0], record[1]);
    for (int32_t k = kNameWords; k < kKeyWords; ++k) ctx_.out() << iw(record[k], 8);
    for (int32_t k = 0; k < extra; ++k) ctx_.out() << iw(record[kKeyWords + k], 12);
    ctx_.out() << '\n';
  }

  dbio::Context& ctx_;
  dbio::Grdblk& g_;
  dbio::Sysfil& s_;
  const int32_t u_, bufsz_, dbdlen_, dl_;
  const bool trace_;
  std::vector<int32_t> work_;
};

}  // namespace

void DICINS(dbio::Context& ctx, int32_t DBNUM, int32_t* KEY, int32_t* ENTRY, int32_t& IERR) {
  if (DBNUM < 1 || DBNUM > dbio::kUnits) dbio::DIOMSG(ctx, 1, "DICINS  ", DBNUM);
  if (ctx.grdblk.DBOPND[DBNUM] == dbio::kUnitClosed) dbio::DIOMSG(ctx, 2, "DICINS  ", DBNUM);
  ENTRY[0] = ctx.grdblk.INFINU[DBNUM] + 1;
  Insertion insertion(ctx, DBNUM, KEY, ENTRY);
  IERR = insertion.run() ? 0 : 1;
}

}  // namespace dict
