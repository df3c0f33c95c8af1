#pragma once
// Typed items and records of the neutral value stream.
//
// An item is a type code t (the first value) followed by its payload; "digits" are values that
// carry 5 bits each, most significant first.
//
//   t      item                  values   result
//   0      logical true          1        one word, -1
//   1      logical false         1        one word, 0
//   2      integer zero          1        one word, 0
//   3      integer               2+n      t, h, n = h mod 16 digits; negated when h > 15
//   4      real zero             1        one word, 0.0
//   5      real                  10       t, h, e, 7 digits: +-M * 10^(x-8), single precision
//   6, 13  double zero           1        two words, 0.0
//   7, 14  double                17       t, h, e, 7 + 7 digits: +-(M1 + M2*10^-7) * 10^(x-8)
//   8      four blanks           1        one word of four blank characters
//   9      four characters       5        t, then four character values
//   10     integer minus one     1        one word, -1
//   11     real, all bits set    1        one word, FFFFFFFF
//   12     double, all bits set  1        two words, FFFFFFFF each
//   15..63 record end mark       1        ends the record
//
// For reals and doubles the exponent is x = e + 32*(h mod 2), negated when h has the bit of
// value 4; the value is negated when h has the bit of value 8. A two-word item holds the IEEE
// double low-order word first; a character word holds its characters in storage order.

#include <cstdint>
#include <span>

#include "neutral/stream.h"

namespace neutral {

// Result codes of CVTREC and of the decoders.
inline constexpr int kFilled = 0;  // the buffer limit was reached / all N items decoded
inline constexpr int kEnded = 1;   // a record end mark ended the record / next value not of the family

// Reads items into buf until NMAX words are filled (returns kFilled; nothing more is consumed) or
// a record end mark has been consumed (returns kEnded; NMAX then holds the alphabet length minus
// the mark's value, so callers set NMAX before every call). NREAD := number of items read. When
// `words` is given it receives the number of words filled (a two-word item counts two).
//
// A two-word item that begins in word NMAX fills words NMAX and NMAX+1; its second word is stored
// only when buf has room for it, so a buffer of NMAX+1 words keeps every word and a smaller one
// is never written past its end. NMAX is limited to the buffer's size.
int CVTREC(Stream& s, int mode, int32_t& nmax, int32_t& nread, std::span<int32_t> buf,
           int32_t* words = nullptr);

// Values from kFirstMark on are record end marks.
inline constexpr int32_t kFirstMark = 15;

// One token of the value stream as CVTREC takes it: an item decoded into one or two words, or a
// record end mark (width 0, words[0] = the mark's value).
struct Token {
  int32_t words[2];
  int32_t width;
};

// Decodes and consumes the next token: an item's words into token.words and its width, or a
// record end mark (width 0).
void decode_token(Stream& s, Token& token);

// CVTREC's making of a record from tokens, whatever gives them: take() consumes the next token
// and returns it (a const Token&); `alphabet_length` is the stream's.
template <typename Take>
int assemble_record(Take take, int alphabet_length, int32_t& nmax, int32_t& nread, std::span<int32_t> buf,
                    int32_t* words) {
  const int64_t size = static_cast<int64_t>(buf.size());
  const int64_t limit = nmax < size ? nmax : size;
  int64_t w = 0;
  nread = 0;
  auto finish = [&](int result) {
    if (words) *words = static_cast<int32_t>(w < size ? w : size);
    return result;
  };
  for (;;) {
    if (w + 1 > limit) return finish(kFilled);
    const Token& token = take();
    if (token.width == 0) {
      if (token.words[0] == kFirstMark) ++nread;  // taken for an item until its decoder refuses it
      nmax = alphabet_length - token.words[0];
      return finish(kEnded);
    }
    ++nread;
    buf[w] = token.words[0];
    if (token.width == 2 && w + 1 < size) buf[w + 1] = token.words[1];
    w += token.width;
  }
}

// The decoders: each decodes up to N items of its family into OUT (one or two words per item)
// and returns kFilled with NDONE = N, or kEnded with NDONE = the items decoded when the next value
// is not of its family (nothing of that value is consumed).
int CVTLOG(Stream& s, int n, int32_t* out, int& ndone);  // codes 0, 1
int CVTINT(Stream& s, int n, int32_t* out, int& ndone);  // codes 2, 3, 10
int CVTREA(Stream& s, int n, int32_t* out, int& ndone);  // codes 4, 5, 11
int CVTDBL(Stream& s, int n, int32_t* out, int& ndone);  // codes 6, 7, 12 (two words each)
int CVTDBX(Stream& s, int n, int32_t* out, int& ndone);  // codes 13, 14 (two words each)
int CVTCHR(Stream& s, int n, int32_t* out, int& ndone);  // codes 8, 9

// Exponents an item can carry: e is 0 .. 63, plus 32 from h.
inline constexpr int kMinExponent = -95;
inline constexpr int kMaxExponent = 95;

// 10^x for every exponent an item can carry, as correctly rounded doubles.
// REQUIRES: kMinExponent <= x <= kMaxExponent.
double power_of_ten(int x);

// The reader's decoding of one item from its values, type code first, all of them at hand: the
// word of a real item (code 5), and the two words of a double item (7 or 14) into out[0..1].
// Writers check their encodings with these, so that what they write reads back as they meant.
int32_t real_item_word(const int32_t* values);
void double_item_words(const int32_t* values, int32_t* out);

}  // namespace neutral
