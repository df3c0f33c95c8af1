#include "app/listing.h"

#include <cstring>

#include "app/loadxdb.h"
#include "platform/format.h"

namespace app {

namespace {
constexpr int32_t kStandardDescriptorWords = 12;
constexpr int kNameBytes = 8;
}  // namespace

void print_banner(std::ostream& out, std::string_view program) {
  out << ' ' << program << " - V" << kProgramVersion << " (" << kProgramDate << ")\n";
}

int print_listing_header(std::ostream& out, int32_t DBDLEN) {
  if (DBDLEN <= kStandardDescriptorWords) {
    out << "\n DATA BLOCK   PROJECT     SE ID      PATH   SUBCASE    SET ID  APPROACH    DESIGN    P-ITER\n";
    return 10;
  }
  out << "\n DATA BLOCK      PATH\n";
  return 3;
}

void print_listing_line(std::ostream& out, const int32_t* key, int words) {
  // A qualifier wider than its 10 columns (down to -2147483648) is printed whole.
  std::string line = "   " + block_name(key);
  for (int k = 3; k <= words; ++k) line += platform::iw(key[k - 1], 10);
  line += '\n';
  out.write(line.data(), static_cast<std::streamsize>(line.size()));
}

std::string block_name(const int32_t* key) {
  char name[kNameBytes];
  std::memcpy(name, key, kNameBytes);
  return std::string(name, kNameBytes);
}

}  // namespace app
