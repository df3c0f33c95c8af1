#pragma once
// Texts of return codes, as GETERRMSG gives them.
//
// The library's own codes 6000..6032 have fixed texts (the unassigned ones an empty text); any
// other code is a system error number and gets the system's text.

#include <cstddef>
#include <cstdint>

namespace bio {

// Copies the text of `code` into `out` (capacity bytes, NUL included) and returns its length.
std::size_t error_text(int32_t code, char* out, std::size_t capacity);

}  // namespace bio
