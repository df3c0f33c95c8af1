#include "dbio/ddl_plan.h"

#include <cstdlib>

#include "dbio/words.h"

namespace dbio {

namespace {

constexpr int32_t kElementScale = 100;  // element code = count * 100 + type
constexpr int32_t kElementTypes = 20;
constexpr int32_t kIntegerType = 2;  // "I "
constexpr int32_t kStandardEntryWords = 12;
// Group codes: -(r * 10000 + n * 100 + form).
constexpr int32_t kFormScale = 100, kParameterScale = 10000;
constexpr int32_t kRepeated = 1, kRepeatedToEnd = 2, kVariant = 3, kBracketed = 4, kBracketEnd = 5;
constexpr int32_t kMaxGroupDepth = 8;

// Reads an element list from the DDL area into runs of element types.
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
      out.append(type, e / kElementScale * ctx_.TYPLEN[type], cap_);
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
      out.append(kIntegerType, span - (out.total - before), cap_);
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

}  // namespace

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

int64_t ddl_object_record(Context& ctx, int32_t unit, int32_t number) {
  const DdlArea a = ddl_area(ctx);
  if (number >= 1 && ctx.grdblk.DBDLEN[unit] <= kStandardEntryWords) {
    if (number <= a.objects) return a.directory + kDdlRecordWords * (int64_t{number} - 1);
  } else if (number >= 1 && number <= ctx.sysfil.DDLCFG / kDdlObjectScale && a.objects > 0) {
    const int64_t e = ctx.W(int64_t{ctx.sysfil.BASRML} + number - 1);
    if (e >= a.directory && e < a.data && (e - a.directory) % kDdlRecordWords == 0 && ctx.W(e + 4) == number) {
      return e;
    }
  }
  return 0;
}

Runs entry_types(Context& ctx, int64_t record, int32_t entry_length) {
  const DdlArea a = ddl_area(ctx);
  const int64_t offset = std::abs(int64_t{ctx.W(record + 2)});
  const int64_t start = int64_t{ctx.sysfil.BASEDD} + offset;
  if (start < a.data || start >= a.data_end || entry_length <= 0) return {};
  // The list runs at most up to the next list of the DDL.
  int64_t end = a.data_end;
  for (int64_t k = 0; k < a.objects; ++k) {
    const int64_t other_offset = ctx.W(a.directory + kDdlRecordWords * k + 2);
    const int64_t other = int64_t{ctx.sysfil.BASEDD} + std::abs(other_offset);
    if (other > start && other < end) end = other;
  }
  return ListParser(ctx, start, end, entry_length).parse();
}

Runs entry_plan(Context& ctx, int64_t record, int32_t entry_length) {
  Runs plan;
  for (const Run& r : entry_types(ctx, record, entry_length).runs) plan.append(conversion_class(r.cls), r.words, entry_length);
  return plan;
}

}  // namespace dbio
