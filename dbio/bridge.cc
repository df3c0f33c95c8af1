#include "dbio/bridge.h"

#include <ostream>
#include <string>

#include "bio/requests.h"
#include "platform/format.h"

namespace dbio {

namespace {

bool takes_name(int32_t iopt) {
  switch (iopt) {
    case bio::OPENINFO: case bio::CREATE: case bio::OPENRW: case bio::OPENRO: case bio::CLOSE:
    case bio::ERASE: case bio::GETRECL: case bio::INQUIRE: case bio::DISCONNECT:
      return true;
    default:
      return false;
  }
}

constexpr int32_t kMessageBufferChars = 132;

}  // namespace

void BIOXXX(Context& ctx, int32_t IOPT, int32_t& CNTLWD, char* CHARVAR, int32_t CHRVRL, int32_t* INTARR, int32_t INTARL,
            int32_t* INTVAR, int32_t& IRET) {
  int32_t length = CHRVRL;
  if (takes_name(IOPT)) {
    while (length > 0 && CHARVAR[length - 1] == ' ') --length;
  }
  bio::BIOXXX(ctx.block_io, IOPT, CNTLWD, CHARVAR, length, INTARR, INTARL, INTVAR, IRET);
}

void BIOMSG(Context& ctx, int32_t DBNUM, int32_t CODE, int32_t IOPT, int32_t BLOCK, std::string_view ROUTINE,
            bool& FATAL) {
  using platform::iw;
  std::ostream& out = ctx.out();
  FATAL = true;
  int32_t control = ctx.grdblk.DBHNDL[DBNUM];
  const bool reserved = CODE == kBlockCountReached || CODE == kFileSizeReached;
  char text[kMessageBufferChars];
  int32_t info[4] = {0, 0, 0, -1};
  int32_t levels = 0;
  if (!reserved) {
    int32_t code = CODE, iret = 0;
    BIOXXX(ctx, bio::GETERRMSG, control, text, 0, info, 4, &code, iret);
    levels = info[1];
  }

  out << " *** SYSTEM FATAL MESSAGE 1001 (" << ROUTINE << ")\n";
  std::string line = "ERROR ENCOUNTERED ";
  switch (IOPT) {
    case bio::OPENINFO: case bio::CREATE: case bio::OPENRW: case bio::OPENRO: line += "OPENING FILE"; break;
    case bio::WRITE: case bio::READ:
      line += (IOPT == bio::WRITE ? "WRITING" : "READING");
      line += " BLOCK " + iw(BLOCK, 10);
      break;
    case bio::CLOSE: line += "CLOSING FILE"; break;
    default: line += "PROCESSING FILE"; break;
  }
  line += ", ERROR CODE = " + iw(CODE, 5) + ".";
  out << "     " << line << '\n';
  out << "     DATA BASE NUMBER = " << iw(DBNUM, 3) << ", UNIT = " << iw(ctx.grdblk.GRFNUM[DBNUM], 3)
      << ", MESSAGE IS --\n";

  if (CODE == kBlockCountReached) {
    out << "     THE MAXIMUM ALLOWABLE BLOCK COUNT (16M) HAS BEEN REACHED.\n";
  } else if (CODE == kFileSizeReached) {
    out << "     THE MAXIMUM ALLOWABLE FILE SIZE LIMIT (2GB) HAS BEEN REACHED.\n";
  } else {
    for (int32_t k = 1; k <= (levels > 1 ? levels : 1); ++k) {
      info[3] = k;
      int32_t code = CODE, iret = 0;
      BIOXXX(ctx, bio::GETERRMSG, control, text, kMessageBufferChars, info, 4, &code, iret);
      if (iret == 0 && info[0] > 0) {
        out << "     " << std::string_view(text, info[0] < kMessageBufferChars ? info[0] : kMessageBufferChars) << '\n';
      }
    }
  }
}

}  // namespace dbio
