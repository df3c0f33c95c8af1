#include "dbio/convert.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <vector>

#include "bio/requests.h"
#include "dbio/bridge.h"
#include "dbio/names.h"
#include "dbio/pool.h"
#include "dbio/messages.h"
#include "dbio/layouts.h"
#include "dbio/block_kinds.h"

namespace dbio {

namespace {

constexpr int32_t kElementScale = 100;     // element code = count * 100 + type
constexpr int32_t kElementTypes = 20;
constexpr int32_t kDdlObjectScale = 100000;
constexpr int32_t kDdlRecordWords = 5;     // name (2), list offset, entry length, object number
constexpr int32_t kDdlHeaderWords = 3;     // version, objects, data words
constexpr int32_t kStandardEntryWords = 12;
// Group codes: -(r * 10000 + n * 100 + form).
constexpr int32_t kFormScale = 100, kParameterScale = 10000;
constexpr int32_t kRepeated = 1, kRepeatedToEnd = 2, kVariant = 3, kBracketed = 4, kBracketEnd = 5;
constexpr int32_t kMaxGroupDepth = 8;
constexpr int32_t kConversionFailed = 19;  // counts or lengths do not fit the DDL or the block
constexpr int32_t kListTooShort = 20;      // element list shorter than the entry length
constexpr char kRoutine[] = "BLKFIX  ";

// Header words of the kinds (block_kinds.h).
constexpr int32_t kDataHeaderWords = chain_block::kHeaderWords;  // kinds 3, 4, 7
constexpr int32_t kGroupKeyWords = chain_block::kGroupKeyWords;
constexpr int32_t kSecondaryHeaderWords = secondary_index_block::kHeaderWords;
constexpr int32_t kKeyDataHeaderWords = key_block::kDataHeaderWords;
constexpr int32_t kKeyIndexHeaderWords = key_block::kNodeHeaderWords;
constexpr int32_t kRecordHeaderWords = record_block::kRecordHeaderWords;

// ---------------------------------------------------------------------------------------------
// Word converters. The file side is bytes, the native side 32-bit words; a pair of native words
// (D, X) is the 64-bit value whose low-order half is the first word.

uint32_t load32(const unsigned char* p, bool little) {
  return little ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                : (uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24);
}

void store32(unsigned char* p, uint32_t v, bool little) {
  for (int k = 0; k < 4; ++k) p[little ? k : 3 - k] = static_cast<unsigned char>(v >> (8 * k));
}

uint64_t load64(const unsigned char* p, bool little) {
  uint64_t v = 0;
  for (int k = 0; k < 8; ++k) v |= uint64_t{p[little ? k : 7 - k]} << (8 * k);
  return v;
}

void store64(unsigned char* p, uint64_t v, bool little) {
  for (int k = 0; k < 8; ++k) p[little ? k : 7 - k] = static_cast<unsigned char>(v >> (8 * k));
}

uint32_t get_native(const int32_t* w) {
  uint32_t v;
  std::memcpy(&v, w, 4);
  return v;
}

void put_native(int32_t* w, uint32_t v) { std::memcpy(w, &v, 4); }

constexpr uint32_t kAllOnes32 = 0xFFFFFFFFu;
constexpr uint64_t kAllOnes64 = 0xFFFFFFFFFFFFFFFFull;
constexpr uint32_t kSingleExponent = 0x7F800000u, kSingleMantissa = 0x007FFFFFu, kSingleQuiet = 0x00400000u;
constexpr uint64_t kDoubleExponent = 0x7FF0000000000000ull;
constexpr int kMantissaShift = 52 - 23;

// A single-precision pattern as the double a wide file holds. NaNs keep sign and payload.
uint64_t widen(uint32_t f) {
  if (f == kAllOnes32) return kAllOnes64;
  if ((f & kSingleExponent) == kSingleExponent && (f & kSingleMantissa) != 0) {
    return uint64_t{f >> 31} << 63 | kDoubleExponent | uint64_t{f & kSingleMantissa} << kMantissaShift;
  }
  return std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(f)));
}

// A double of a wide file narrowed to single precision (rounded to nearest; beyond the single
// range an infinity, or the largest single below the rounding threshold).
uint32_t narrow(uint64_t d) {
  if (d == kAllOnes64) return kAllOnes32;
  const double x = std::bit_cast<double>(d);
  const uint32_t sign = static_cast<uint32_t>(d >> 63) << 31;
  if (std::isnan(x)) {
    uint32_t mantissa = static_cast<uint32_t>(d >> kMantissaShift) & kSingleMantissa;
    return sign | kSingleExponent | (mantissa != 0 ? mantissa : kSingleQuiet);
  }
  const double largest = std::numeric_limits<float>::max();
  if (std::fabs(x) > largest) {
    const double overflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);  // halfway to the next power
    if (std::fabs(x) >= overflow) return sign | kSingleExponent;
    return sign | std::bit_cast<uint32_t>(std::numeric_limits<float>::max());
  }
  return std::bit_cast<uint32_t>(static_cast<float>(x));
}

// Where the 8 bytes of a pair lie in its file span (8 bytes, or 16 in a wide file).
int32_t pair_value_offset(int32_t cls, Layout lay) { return cls == kDClass && lay.wide && lay.little ? 8 : 0; }

// Reads n native words of class cls. Goes forward and takes each unit's bytes before it stores
// its words, so the native words may overlay the file bytes from the same start.
void read_words(int32_t cls, Layout lay, const unsigned char* f, int32_t* w, int64_t n) {
  const bool pairs = cls == kDClass || cls == kXClass;
  int64_t i = 0;
  if (pairs) {
    const int32_t at = pair_value_offset(cls, lay);
    for (; i + 1 < n; i += 2) {
      const uint64_t v = load64(f + i * lay.bytes + at, lay.little);
      put_native(w + i, static_cast<uint32_t>(v));
      put_native(w + i + 1, static_cast<uint32_t>(v >> 32));
    }
  }
  for (; i < n; ++i) {
    const unsigned char* p = f + i * lay.bytes;
    uint32_t v;
    if (cls == kRealClass && lay.wide) {
      v = narrow(load64(p, lay.little));
    } else if (cls == kCharacterClass) {
      v = load32(p, true);  // characters keep their storage order
    } else if (lay.wide) {
      v = static_cast<uint32_t>(load64(p, lay.little));  // the low-order half
    } else {
      v = load32(p, lay.little);
    }
    put_native(w + i, v);
  }
}

// Writes n native words of class cls. Goes backward, so the file bytes may overlay the native
// words from the same start.
void write_words(int32_t cls, Layout lay, const int32_t* w, unsigned char* f, int64_t n) {
  const bool pairs = cls == kDClass || cls == kXClass;
  const int64_t paired = pairs ? n / 2 * 2 : 0;
  for (int64_t i = n - 1; i >= paired; --i) {
    const uint32_t v = get_native(w + i);
    unsigned char* p = f + i * lay.bytes;
    if (cls == kRealClass && lay.wide) {
      store64(p, widen(v), lay.little);
    } else if (cls == kCharacterClass) {
      store32(p, v, true);
      if (lay.wide) std::memset(p + 4, ' ', 4);
    } else if (lay.wide) {
      store64(p, static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v))), lay.little);
    } else {
      store32(p, v, lay.little);
    }
  }
  const int32_t at = pair_value_offset(cls, lay);
  for (int64_t i = paired - 2; i >= 0; i -= 2) {
    const uint64_t v = uint64_t{get_native(w + i + 1)} << 32 | get_native(w + i);
    unsigned char* p = f + i * lay.bytes;
    if (lay.wide) std::memset(p + 8 - at, 0, 8);
    store64(p + at, v, lay.little);
  }
}

int32_t effective_class(int32_t cls) { return cls == 1 || cls == 6 ? kIntegerClass : cls; }

// ---------------------------------------------------------------------------------------------
// Conversion plans: the classes of an entry's words as runs, from its DDL object's element list.

struct Run {
  int32_t cls;
  int64_t words;
};

struct Runs {
  std::vector<Run> runs;
  int64_t total = 0;

  // Appends words of a class, merged into the last run when it has the same class; nothing
  // beyond `cap` words in all.
  void append(int32_t cls, int64_t words, int64_t cap) {
    words = std::min(words, cap - total);
    if (words <= 0) return;
    if (!runs.empty() && runs.back().cls == cls) {
      runs.back().words += words;
    } else {
      runs.push_back({cls, words});
    }
    total += words;
  }
  void append(const Runs& other, int64_t cap) {
    for (const Run& r : other.runs) append(r.cls, r.words, cap);
  }
};

// Reads an element list from the DDL area into runs.
class ListParser {
 public:
  ListParser(Context& ctx, int64_t at, int64_t end, int64_t cap) : ctx_(ctx), at_(at), end_(end), cap_(cap) {}

  Runs parse() {
    Runs runs;
    // The list ends when it describes the entry; items are taken whole.
    while (runs.total < cap_) {
      if (item(runs, 0, false) != kItem) break;
    }
    return runs;
  }

 private:
  enum Result { kItem, kClose, kEnd };

  // Parses one item (a code or a whole group) into `out`. With `in_bracket`, a closing code
  // returns kClose.
  Result item(Runs& out, int depth, bool in_bracket) {
    if (at_ >= end_) return kEnd;
    const int64_t e = ctx_.W(at_++);
    if (e == 0) return kEnd;
    if (e > 0) {
      const int32_t type = static_cast<int32_t>(e % kElementScale);
      if (type < 1 || type > kElementTypes) return kEnd;
      out.append(conversion_class(type), e / kElementScale * ctx_.TYPLEN[type], cap_);
      return kItem;
    }
    const int64_t m = -e;
    const int32_t form = static_cast<int32_t>(m % kFormScale);
    const int64_t items = m / kFormScale % kFormScale, r = m / kParameterScale;
    if (form == kBracketEnd) return in_bracket ? kClose : kEnd;
    if (form < kRepeated || form > kBracketEnd || depth >= kMaxGroupDepth) return kEnd;
    Result result = kItem;
    if (form == kVariant) {
      std::vector<Runs> alternatives;  // the complete ones
      int64_t span = 0;
      for (int64_t k = 0; k < items; ++k) {
        Runs alternative;
        if (item(alternative, depth + 1, false) != kItem) {
          result = kEnd;
          break;
        }
        span = std::max(span, alternative.total);
        alternatives.push_back(std::move(alternative));
      }
      const int64_t before = out.total;
      if (r >= 1 && r <= static_cast<int64_t>(alternatives.size())) {
        out.append(alternatives[static_cast<std::size_t>(r - 1)], cap_);
      }
      out.append(kIntegerClass, span - (out.total - before), cap_);
      return result;
    }
    // A partly read body (the list ended inside it) still counts as far as it goes.
    Runs body;
    if (form == kBracketed) {
      for (;;) {
        Result inner = item(body, depth + 1, true);
        if (inner == kClose) break;
        if (inner == kEnd) {
          result = kEnd;
          break;
        }
      }
    } else {
      for (int64_t k = 0; k < items; ++k) {
        if (item(body, depth + 1, false) != kItem) {
          result = kEnd;
          break;
        }
      }
    }
    if (body.total > 0) {
      if (form == kRepeatedToEnd) {
        while (out.total < cap_) out.append(body, cap_);
      } else {
        for (int64_t k = 0; k < r && out.total < cap_; ++k) out.append(body, cap_);
      }
    }
    return result;
  }

  Context& ctx_;
  int64_t at_;
  const int64_t end_;
  const int64_t cap_;
};

// A DDL object of the unit's DDL, with the plan of its entries once asked for.
struct DdlObject {
  int32_t number = 0;
  int64_t record = 0;        // pool index of its directory record
  int32_t entry_length = 0;  // L
  bool limits = false;
  bool planned = false;
  Runs plan;                 // at most L words
};

// The DDL area as KOVGDM leaves it: where the directory and the element lists lie.
struct DdlArea {
  int64_t directory = 0, objects = 0;  // first directory record, number of records
  int64_t data = 0, data_end = 0;      // the element lists: pool indices [data, data_end)
};

DdlArea ddl_area(Context& ctx) {
  const auto& s = ctx.sysfil;
  DdlArea a;
  if (s.BASEDD < 1 || ctx.W(s.BASEDD) == -1) return a;
  const int64_t limit = s.BASRML;  // the area ends where the object index begins
  a.directory = int64_t{s.BASEDD} + kDdlHeaderWords;
  const int64_t room = std::max<int64_t>(0, (limit - a.directory) / kDdlRecordWords);
  a.objects = std::clamp<int64_t>(ctx.W(int64_t{s.BASEDD} + 1), 0, room);
  a.data = a.directory + kDdlRecordWords * a.objects;
  a.data_end = std::min(a.data + std::max<int64_t>(ctx.W(int64_t{s.BASEDD} + 2), 0), limit);
  return a;
}

// ---------------------------------------------------------------------------------------------
// The walk over one block.

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
  const DdlArea a = ddl_area(ctx_);
  int64_t record = 0;
  if (number >= 1 && ctx_.grdblk.DBDLEN[unit_] <= kStandardEntryWords) {
    if (number <= a.objects) record = a.directory + kDdlRecordWords * (int64_t{number} - 1);
  } else if (number >= 1 && number <= ctx_.sysfil.DDLCFG / kDdlObjectScale && a.objects > 0) {
    // Extended entries: the object index names the record, which must carry the number.
    const int64_t e = ctx_.W(int64_t{ctx_.sysfil.BASRML} + number - 1);
    if (e >= a.directory && e < a.data && (e - a.directory) % kDdlRecordWords == 0 && ctx_.W(e + 4) == number) {
      record = e;
    }
  }
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
  const DdlArea a = ddl_area(ctx_);
  const int64_t offset = std::abs(int64_t{ctx_.W(o.record + 2)});
  const int64_t start = int64_t{ctx_.sysfil.BASEDD} + offset;
  if (start >= a.data && start < a.data_end && o.entry_length > 0) {
    // The list runs at most up to the next list of the DDL.
    int64_t end = a.data_end;
    for (int64_t k = 0; k < a.objects; ++k) {
      const int64_t other_offset = ctx_.W(a.directory + kDdlRecordWords * k + 2);
      const int64_t other = int64_t{ctx_.sysfil.BASEDD} + std::abs(other_offset);
      if (other > start && other < end) end = other;
    }
    o.plan = ListParser(ctx_, start, end, o.entry_length).parse();
  }
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
      if ((r.cls == kDClass || r.cls == kXClass) && inside % 2 == 1) {
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
  const bool pairs = !p.runs.empty() && (p.runs[0].cls == kDClass || p.runs[0].cls == kXClass);
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

// Words 1, 3 and 4 of block `block` of this unit as they stand now: from its page when the
// pool holds it (the newest words), else from the file. False when it cannot be read.
bool BlockWalk::chain_link(int32_t block, int32_t& code, int32_t& previous, int32_t& used) {
  const auto& s = ctx_.sysfil;
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    if (page_block(ctx_, p) == block && std::abs(page_unit(ctx_, p)) == unit_) {
      const int32_t* b = ctx_.words(page_buffer(ctx_, p), kDataHeaderWords);
      code = b[0], previous = b[2], used = b[3];
      return true;
    }
  }
  if (length_ < kDataHeaderWords) return false;
  const int32_t width = file_words_per_word(filtyp_);
  std::vector<int32_t> raw(static_cast<std::size_t>(length_) * width);
  int32_t control = ctx_.grdblk.DBHNDL[unit_], number = block, iret = 0;
  BIOXXX(ctx_, bio::READ, control, nullptr, 0, raw.data(), length_ * width, &number, iret);
  if (iret != 0) return false;
  const Layout lay = layout_of(filtyp_);
  int32_t header[kDataHeaderWords];
  read_words(kIntegerClass, lay, reinterpret_cast<const unsigned char*>(raw.data()), header, kDataHeaderWords);
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
  const bool uniform = p.runs.size() == 1 && p.runs[0].cls != kDClass && p.runs[0].cls != kXClass;
  const int64_t offset = previous == 0 || uniform ? 0 : stream_offset(previous);
  if (offset < 0) return integers(data);
  stream(o, offset, data);
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
    const int32_t kind = code > 0 ? code % kKindScale : 0, q = code / kKindScale;
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

int32_t conversion_class(int32_t element_type) {
  switch (element_type) {
    case kRealClass:
    case kDClass:
    case kCharacterClass:
    case kXClass: return element_type;
    default: return kIntegerClass;
  }
}

void CNVTYP(Context& ctx, int32_t CLASS, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM,
            int64_t& FROMPOS, int64_t TO, int64_t& TOPOS) {
  if (CLASS < 1 || CLASS > 7 || NWORDS == 0 || (DIRECTION != kRead && DIRECTION != kWrite)) return;
  const int64_t n = std::abs(int64_t{NWORDS});
  const Layout lay = layout_of(FILTYP);
  const int64_t file_bytes = n * lay.bytes;
  const bool read = DIRECTION == kRead;
  const int64_t file_base = read ? FROM : TO, file_pos = read ? FROMPOS : TOPOS;
  const int64_t native_base = read ? TO : FROM, native_pos = read ? TOPOS : FROMPOS;
  // Byte positions stay on word boundaries: every class takes whole file words.
  auto* file = reinterpret_cast<unsigned char*>(ctx.words(file_base + file_pos / 4, file_bytes / 4));
  int32_t* native = ctx.words(native_base + native_pos, n);
  if (read) {
    read_words(effective_class(CLASS), lay, file, native, n);
  } else {
    write_words(effective_class(CLASS), lay, native, file, n);
  }
  if (NWORDS > 0) {
    FROMPOS += read ? file_bytes : n;
    TOPOS += read ? n : file_bytes;
  }
}

void CNVINT(Context& ctx, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM, int64_t& FROMPOS,
            int64_t TO, int64_t& TOPOS) {
  CNVTYP(ctx, kIntegerClass, DIRECTION, FILTYP, NWORDS, FROM, FROMPOS, TO, TOPOS);
}

void CNVCHR(Context& ctx, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM, int64_t& FROMPOS,
            int64_t TO, int64_t& TOPOS) {
  CNVTYP(ctx, kCharacterClass, DIRECTION, FILTYP, NWORDS, FROM, FROMPOS, TO, TOPOS);
}

void CNVINT(Context& ctx, int32_t direction, int32_t filtyp, int32_t nwords, int64_t from, int64_t to) {
  int64_t from_pos = 0, to_pos = 0;
  if (nwords > 0) CNVINT(ctx, direction, filtyp, nwords, from, from_pos, to, to_pos);
}

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
