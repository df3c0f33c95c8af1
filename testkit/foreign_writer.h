#pragma once
// Test-side writer of XDB files in the foreign word layouts: it takes a native XDB (32-bit
// little-endian words) and writes every block as a file written on another platform would
// hold it, so that tests can read foreign files through the database layer and compare them
// with the native words they came from.
//
// It is the inverse of the database layer's read converters, written apart from them: it
// gives every word of a block a class (one letter per word) from the block's kind and the
// entry layouts of the DDL that the file carries, then writes each word by its class.
//
//   I  integer     4 bytes in the file's order; 8-byte layouts: sign-extended
//   R  real        4 bytes in the file's order; 8-byte layouts: the value as a double
//   A  character   the 4 bytes in storage order; 8-byte layouts: then 4 blanks
//   X x            a pair (low-order word first) as one 8-byte value in the file's order;
//                  8-byte layouts: then 8 zero bytes
//   D d            as X, except that an 8-byte little-endian layout puts the 8 zero bytes first
//
// A pair that a group's data carries from one block into the next is written whole across the
// boundary: its first file word (4 or 8 bytes of the pair's 8 or 16) in the last used data word
// of the one block, its second in word 5 of the next, when the next block (word 2) names the
// block in its word 3, the block in front (word 3) names it in word 2, both carry the same type
// code and hold data words. Otherwise the word on this side is an integer, as is a pair's word
// cut by the end of an entry.
//
// The rules of the walk (which words of each block kind hold what, element lists and their
// groups, the "LIMITS" object, group data continued across blocks) are those documented in
// dbio/words.h and dbio/block_walk.h; a block that the database layer would refuse makes the writer throw
// std::invalid_argument.

#include <cstdint>
#include <string>
#include <vector>

namespace support {

// File types of the foreign layouts.
inline constexpr int32_t kBigEndian32 = 0;
inline constexpr int32_t kBigEndian64 = 2;
inline constexpr int32_t kLittleEndian64 = 3;

class ForeignWriter {
 public:
  // A native XDB as its words: block k (from 1) is words [(k - 1) * B, k * B) with B header
  // word 1. The DDL is read from the group that header word 16 names when word 14 is not 0.
  explicit ForeignWriter(std::vector<int32_t> native);
  // The same with the DDL given as its group's data words (version, second word, size,
  // directory records, element lists) instead of being read from the file.
  ForeignWriter(std::vector<int32_t> native, const std::vector<int32_t>& ddl);

  int32_t block_words() const { return block_words_; }
  int32_t blocks() const { return static_cast<int32_t>(native_.size() / static_cast<size_t>(block_words_)); }

  // The class letters of the words of block `number` (1-based).
  std::string classes(int32_t number) const;
  // Block `number` in layout `filtyp` (0, 2 or 3).
  std::vector<unsigned char> block(int32_t number, int32_t filtyp) const;
  // The whole file.
  std::vector<unsigned char> file(int32_t filtyp) const;

 private:
  struct Object {
    int32_t number = 0;
    int32_t length = 0;    // entry length L
    bool limits = false;
    std::string classes;   // one letter per word of an entry (L letters)
  };

  void read_header();
  void read_ddl(const std::vector<int32_t>& ddl);
  int32_t word(int32_t block, int32_t k) const;  // word k (1-based) of a block; 0 beyond it
  const Object& object(int32_t number) const;
  void paint_entry(std::string& cls, int32_t block, int32_t at, int32_t n, const Object& o, int32_t key) const;
  int64_t stream_offset(int32_t block) const;
  // Whether block `other` holds the other word of a pair that the data of group block `number`
  // carries into it (next: `other` follows `number`) or from it.
  bool holds_other_word(int32_t number, int32_t other, bool next) const;

  std::vector<int32_t> native_;
  int32_t block_words_ = 0;
  int32_t used_blocks_ = 0, dictionary_si_ = 0, entry_words_ = 12;
  std::vector<Object> objects_;
};

// The words of a native XDB file. Throws std::runtime_error when it cannot be read.
std::vector<int32_t> read_native_xdb(const std::string& path);

// Writes the native XDB `native` as `foreign` in layout `filtyp`. Throws std::runtime_error
// when a file cannot be read or written.
void write_foreign_xdb(const std::string& native, const std::string& foreign, int32_t filtyp);

}  // namespace support
