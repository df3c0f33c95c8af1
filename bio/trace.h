#pragma once
// The trace file: one comma-separated row per request, switched on by KOV_BIOTRACE.
//
// KOV_BIOTRACE = <flags><file name>, the flags being leading characters of:
//   -   no effect
//   +   append to an existing file (else the file is replaced)
//   *   write a header row first
//   %   sequence-number mode even when the high-resolution counter exists
// With no file name there is no trace.
//
// Rows, each ending in CR LF:
//   header     "ElpTime" or "Seqno","OpCode","RetCode","Cntlwd","BlkNbr/RECL","LogicalName",
//              "FileName/Message" (each in double quotes)
//   no text    first,opcode,retcode,cntlwd,number,,
//   with text  first,opcode,retcode,cntlwd,number,,"text"
// where first is the time since the trace was opened in units of 1/100000 second (elapsed-time
// mode) or the sequence number 1, 2, ... (wrapping from 2147483647 to 1). The LogicalName column
// stays empty.

#include <cstdint>

namespace bio {

class Library;
struct TimerMark;

// Opens the trace from KOV_BIOTRACE, when it names a file.
// REQUIRES: called by the initialisation, after the debug level and the counter are set.
void open_trace(Library& lib);

struct TraceRow {
  int32_t iopt;
  int32_t iret;
  int32_t cntlwd;
  int64_t number;          // BlkNbr/RECL column
  const TimerMark* start;  // the request's start mark when it was timed, else null
  bool with_text;
  const char* text;
  int32_t text_length;
};

// Writes one row when the trace is on; flushes the trace after a CLOSE row.
void write_trace_row(Library& lib, const TraceRow& row);

}  // namespace bio
