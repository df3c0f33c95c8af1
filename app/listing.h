#pragma once
// The listing of data blocks that both programs print while they convert: a header line, then
// one line per data block with its name and qualifiers.
//
//   long form (dictionary entries of 12 descriptor words): the name and qualifiers 1-8
//    DATA BLOCK   PROJECT     SE ID      PATH   SUBCASE    SET ID  APPROACH    DESIGN    P-ITER
//   short form (extended entries): the name and qualifier 1
//    DATA BLOCK      PATH

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

namespace app {

// The banner line of a program: " NAME - V<version> (<date>)", the version and date the two
// programs share.
void print_banner(std::ostream& out, std::string_view program);

// Prints an empty line and the header for a database whose descriptors have DBDLEN words;
// returns how many key words each line shows (10 or 3).
int print_listing_header(std::ostream& out, int32_t DBDLEN);

// Prints one line: three blanks, the 8 name characters of key words 1-2, then key words 3 ..
// `words`, each right-aligned in 10 columns.
void print_listing_line(std::ostream& out, const int32_t* key, int words);

// The 8 characters of a key's name, as stored.
std::string block_name(const int32_t* key);

}  // namespace app
