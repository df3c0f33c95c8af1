#pragma once
// The database layer's road to the block I/O library: the call form of BIOXXX that the layer
// uses (names lose their trailing blanks) and BIOMSG, which reports a failed request as
// "MESSAGE 1001" with the library's own text for the code.

#include <cstdint>
#include <string_view>

#include "dbio/context.h"

namespace dbio {

// BIOXXX as the layer calls it, served by the run's block I/O library (ctx.block_io): for the
// operations that take a name (OPENINFO, CREATE, OPENRW, OPENRO, CLOSE, ERASE, GETRECL, INQUIRE,
// DISCONNECT) trailing blanks of CHARVAR are not counted.
void BIOXXX(Context& ctx, int32_t IOPT, int32_t& CNTLWD, char* CHARVAR, int32_t CHRVRL, int32_t* INTARR, int32_t INTARL,
            int32_t* INTVAR, int32_t& IRET);

// Return codes that no library operation returns, reported with texts of their own.
inline constexpr int32_t kBlockCountReached = -123457;
inline constexpr int32_t kFileSizeReached = -123456;

// Reports block I/O return code CODE of operation IOPT (on block BLOCK for READ and WRITE) for
// unit DBNUM, on behalf of ROUTINE. FATAL is set true: every such error is fatal to the caller.
void BIOMSG(Context& ctx, int32_t DBNUM, int32_t CODE, int32_t IOPT, int32_t BLOCK, std::string_view ROUTINE,
            bool& FATAL);

}  // namespace dbio
