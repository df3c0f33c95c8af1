#pragma once
// The database layer's shared state, in one object.
//
// Everything the layer keeps between calls lives here: the per-unit control values (/GRDBLK/),
// the paging pool's bookkeeping (/SYSFIL/), the logical-file table (/GRFIST/), the open-unit
// range, the debug flags, and the paging pool itself, an array of 32-bit words addressed by
// 1-based word index W(k) from the base that the pool configuration keeps. Routines of the layer
// take the context explicitly, so a test builds a fresh one and sees exactly what each touched.
//
// Pool layout (computed by PAGSET; entry i of an array is W(base + i)):
//
//   W(BASTWO+1 .. BASTWO+32)   powers of two 2^0 .. 2^31
//   W(DBASEL+i), W(DBASEP+i)   dictionary-cache slot i: link, page number   (i = 1..NPDICT)
//   W(BASELL+p), W(BASEBL+p)   page p: down link, up link                   (p = 1..NOFP)
//   W(BASEDB+p), W(BASEBN+p)   page p: unit (negative = modified), block number
//   W(BASEAD+p)                page p: index of its buffer's first word
//   page buffers               NOFP buffers of PAGSIZ words, each starting at an odd index
//   W(BASEXB ..)               exchange area, 2*PAGSIZ words (blocks of foreign word layouts)
//   W(BASEDD ..)               DDL area: version, objects, data words, then the DDL body
//   W(BASRML ..)               DDL object index: W(BASRML+k-1) = record of DDL object k

#include <array>
#include <cstdint>
#include <memory>
#include <ostream>

#include "platform/units.h"

namespace bio {
class Library;
}

namespace dbio {

inline constexpr int kUnits = 30;              // database units 1..30
inline constexpr int kLogicalFiles = 30;       // logical-file records 1..30
inline constexpr int kRecordWords = 39;        // words of one logical-file record
inline constexpr int kKeyWords = 12;           // a dictionary key: 8-character name, 10 qualifiers
inline constexpr int kDebugFlags = 30;
inline constexpr int32_t kPoolArrayWords = 1131648;  // the program's pool array

// Debug flags with a reader.
inline constexpr int kTraceBlocks = 20;      // block service trace lines
inline constexpr int kTraceDictionary = 21;  // dictionary insertion trace lines
inline constexpr int kDumpOnMessage = 22;    // shared-state dump after every DBIO message

// Per-unit array indexed by unit number 1..30 (element 0 unused).
using PerUnit = std::array<int32_t, kUnits + 1>;

// /GRDBLK/: per-unit control values. The first 18 are header words 1..18 of the unit's file.
struct Grdblk {
  PerUnit BUFSZ{}, MAXBKS{}, FREBKS{}, USDBKS{}, DEDBKS{}, DICTPI{}, NUMDB{}, INFINU{}, DICFDB{},
      DICNDB{}, DICNSI{}, DICFSI{}, GRFNUM{}, DDLVER{}, DDLSIZ{}, DDLBLK{}, DBDLEN{}, SRBLK{};
  PerUnit DBOPND{};  // 0 closed, 1 read-only, 2 new file, 3 open for update
  PerUnit DBFLTY{};  // file type: 1 native, other values a foreign word layout
  PerUnit DBHNDL{};  // block I/O control word of the open file
};

// /SYSFIL/: the pool's bookkeeping, in the order the state dump prints it.
struct Sysfil {
  int32_t OUTPUT = 0, POOLEN = 0, PAGSIZ = 0, NOFP = 0, NPDICT = 0, NPOOL = 0, FREE = 0, LOCKED = 0,
          BASELL = 0, BASEDB = 0, BASEAD = 0, BASEBN = 0, DLSTR = 0, DBASEL = 0, DBASEP = 0, BASEDD = 0,
          DDLCFG = 0, BASTWO = 0, BASTRN = 0, BASEXB = 0, BASELP = 0, BASEBL = 0, BASRML = 0,
          LSTUSD = 0, DICDBB = 0, DICDBO = 0, IDATEV = 0, ITIMEV = 0;

  static constexpr int kCount = 28;
  std::array<int32_t, kCount> values() const {
    return {OUTPUT, POOLEN, PAGSIZ, NOFP,   NPDICT, NPOOL,  FREE,   LOCKED, BASELL, BASEDB,
            BASEAD, BASEBN, DLSTR,  DBASEL, DBASEP, BASEDD, DDLCFG, BASTWO, BASTRN, BASEXB,
            BASELP, BASEBL, BASRML, LSTUSD, DICDBB, DICDBO, IDATEV, ITIMEV};
  }
};

// /GRFIST/: the logical-file table. record[l][k] is word k (1..39) of record l (1..30);
// name[l][k] is word k (1..12) of the key kept beside record l.
struct Grfist {
  int32_t count = 1;  // highest record number in use (1 when none)
  std::array<std::array<int32_t, kRecordWords + 1>, kLogicalFiles + 1> record{};
  std::array<std::array<int32_t, kKeyWords + 1>, kLogicalFiles + 1> name{};
};

class Context {
 public:
  // The run's message units and block I/O library: the run owns both, and both outlive the
  // context.
  Context(platform::Units& units, bio::Library& block_io);
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;

  Grdblk grdblk;
  Sysfil sysfil;
  Grfist grfist;
  int32_t DBFRST = 1, DBLAST = 1;
  std::array<bool, kDebugFlags + 1> DBGFLG{};  // 1-based
  // Set while a fatal message writes the pool back, so that a failure in that flush stops the run
  // instead of flushing again.
  bool flushing_for_message = false;
  // Writes every modified page back before a fatal message stops the run. The layer that opens
  // and closes databases installs it when it configures the pool; until then there is nothing to
  // write.
  void (*flush_before_stop)(Context&) = nullptr;

  // Element-type tables: code and word count of element type t = 1..20.
  std::array<std::array<char, 2>, 21> TYPCOD{};
  std::array<int32_t, 21> TYPLEN{};

  platform::Units& units;
  // Serves every block I/O request the layer makes.
  bio::Library& block_io;
  // The unit of DBIO messages and trace lines.
  std::ostream& out() { return units.msg(); }

  // The program's pool array (kPoolArrayWords words, 1-based: array(1) is its first word).
  int32_t* array(int64_t index) { return pool_array_.get() + (index - 1); }
  // Sets the pool base to the given array word and the pool's length in words.
  void set_pool(int32_t* base, int64_t words) {
    base_ = base;
    pool_words_ = words;
  }
  int64_t pool_words() const { return pool_words_; }

  // Pool word k (1-based). Every pool index the layer computes goes through here, so an index
  // taken from a damaged block can never reach outside the pool: it stops the run instead.
  int32_t& W(int64_t k) {
    if (k < 1 || k > pool_words_) [[unlikely]] pool_index_fault(k, 1);
    return base_[k - 1];
  }
  // Words W(k) .. W(k+n-1) as one run; checked as a whole.
  int32_t* words(int64_t k, int64_t n) {
    if (k < 1 || n < 0 || k - 1 + n > pool_words_) [[unlikely]] pool_index_fault(k, n);
    return base_ + (k - 1);
  }

 private:
  [[noreturn]] void pool_index_fault(int64_t k, int64_t n);

  std::unique_ptr<int32_t[]> pool_array_;
  int32_t* base_ = nullptr;
  int64_t pool_words_ = 0;
};

}  // namespace dbio
