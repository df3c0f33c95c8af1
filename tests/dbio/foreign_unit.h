#pragma once
// A scratch pool for the tests of word and block conversion: its exchange area holds the file
// side and the buffer of page 1 the native side, as when a block is read (Pool); and unit 1 of it
// set up as a foreign database of some layout with a DDL of the given objects in the DDL area,
// whose blocks BLKFIX converts (BlockPool).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dbio/block_walk.h"
#include "dbio/words.h"
#include "dbio/names.h"
#include "testkit/foreign_writer.h"
#include "testkit/scratch_database.h"

namespace dbiotest {

using Bytes = std::vector<unsigned char>;
using Words = std::vector<int32_t>;
using support::kLittleEndian64;

constexpr int32_t kUnit = 1;

// A configured pool whose exchange area holds the file side and page 1 the native side.
class Pool {
 public:
  Pool() : file(db.ctx.sysfil.BASEXB), native(db.ctx.W(db.ctx.sysfil.BASEAD + 1)) {}

  // Converts `words` of class `cls` to the file side; returns the bytes and checks the advance.
  Bytes write(int32_t cls, int32_t filtyp, const Words& words) {
    std::copy(words.begin(), words.end(), db.ctx.words(native, static_cast<int64_t>(words.size())));
    int64_t native_pos = 0, file_pos = 0;
    dbio::CNVTYP(db.ctx, cls, dbio::kWrite, filtyp, static_cast<int32_t>(words.size()), native, native_pos, file,
                 file_pos);
    EXPECT_EQ(native_pos, static_cast<int64_t>(words.size()));
    return file_bytes(file_pos);
  }
  Words read(int32_t cls, int32_t filtyp, const Bytes& bytes, int32_t n) {
    set_file_bytes(bytes);
    int64_t native_pos = 0, file_pos = 0;
    dbio::CNVTYP(db.ctx, cls, dbio::kRead, filtyp, n, file, file_pos, native, native_pos);
    EXPECT_EQ(file_pos, static_cast<int64_t>(bytes.size()));
    const int32_t* w = db.ctx.words(native, n);
    return Words(w, w + n);
  }
  Bytes file_bytes(int64_t n) {
    const auto* p = reinterpret_cast<const unsigned char*>(db.ctx.words(file, (n + 3) / 4));
    return Bytes(p, p + n);
  }
  void set_file_bytes(const Bytes& bytes) {
    std::memcpy(db.ctx.words(file, static_cast<int64_t>(bytes.size() + 3) / 4), bytes.data(), bytes.size());
  }

  support::ScratchDatabase db{1024, 15};
  const int64_t file, native;
};

struct DdlObject {
  std::string name;
  int32_t length;
  Words list;
  int32_t number = 0;  // with extended entries: the object number (else its position)
};

// The DDL group's data words (version, second word, size, directory, lists).
inline Words ddl_words(const std::vector<DdlObject>& objects) {
  Words dir, data;
  const auto q = static_cast<int32_t>(objects.size());
  for (int32_t i = 0; i < q; ++i) {
    const auto& o = objects[static_cast<size_t>(i)];
    std::string name = o.name;
    name.resize(8, ' ');
    dir.insert(dir.end(), {dbio::pack_name_word(name.c_str()), dbio::pack_name_word(name.c_str() + 4),
                           3 + 5 * q + static_cast<int32_t>(data.size()), o.length, o.number ? o.number : i + 1});
    data.insert(data.end(), o.list.begin(), o.list.end());
  }
  Words ddl = {20120, 2012, q * 100000 + static_cast<int32_t>(data.size())};
  ddl.insert(ddl.end(), dir.begin(), dir.end());
  ddl.insert(ddl.end(), data.begin(), data.end());
  return ddl;
}

class BlockPool : public Pool {
 public:
  static constexpr int32_t kBlockWords = 96;

  BlockPool(int32_t filtyp, const std::vector<DdlObject>& objects, int32_t entry_words = 12) : ddl(ddl_words(objects)) {
    auto& g = db.ctx.grdblk;
    g.DBFLTY[kUnit] = filtyp;
    g.BUFSZ[kUnit] = kBlockWords;
    g.DBDLEN[kUnit] = entry_words;
    g.DICNSI[kUnit] = 2;
    g.USDBKS[kUnit] = 2;
    g.DBOPND[kUnit] = 1;
    auto& s = db.ctx.sysfil;
    const int32_t q = ddl[2] / 100000, n = static_cast<int32_t>(ddl.size()) - 3;
    db.ctx.W(s.BASEDD) = ddl[0];
    db.ctx.W(s.BASEDD + 1) = q;
    db.ctx.W(s.BASEDD + 2) = ddl[2] % 100000;
    std::copy(ddl.begin() + 3, ddl.end(), db.ctx.words(s.BASEDD + 3, n));
    for (int32_t i = 0; i < q && entry_words > 12; ++i) {
      const int64_t record = s.BASEDD + 3 + 5 * int64_t{i};
      db.ctx.W(s.BASRML + db.ctx.W(record + 4) - 1) = static_cast<int32_t>(record);
    }
    header.assign(kBlockWords, 0);
    header[0] = kBlockWords;
    header[3] = 2;
    header[10] = 2;
    header[16] = entry_words;
  }

  // The test writer's view of `block` as block 2 of a file.
  support::ForeignWriter writer(const Words& block) const {
    Words image = header;
    image.insert(image.end(), block.begin(), block.end());
    return support::ForeignWriter(image, ddl);
  }
  Bytes fix_write(const Words& block, int32_t number = 2) {
    std::copy(block.begin(), block.end(), db.ctx.words(native, kBlockWords));
    dbio::BLKFIX(db.ctx, dbio::kWrite, kUnit, number, native, file, kBlockWords);
    return file_bytes(int64_t{kBlockWords} * 4 * dbio::file_words_per_word(db.ctx.grdblk.DBFLTY[kUnit]));
  }
  Words fix_read(const Bytes& bytes, int32_t number = 2) {
    set_file_bytes(bytes);
    dbio::BLKFIX(db.ctx, dbio::kRead, kUnit, number, file, native, kBlockWords);
    const int32_t* w = db.ctx.words(native, kBlockWords);
    return Words(w, w + kBlockWords);
  }

  // The class letters that BLKFIX gave the words of `block`, told apart in the 8-byte
  // little-endian layout by the bytes each class would write. A word that one class alone would
  // write so is that class (integer first, where several would); a pair is a pair only when no
  // single class fits its first word.
  std::string classes_written(const Words& block) {
    const Bytes all = fix_write(block);
    std::string letters;
    Pool scratch;
    for (size_t k = 0; k < block.size();) {
      const Bytes one(all.begin() + static_cast<long>(8 * k), all.begin() + static_cast<long>(8 * k + 8));
      const char* single = nullptr;
      const std::pair<int32_t, const char*> candidates[] = {
          {dbio::kIntegerClass, "I"}, {dbio::kCharacterClass, "A"}, {dbio::kRealClass, "R"}};
      for (auto [cls, letter] : candidates) {
        if (!single && one == scratch.write(cls, kLittleEndian64, {block[k]})) single = letter;
      }
      if (single || k + 1 == block.size()) {
        letters += single ? single : "?";
        ++k;
        continue;
      }
      const Bytes two(all.begin() + static_cast<long>(8 * k), all.begin() + static_cast<long>(8 * k + 16));
      const Words pair = {block[k], block[k + 1]};
      letters += two == scratch.write(dbio::kXClass, kLittleEndian64, pair)   ? "Xx"
                 : two == scratch.write(dbio::kDClass, kLittleEndian64, pair) ? "Dd"
                                                                               : "??";
      k += 2;
    }
    return letters;
  }

  Words ddl, header;
};

}  // namespace dbiotest
