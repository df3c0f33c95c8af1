#include "app/open_failure.h"

namespace app {

const char* open_failure_text(int32_t status) {
  switch (status) {
    case 1: return "OLD XDB FILE DOES NOT EXIST.";
    case 2: return "DBNUM VALUE IS OUT OF RANGE.";
    case 3: return "XDB FILE IS ALREADY OPEN.";
    case 4: return "NEW XDB FILE ALREADY EXISTS.";
    case 5: return "XDB NAME LENGTH IS INVALID";
    case 6: return "A READ ERROR OCCURED GETTING DATA";
    case 7: return "FILE DOES NOT APPEAR TO BE AN XDB";
    case 8: return "BLOCK SIZE EXCEEDS PAGE CONFIGURATION.";
    case 9: return "XDB FROM DIFFERENT PLATFORM BUT NO DDL.";
    case 10: case 11: return "PAGCFGX CONFIGURATION IS INCORRECT.";
    case 12: return "XDB FILE OPEN FAILED.";
    case 14: return "XDB FILE WAS WRITTEN ON A UNICOS SYSTEM, WHICH IS NOT SUPPORTED.";
    case 15: return "THE HEADER BLOCK OF THE XDB FILE IS DAMAGED.";
    default: return nullptr;
  }
}

}  // namespace app
