#pragma once
// The text that explains a return code of DBOPEN, as the programs print it under their open
// failure message.

#include <cstdint>

namespace app {

// The text of a DBOPEN return code, or null for a code without one.
const char* open_failure_text(int32_t status);

}  // namespace app
