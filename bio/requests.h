#pragma once
// The block I/O library's request entry, BIOXXX.
//
// The library stores fixed-length records in ordinary files. A file is a sequence of records of
// RECL 4-byte words, numbered from 1: record n occupies bytes (n-1)*RECL*4 up to n*RECL*4.
// Every request (create, open, read, write, truncate, inquire, close, erase, ...) is one call of
// BIOXXX with an operation code:
//
//   iopt          operation code, OPENINFO..SETPARALLEL below
//   cntlwd        control word of the file: its slot in the file table (1..2045), negative when
//                 the file was opened read-only, 0 for none. Open requests ask for a slot with
//                 it and get the slot taken back; CLOSE sets it to 0.
//   charvar       file name, OPENINFO keyword data, or the buffer that GETERRMSG fills; not
//                 NUL-terminated. At most 255 characters are used as a name; a charvar that is
//                 null, of length 0 or beginning with NUL is no name.
//   chrvrl        length of charvar in characters
//   intarray      data buffer of READ and WRITE (RECL words), or an information array
//   intarrayleng  length of intarray in words
//   intvar        block number, RECL, or error code; null stands for an absent argument (0).
//                 GETRECL returns the RECL in it.
//   iret          0 on success; a library code 6000..6032 below; or a system error number
//                 (always below 6000). INQUIRE also returns 1 for a file whose last record is
//                 partial.
//
// Nothing a caller passes can make the library fail other than with a return code: bad
// lengths, absurd block numbers and stale control words are all answered with a code.

#include <cstdint>
#include <iosfwd>

namespace bio {

// Operation codes.
inline constexpr int32_t OPENINFO = 0;  // options for this thread's next open
inline constexpr int32_t CREATE = 1;    // create or replace a file (no name: a temporary file)
inline constexpr int32_t OPENRW = 2;    // open an existing file for reading and writing
inline constexpr int32_t OPENRO = 3;    // open an existing file for reading
inline constexpr int32_t WRITE = 4;     // write record intvar from intarray
inline constexpr int32_t READ = 5;      // read record intvar into intarray
inline constexpr int32_t CLOSE = 6;
inline constexpr int32_t ERASE = 7;  // delete a file by name
inline constexpr int32_t GETRECL = 8;
inline constexpr int32_t GETERRMSG = 9;   // text of return code intvar
inline constexpr int32_t TRACEBACK = 10;  // does nothing
inline constexpr int32_t INQUIRE = 11;
inline constexpr int32_t TRUNCATE = 12;    // keep intarray(1) records
inline constexpr int32_t DISCONNECT = 13;  // does nothing
inline constexpr int32_t SETPARALLEL = 14;
inline constexpr int32_t kOperationCount = 15;

// Return codes.
inline constexpr int32_t kInvalidIopt = 6000;
inline constexpr int32_t kTooManyFiles = 6001;
inline constexpr int32_t kFileClosed = 6002;
inline constexpr int32_t kReadOnly = 6003;
inline constexpr int32_t kInvalidIndex = 6004;
inline constexpr int32_t kPositioningFailed = 6005;
inline constexpr int32_t kBlockNotPositive = 6006;
inline constexpr int32_t kBeyondEndOfFile = 6007;
inline constexpr int32_t kNoFileName = 6008;
inline constexpr int32_t kNotDiskFile = 6009;
inline constexpr int32_t kNoRecl = 6010;
inline constexpr int32_t kLengthNotRecl = 6013;
inline constexpr int32_t kNoTemporaryName = 6014;
inline constexpr int32_t kNoMemory = 6015;
inline constexpr int32_t kBeyondFileSystemLimit = 6016;
inline constexpr int32_t kUnexpectedEof = 6032;  // the file ended inside a record it reported
inline constexpr int32_t kFirstCode = 6000;
inline constexpr int32_t kLastCode = 6032;

// INQUIRE's iret for a file that ends with a partial record.
inline constexpr int32_t kPartialLastRecord = 1;

// One library: its file table, trace, settings and output streams (library.h). Every request
// is served by one; control words of one library mean nothing to another. A program that runs
// the database layer keeps its own for the run; callers that do not care share the process's.
class Library;
Library& process_library();

void BIOXXX(Library& lib, int32_t iopt, int32_t& cntlwd, char* charvar, int32_t chrvrl,
            int32_t* intarray, int32_t intarrayleng, int32_t* intvar, int32_t& iret);
// The same request, served by the process's library.
void BIOXXX(int32_t iopt, int32_t& cntlwd, char* charvar, int32_t chrvrl, int32_t* intarray,
            int32_t intarrayleng, int32_t* intvar, int32_t& iret);

// A writable file keeps its recent records in memory (block_cache.h). write_out makes the file of
// control word `cntlwd` on disk what its transfers made it: its cached records written and the
// room reserved ahead given back. Returns 0 (also for a read-only or unknown control word) or the
// system error, with the block that could not be written in `failed_block` (0 when the cut
// failed). CLOSE does the same before it closes.
int32_t write_out(Library& lib, int32_t cntlwd, int64_t& failed_block);

// After a READ or WRITE of control word `cntlwd` that failed: the block whose write failed when
// that request had to write another cached record out to make room (so the failure is that
// block's write, not the requested transfer), else 0.
int64_t failed_write_out(Library& lib, int32_t cntlwd);

}  // namespace bio
