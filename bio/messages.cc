#include "bio/messages.h"

#include <cstdio>

#include "bio/requests.h"
#include "platform/syserror.h"

namespace bio {
namespace {

// Texts of the library's codes, from kFirstCode; codes without a text are unassigned.
const char* const kCodeTexts[kLastCode - kFirstCode + 1] = {
    "Invalid IOPT value specified.",                            // 6000
    "Too many files open concurrently.",                        // 6001
    "File closed when read/write requested.",                   // 6002
    "Write invalid - file opened READONLY.",                    // 6003
    "Invalid file index value.",                                // 6004
    "File positioning failed.",                                 // 6005
    "Read/write block number not positive.",                    // 6006
    "Read block number beyond End-of-file.",                    // 6007
    "No file name specified for open/create/getinfo.",          // 6008
    "Specified file is not a disk file.",                       // 6009
    "No RECL value specified for open/create.",                 // 6010
    "",                                                         // 6011
    "",                                                         // 6012
    "Read/write length does not match file RECL.",              // 6013
    "Unable to build temporary name for CREATE.",               // 6014
    "Unable to allocate dynamic memory for data areas.",        // 6015
    "Specified record is beyond maximum for this filesystem.",  // 6016
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",
    "",                                             // 6017..6031
    "** Unexpected EOF encountered reading file.",  // 6032
};

}  // namespace

std::size_t error_text(int32_t code, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  if (code >= kFirstCode && code <= kLastCode) {
    int n = std::snprintf(out, capacity, "%s", kCodeTexts[code - kFirstCode]);
    std::size_t len = n < 0 ? 0 : static_cast<std::size_t>(n);
    return len < capacity ? len : capacity - 1;
  }
  return platform::system_error_text(code, out, capacity);
}

}  // namespace bio
