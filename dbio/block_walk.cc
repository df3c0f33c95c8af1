#include "dbio/block_walk.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "bio/requests.h"
#include "dbio/block_kinds.h"
#include "dbio/bridge.h"
#include "dbio/ddl_plan.h"
#include "dbio/layouts.h"
#include "dbio/messages.h"
#include "dbio/names.h"
#include "dbio/pool.h"
#include "dbio/words.h"

namespace dbio {

namespace {

constexpr int32_t kConversionFailed = 19;  // counts or lengths do not fit the DDL or the block
constexpr int32_t kListTooShort = 20;      // element list shorter than the entry length
constexpr int32_t kBlockIoFailed = 999;    // as BLKWRT reports a failed write
constexpr char kRoutine[] = "BLKFIX  ";

// Header words of the kinds (block_kinds.h).
constexpr int32_t kDataHeaderWords = chain_block::kHeaderWords;  // kinds 3, 4, 7
constexpr int32_t kGroupKeyWords = chain_block::kGroupKeyWords;
constexpr int32_t kSecondaryHeaderWords = secondary_index_block::kHeaderWords;
constexpr int32_t kKeyDataHeaderWords = key_block::kDataHeaderWords;
constexpr int32_t kKeyIndexHeaderWords = key_block::kNodeHeaderWords;
constexpr int32_t kRecordHeaderWords = record_block::kRecordHeaderWords;

// A DDL object of the unit's DDL, with the plan of its entries once asked for.
struct DdlObject {
  int32_t number = 0;
  int64_t record = 0;        // pool index of its directory record
  int32_t entry_length = 0;  // L
  bool limits = false;
  bool planned = false;
  Runs plan;                 // at most L words
};

// Word `at` (0-based) of an entry by its plan: its class, and whether it is a pair's first word
// (half 1) or second word (half 2). Half 0 for a word outside pairs, and for the first word of a
// pair that the end of the entry cuts.
struct PlanWord {
  int32_t cls = kIntegerClass;
  int half = 0;
};
PlanWord plan_word(const Runs& plan, int64_t at) {
  int64_t start = 0;
  for (const Run& r : plan.runs) {
    if (at < start + r.words) {
      if (!is_pair_class(r.cls)) return {r.cls, 0};
      const int64_t inside = at - start;
      return {r.cls, inside % 2 == 1 ? 2 : (inside + 1 < r.words ? 1 : 0)};
    }
    start += r.words;
  }
  return {};
}

class BlockWalk {
 public:
  BlockWalk(Context& ctx, int32_t direction, int32_t unit, int32_t block, int64_t from, int64_t to,
            int32_t length)
      : ctx_(ctx),
        dir_(direction),
        unit_(unit),
        block_(block),
        length_(length),
        filtyp_(ctx.grdblk.DBFLTY[unit]),
        file_(direction == kRead ? from : to),
        native_(direction == kRead ? to : from) {}

  void run();

 private:
  bool reading() const { return dir_ == kRead; }
  int64_t left() const { return length_ - pos_; }

  // Converts the next n words (at most the rest of the block) with class cls.
  void convert(int32_t cls, int64_t n) {
    n = std::clamp<int64_t>(n, 0, left());
    if (n == 0) return;
    int64_t file_pos = pos_ * 4 * file_words_per_word(filtyp_), native_pos = pos_;
    if (reading()) {
      CNVTYP(ctx_, cls, dir_, filtyp_, static_cast<int32_t>(n), file_, file_pos, native_, native_pos);
    } else {
      CNVTYP(ctx_, cls, dir_, filtyp_, static_cast<int32_t>(n), native_, native_pos, file_, file_pos);
    }
    pos_ += n;
  }
  void integers(int64_t n) { convert(kIntegerClass, n); }
  // Converts the words up to word k (1-based) as integers.
  void integers_through(int64_t k) { integers(k - pos_); }
  void characters(int64_t n) { convert(kCharacterClass, n); }
  void rest() { integers(left()); }

  // Native word k (1-based) of the block; 0 beyond the block. Walk steps read only words they
  // have converted.
  int32_t word(int64_t k) { return k >= 1 && k <= length_ ? ctx_.W(native_ + k - 1) : 0; }

  [[noreturn]] void inconsistent(int32_t object) {
    dbio::DIOMSG(ctx_, kConversionFailed, kRoutine, object);
    std::abort();  // DIOMSG does not return for a fatal code
  }

  DdlObject& object(int32_t number);
  const Runs& plan(DdlObject& object);

  void entry_words(const Runs& plan, int64_t offset, int64_t n);
  void entry(DdlObject& object, int64_t n, int32_t key_words);
  void entries(DdlObject& object, int64_t count, int64_t stride, int32_t key_words);
  void stream(DdlObject& object, int64_t offset, int64_t n);
  int64_t stream_offset(int32_t previous);
  bool chain_link(int32_t block, int32_t& code, int32_t& previous, int32_t& used);

  // The block of the group's chain that holds the other word of a pair cut by this block's data.
  struct Neighbour {
    int32_t block = 0;
    int32_t word = 0;          // its word (from 1) that holds the other half
    int64_t page = 0;          // pool index of its page's word 1; 0 when the pool does not hold it
    bool beyond_end = false;   // the file does not hold it yet
    std::vector<int32_t> raw;  // its file block as the file holds it (zeros beyond the file's end)
  };
  int64_t page_of(int32_t block);
  int32_t read_file_block(int32_t block, std::vector<int32_t>& raw);
  void write_file_block(int32_t block, std::vector<int32_t>& raw);
  bool neighbour(bool next, Neighbour& n);
  void cut_pair(int32_t cls, bool first);

  void root();
  void relation_data(int32_t object);
  void group(int32_t object);
  void index_items(int64_t count, int64_t item_words);
  void key_blocks(int32_t kind, int32_t object, int32_t key_words);
  void records();

  Context& ctx_;
  const int32_t dir_, unit_, block_, length_, filtyp_;
  const int64_t file_, native_;  // pool indices of the file-side and the native buffer
  int64_t pos_ = 0;              // native words converted so far
  std::deque<DdlObject> objects_;  // the objects met so far (references stay valid)
};

DdlObject& BlockWalk::object(int32_t number) {
  for (DdlObject& o : objects_) {
    if (o.number == number) return o;
  }
  const int64_t record = ddl_object_record(ctx_, unit_, number);
  if (record == 0) inconsistent(number);
  DdlObject o;
  o.number = number;
  o.record = record;
  o.entry_length = ctx_.W(record + 3);
  static const int32_t limits[2] = {pack_name_word("LIMI"), pack_name_word("TS  ")};
  o.limits = ctx_.W(record) == limits[0] && ctx_.W(record + 1) == limits[1];
  objects_.push_back(o);
  return objects_.back();
}

const Runs& BlockWalk::plan(DdlObject& o) {
  if (o.planned) return o.plan;
  o.planned = true;
  o.plan = entry_plan(ctx_, o.record, o.entry_length);
  if (o.plan.total < o.entry_length) {
    const int32_t object_and_length[2] = {o.number, o.entry_length};
    const int32_t described = static_cast<int32_t>(o.plan.total);
    dbio::DIOMSG(ctx_, kListTooShort, kRoutine, object_and_length, &described);
    std::abort();
  }
  return o.plan;
}

// Converts n words of an entry from its word `offset` (0-based) on, by the plan; words beyond
// the plan as integers. A pair cut by the start of the words converts its second word alone.
void BlockWalk::entry_words(const Runs& plan, int64_t offset, int64_t n) {
  int64_t run_start = 0;
  for (const Run& r : plan.runs) {
    if (n <= 0) return;
    const int64_t run_end = run_start + r.words;
    if (offset < run_end) {
      int64_t inside = offset - run_start;
      if (is_pair_class(r.cls) && inside % 2 == 1) {
        integers(1);
        ++inside, ++offset, --n;
      }
      const int64_t k = std::min(n, run_end - offset);
      convert(r.cls, k);
      offset += k;
      n -= k;
    }
    run_start = run_end;
  }
  integers(n);
}

// One entry of n words. Entries of "LIMITS" whose key words are all zero are integers.
void BlockWalk::entry(DdlObject& o, int64_t n, int32_t key_words) {
  n = std::min(n, left());
  const Runs& p = plan(o);
  const int64_t start = pos_;
  const int64_t key = std::min<int64_t>(std::max(key_words, 1), n);
  auto key_is_zero = [&] {
    for (int64_t k = 1; k <= key; ++k) {
      if (word(start + k) != 0) return false;
    }
    return true;
  };
  if (o.limits && !reading() && key_is_zero()) return integers(n);
  entry_words(p, 0, n);
  if (o.limits && reading() && key_is_zero()) {
    pos_ = start;  // the file side is untouched: convert the entry again, as integers
    integers(n);
  }
}

void BlockWalk::entries(DdlObject& o, int64_t count, int64_t stride, int32_t key_words) {
  if (count <= 0 || stride <= 0) return;
  const Runs& p = plan(o);
  const bool one_run = p.runs.size() == 1 && p.total >= stride && !o.limits;
  const bool pairs = !p.runs.empty() && is_pair_class(p.runs[0].cls);
  if (one_run && (!pairs || stride % 2 == 0)) return convert(p.runs[0].cls, count * stride);
  for (int64_t i = 0; i < count && left() > 0; ++i) entry(o, stride, key_words);
}

// n words of a group's data stream, from stream word `offset` on: the object's entries follow
// one another across the group's blocks.
void BlockWalk::stream(DdlObject& o, int64_t offset, int64_t n) {
  const Runs& p = plan(o);
  const int64_t L = o.entry_length;
  if (L <= 0) return integers(n);
  while (n > 0 && left() > 0) {
    const int64_t at = offset % L, k = std::min(n, L - at);
    entry_words(p, at, k);
    offset += k;
    n -= k;
  }
}

// The pool index of word 1 of the page that holds block `block` of this unit; 0 when no page does.
int64_t BlockWalk::page_of(int32_t block) {
  for (int32_t p = 1; p <= ctx_.sysfil.NOFP; ++p) {
    if (page_block(ctx_, p) == block && std::abs(page_unit(ctx_, p)) == unit_) return page_buffer(ctx_, p);
  }
  return 0;
}

// Reads block `block` of this unit as the file holds it, unconverted, into `raw` (LENGTH native
// words' worth of file words). Returns the read's IRET.
int32_t BlockWalk::read_file_block(int32_t block, std::vector<int32_t>& raw) {
  const int32_t count = length_ * file_words_per_word(filtyp_);
  raw.assign(static_cast<std::size_t>(count), 0);
  int32_t control = ctx_.grdblk.DBHNDL[unit_], number = block, iret = 0;
  BIOXXX(ctx_, bio::READ, control, nullptr, 0, raw.data(), count, &number, iret);
  return iret;
}

// Writes `raw` as block `block` of this unit. A failed write is fatal, as it is to BLKWRT.
void BlockWalk::write_file_block(int32_t block, std::vector<int32_t>& raw) {
  int32_t control = ctx_.grdblk.DBHNDL[unit_], number = block, iret = 0;
  BIOXXX(ctx_, bio::WRITE, control, nullptr, 0, raw.data(), static_cast<int32_t>(raw.size()), &number, iret);
  if (iret != 0) {
    bool fatal = false;
    BIOMSG(ctx_, unit_, iret, bio::WRITE, block, "BLKWRT", fatal);
    if (fatal) dbio::DIOMSG(ctx_, kBlockIoFailed, "BLKWRT");
  }
}

// Words 1, 3 and 4 of block `block` of this unit as they stand now: from its page when the
// pool holds it (the newest words), else from the file. False when it cannot be read.
bool BlockWalk::chain_link(int32_t block, int32_t& code, int32_t& previous, int32_t& used) {
  if (const int64_t page = page_of(block); page != 0) {
    const int32_t* b = ctx_.words(page, kDataHeaderWords);
    code = b[0], previous = b[2], used = b[3];
    return true;
  }
  if (length_ < kDataHeaderWords) return false;
  std::vector<int32_t> raw;
  if (read_file_block(block, raw) != 0) return false;
  int32_t header[kDataHeaderWords];
  read_words(kIntegerClass, layout_of(filtyp_), reinterpret_cast<const unsigned char*>(raw.data()), header,
             kDataHeaderWords);
  code = header[0], previous = header[2], used = header[3];
  return true;
}

// Data words of the group's stream in front of this block: the sum over the blocks before it,
// back along their previous-block words to the group's first block. -1 when that chain cannot
// be followed (a block outside the file or not of the group kind, a count that does not fit a
// block, a loop, a failed read).
int64_t BlockWalk::stream_offset(int32_t previous) {
  const auto& g = ctx_.grdblk;
  int64_t offset = 0;
  for (int32_t b = previous, steps = 0; b != 0; ++steps) {
    if (b < 2 || b > g.USDBKS[unit_] || b == block_ || steps >= g.USDBKS[unit_]) return -1;
    int32_t code = 0, before = 0, used = 0;
    if (!chain_link(b, code, before, used)) return -1;
    const int64_t data = before == 0 ? int64_t{used} - kGroupKeyWords : used;
    if (code <= 0 || code % kKindScale != kGroupKind || data < 0 || used > length_ - kDataHeaderWords) return -1;
    offset += data;
    b = before;
  }
  return offset;
}

// The neighbour that holds the other word of a pair cut by this block's last used data word
// (next: the block that word 2 names) or by its first data word (the block that word 3 names): a
// group block of this unit with this block's type code, whose word 3 (next) or word 2 names this
// block and which holds data words. Its words come from its page when the pool holds it and the
// block is being written, else from the file; its file block is read in either case. False when
// there is no such block or its file block cannot be read (for a block being written that the
// pool holds, a block beyond the file's end reads as zeros).
bool BlockWalk::neighbour(bool next, Neighbour& n) {
  const int32_t b = word(next ? chain_block::kNextWord : chain_block::kPreviousWord);
  if (b < 2 || b > ctx_.grdblk.USDBKS[unit_] || b == block_) return false;
  n.block = b;
  n.page = reading() ? 0 : page_of(b);
  const int32_t iret = read_file_block(b, n.raw);
  n.beyond_end = iret == bio::kBeyondEndOfFile && n.page != 0;
  if (iret != 0 && !n.beyond_end) return false;
  if (n.beyond_end) std::fill(n.raw.begin(), n.raw.end(), 0);
  int32_t header[kDataHeaderWords];
  if (n.page != 0) {
    std::copy_n(ctx_.words(n.page, kDataHeaderWords), kDataHeaderWords, header);
  } else {
    read_words(kIntegerClass, layout_of(filtyp_), reinterpret_cast<const unsigned char*>(n.raw.data()), header,
               kDataHeaderWords);
  }
  const int32_t code = header[0], after = header[1], before = header[2], used = header[3];
  if (code != word(1) || (next ? before : after) != block_) return false;
  if (used < 0 || used > length_ - kDataHeaderWords) return false;
  const int64_t data = before == 0 ? int64_t{used} - kGroupKeyWords : used;
  if (data < 1) return false;
  n.word = next ? chain_block::kFirstEntryWord : kDataHeaderWords + used;
  return true;
}

// Converts the next word, one of a pair of class cls that the group's stream carries across a
// block boundary: the pair's first word when `first` (this block's last used data word), else its
// second (this block's first data word). The pair's file bytes are this block's file word and the
// neighbour's, in stream order. Reading converts them as one pair. Writing makes them from this
// word and the neighbour's native word (from its page, else from the file's current bytes of the
// pair), puts this block's part out with the block and patches the neighbour's part into its file
// block, which is written back when that changes it. Without a neighbour the word converts as an
// integer.
void BlockWalk::cut_pair(int32_t cls, bool first) {
  Neighbour n;
  if (left() <= 0 || !neighbour(first, n)) return integers(1);
  const Layout lay = layout_of(filtyp_);
  const int32_t width = file_words_per_word(filtyp_);
  auto* own = reinterpret_cast<unsigned char*>(ctx_.words(file_ + pos_ * width, width));
  auto* other = reinterpret_cast<unsigned char*>(n.raw.data() + int64_t{n.word - 1} * width);
  unsigned char pair[2 * 8];
  unsigned char* own_part = pair + (first ? 0 : lay.bytes);
  unsigned char* other_part = pair + (first ? lay.bytes : 0);
  int32_t halves[2];
  int32_t& mine = halves[first ? 0 : 1];
  int32_t& theirs = halves[first ? 1 : 0];
  if (reading()) {
    std::memcpy(own_part, own, lay.bytes);
    std::memcpy(other_part, other, lay.bytes);
    read_words(cls, lay, pair, halves, 2);
    ctx_.W(native_ + pos_) = mine;
  } else {
    if (n.page != 0) {
      theirs = ctx_.W(n.page + n.word - 1);
    } else {
      // The neighbour's word as the file holds the pair now: this block's part from its file block.
      std::vector<int32_t> self;
      if (read_file_block(block_, self) != 0) std::fill(self.begin(), self.end(), 0);
      std::memcpy(own_part, self.data() + pos_ * width, lay.bytes);
      std::memcpy(other_part, other, lay.bytes);
      read_words(cls, lay, pair, halves, 2);
    }
    mine = ctx_.W(native_ + pos_);
    write_words(cls, lay, halves, pair, 2);
    std::memcpy(own, own_part, lay.bytes);
    if (n.beyond_end || std::memcmp(other, other_part, lay.bytes) != 0) {
      std::memcpy(other, other_part, lay.bytes);
      write_file_block(n.block, n.raw);
    }
  }
  ++pos_;
}

void BlockWalk::root() {
  characters(kNameWords);  // the key's name; qualifiers, descriptor copy and pairs are integers
}

void BlockWalk::relation_data(int32_t number) {
  integers_through(kDataHeaderWords);
  const int64_t n = word(4);
  if (number == 0) return;
  DdlObject& o = object(number);
  const int64_t L = o.entry_length;
  if (n < 0 || (n > 0 && (L <= 0 || n * L + kDataHeaderWords > length_))) inconsistent(number);
  entries(o, n, L, 0);
}

void BlockWalk::group(int32_t number) {
  integers_through(kDataHeaderWords);
  const int32_t previous = word(3);
  const int64_t used = word(4);
  if (used < 0 || used > length_ - kDataHeaderWords || (previous == 0 && used < kGroupKeyWords)) {
    inconsistent(number);
  }
  int64_t data = used;
  if (previous == 0) {
    characters(kNameWords);
    integers(kQualifierWords);
    data -= kGroupKeyWords;
  }
  if (number == 0 || data == 0) return;
  DdlObject& o = object(number);
  const Runs& p = plan(o);
  // Where the stream stands matters unless every word of an entry has one unpaired class.
  const bool uniform = p.runs.size() == 1 && !is_pair_class(p.runs[0].cls);
  int64_t offset = previous == 0 || uniform ? 0 : stream_offset(previous);
  if (offset < 0) return integers(data);
  // A pair that the stream carries across either end of this block's data.
  const int64_t L = o.entry_length;
  if (L > 0 && previous != 0) {
    if (const PlanWord w = plan_word(p, offset % L); w.half == 2) {
      cut_pair(w.cls, false);
      ++offset, --data;
    }
  }
  const PlanWord last = L > 0 && data > 0 ? plan_word(p, (offset + data - 1) % L) : PlanWord{};
  stream(o, offset, last.half == 1 ? data - 1 : data);
  if (last.half == 1) cut_pair(last.cls, true);
}

void BlockWalk::index_items(int64_t count, int64_t item_words) {
  count = std::clamp<int64_t>(count, 0, left() / item_words);
  for (int64_t i = 0; i < count; ++i) {
    characters(kNameWords);
    integers(item_words - kNameWords);
  }
}

void BlockWalk::key_blocks(int32_t kind, int32_t number, int32_t key_words) {
  const int32_t header = kind == kKeyIndexKind ? kKeyIndexHeaderWords : kKeyDataHeaderWords;
  integers_through(header);
  const int64_t used = word(4), stride = word(5), n = used - header;
  if (number == 0) return;
  DdlObject& o = object(number);
  if (n < 0 || used > length_ || (n > 0 && stride <= 0)) inconsistent(number);
  if (n > 0) entries(o, n / stride, stride, key_words);
}

void BlockWalk::records() {
  integers_through(kRecordHeaderWords);
  const int64_t used = word(2);
  if (used < kRecordHeaderWords || used > length_) inconsistent(0);
  while (pos_ < used) {
    if (pos_ + kRecordHeaderWords > used) inconsistent(0);
    integers(kRecordHeaderWords);
    const int32_t number = word(pos_ - 1);
    const int64_t R = word(pos_);
    if (R < 0 || pos_ + R > used) inconsistent(number);
    if (R == 0) continue;
    if (number == 0) {
      integers(R);
    } else {
      entry(object(number), R, 0);
    }
  }
}

void BlockWalk::run() {
  if (length_ <= 0) return;
  if (block_ != 1) {
    integers(1);
    const int32_t code = word(1);
    const int32_t kind = kind_of(code), q = qualifier_of(code);
    const bool keyed = kind == kKeyIndexKind || kind == kKeyDataKind;
    const int32_t number = keyed ? (q < kObjectScale ? 0 : q / kObjectScale) : q;
    const int32_t key_words = keyed ? (q < kObjectScale ? q : q % kObjectScale) : 0;
    const auto& g = ctx_.grdblk;
    switch (kind) {
      case kRootKind: root(); break;
      case kLevel2Kind: break;
      case kDataKind: relation_data(number); break;
      case kGroupKind: group(number); break;
      case kPrimaryIndexKind: index_items(g.DICNSI[unit_], kIndexEntryWords); break;
      case kSecondaryIndexKind:
        integers_through(kSecondaryHeaderWords);
        index_items(word(3), kIndexEntryWords);
        break;
      case kDictionaryDataKind:
        integers_through(kDataHeaderWords);
        index_items(word(4), int64_t{g.DBDLEN[unit_]} + kKeyWords);
        break;
      case kKeyIndexKind:
      case kKeyDataKind: key_blocks(kind, number, key_words); break;
      case kRecordKind: records(); break;
      default: break;
    }
  }
  rest();
}

}  // namespace

void BLKFIX(Context& ctx, int32_t direction, int32_t DBNUM, int32_t BLOCK, int64_t from, int64_t to,
            int32_t LENGTH) {
  if (LENGTH <= 0) return;
  if (ctx.grdblk.DBFLTY[DBNUM] == kNativeLayout) {
    std::memmove(ctx.words(to, LENGTH), ctx.words(from, LENGTH), int64_t{LENGTH} * 4);
    return;
  }
  BlockWalk(ctx, direction, DBNUM, BLOCK, from, to, LENGTH).run();
}

}  // namespace dbio
