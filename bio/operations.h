#pragma once
// One request on its way through the library, and the operations that serve it.
//
// BIOXXX (requests.cc) checks the operation code, initialises the library, copies the name out
// of charvar, prints the entry lines, runs the operation, writes the trace row and prints the
// exit line. Each operation below returns the request's iret and sets in the Request what the
// trace row needs (the control word it held, the number column, its start mark when timed).
// Operations that time themselves add the time to their file before they return, while they
// still hold the file's lock.

#include <cstdint>

#include "bio/timing.h"

namespace bio {

class Library;

inline constexpr int kMaxNameLength = 255;
inline constexpr int kMaxMessageLength = 256;

struct Request {
  int32_t iopt = 0;
  int32_t cntlwd = 0;  // control word as held during the request (the trace's Cntlwd column)
  char* charvar = nullptr;
  int32_t chrvrl = 0;  // 0 when charvar is null or the length is negative
  int32_t* intarray = nullptr;
  int32_t intarrayleng = 0;   // 0 when intarray is null or the length is negative
  int32_t* intvar = nullptr;  // null when absent
  int32_t intvar_value = 0;   // *intvar, or 0 when absent
  bool parallel = false;      // parallel mode as it was when the request began

  // Only the characters up to the NUL are ever set: a READ or WRITE does not pay for clearing
  // buffers it never uses.
  char name[kMaxNameLength + 1];        // the name taken from charvar; "" when none
  char message[kMaxMessageLength + 1];  // GETERRMSG's text
  // The library's own text for the trace row when chrvrl is 0 (the name, or GETERRMSG's text).
  const char* own_text = name;
  int32_t own_text_length = 0;

  int64_t trace_number = 0;  // the BlkNbr/RECL column
  bool timed = false;        // start holds the request's start mark
  TimerMark start;

  bool has_name() const { return name[0] != '\0'; }
};

// Each returns iret. `cntlwd` is the caller's control word.
int32_t do_openinfo(Library& lib, Request& r, int32_t& cntlwd);
int32_t do_open(Library& lib, Request& r, int32_t& cntlwd);  // CREATE, OPENRW, OPENRO
int32_t do_transfer(Library& lib, Request& r);               // READ, WRITE, TRUNCATE
int32_t do_close(Library& lib, Request& r, int32_t& cntlwd);
int32_t do_erase(Library& lib, Request& r);
int32_t do_getrecl(Library& lib, Request& r);
int32_t do_geterrmsg(Library& lib, Request& r);
int32_t do_inquire(Library& lib, Request& r);

// Prints the first 16 words of a transferred record in hex, eight to a line (debug level 3).
void dump_words(Library& lib, const int32_t* words, int32_t count);

}  // namespace bio
