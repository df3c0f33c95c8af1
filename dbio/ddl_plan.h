#pragma once
// Conversion plans: the classes of an entry's words (words.h), as runs, from the element list of
// its DDL object in the DDL area (the unit's DDL as KOVGDM leaves it in the pool).
//
// The DDL area: version, number of objects, data words, then one directory record of 5 words
// per object (name in 2 words, element list offset from BASEDD, entry length, object number),
// then the element lists.
//
// Element lists. Directory record j gives the list's offset from BASEDD (its absolute value is
// used); the list ends at the next list of the DDL, at the end of the DDL's data words, at a code
// 0, or as soon as it describes the object's entry length. A code e > 0 stands for e / 100
// elements of type e mod 100 (1..20). A code e < 0 opens a group: with m = -e, form
// f = m mod 100, items n = (m / 100) mod 100 and parameter r = m / 10000, where an item is one
// code or one whole group:
//   1  the next n items, repeated r times
//   2  the next n items, repeated to the end of the entry
//   3  a variant: the next n items are the alternatives, the r-th of them is in effect; the
//      group spans the longest alternative, the rest of the span (or the whole span, for an r
//      outside 1..n) converts as integers
//   4  the items up to the matching form 5 code, repeated r times
//   5  closes the innermost form 4 group
// Groups nest up to 8 deep. A code of an unknown type or form ends the list where it stands.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dbio/context.h"

namespace dbio {

inline constexpr int32_t kDdlRecordWords = 5;  // name (2), list offset, entry length, object number
inline constexpr int32_t kDdlHeaderWords = 3;  // version, objects, data words
inline constexpr int32_t kDdlObjectScale = 100000;  // DDL size word: objects * 100000 + data words

// A run of words of one class.
struct Run {
  int32_t cls;
  int64_t words;
};

// An entry's words as runs, `total` words in all.
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

// Where the directory and the element lists lie in the DDL area; all 0 when the pool holds no
// DDL. Counts taken from the area are clamped to the area.
struct DdlArea {
  int64_t directory = 0, objects = 0;  // first directory record, number of records
  int64_t data = 0, data_end = 0;      // the element lists: pool indices [data, data_end)
};
DdlArea ddl_area(Context& ctx);

// The pool index of the directory record of DDL object `number` of unit `unit`, 0 when the DDL
// holds no such object. With extended dictionary entries the object index names the record,
// which must carry the number.
int64_t ddl_object_record(Context& ctx, int32_t unit, int32_t number);

// The plan of the entries of the object whose directory record is at pool index `record`: at
// most `entry_length` words; fewer when its element list describes fewer.
Runs entry_plan(Context& ctx, int64_t record, int32_t entry_length);

// The same list as runs of element types (1..20, the types of the pool's TYPLEN table) rather
// than conversion classes; the filler of a variant is "I " (2).
Runs entry_types(Context& ctx, int64_t record, int32_t entry_length);

}  // namespace dbio
