#include "bio/openinfo.h"

#include <cctype>
#include <cstring>
#include <new>

#include "bio/library.h"
#include "bio/operations.h"
#include "bio/requests.h"
#include "platform/locks.h"

namespace bio {
namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

struct Keyword {
  const char* name;
  uint32_t flag;
};
constexpr Keyword kKeywords[] = {
    {"RAW", kOpenRaw}, {"TIMING", kOpenTiming}, {"REPORT", kOpenReport}};

// One entry "KEYWORD=VALUE" (or "KEYWORD#VALUE"), `entry` holding its characters with the
// leading blanks gone. Entries without a separator or without a value are skipped.
void apply_entry(Library& lib, char* entry, OpenInfo& info) {
  char* separator = std::strchr(entry, '=');
  if (separator == nullptr) separator = std::strchr(entry, '#');
  if (separator == nullptr) return;
  *separator = '\0';
  char* value = separator + 1;
  while (is_space(*value)) ++value;
  if (*value == '\0') return;
  char* end = value + std::strlen(value);
  while (end > value && is_space(end[-1])) --end;
  *end = '\0';
  char* keyword_end = entry;
  while (*keyword_end != '\0' && !is_space(*keyword_end)) ++keyword_end;
  *keyword_end = '\0';
  lib.debug(3, "  Keyword part is \"%s\", value part is \"%s\".", entry, value);

  for (const Keyword& k : kKeywords) {
    if (std::strcmp(entry, k.name) != 0) continue;
    if (std::strcmp(value, "YES") == 0) info.open_create_flags |= k.flag;
    if (std::strcmp(value, "NO") == 0) info.open_create_flags &= ~k.flag;
  }
}

}  // namespace

OpenInfo* fetch_open_info(Library& lib, bool create, bool parallel) {
  OpenInfo* info = &lib.base_info;
  if (parallel) {
    int32_t thread = platform::current_thread_id();
    lib.debug(2, "Searching for open/create info data area for thread id %ld, %#lx.",
              static_cast<long>(thread), static_cast<unsigned long>(thread));
    OpenInfo* last = nullptr;
    info = nullptr;
    for (OpenInfo* p = &lib.base_info; p != nullptr; p = p->next.load(std::memory_order_acquire)) {
      last = p;
      if (p->threadid == thread) {
        info = p;
        break;
      }
    }
    if (info == nullptr) {
      if (!create) return nullptr;
      info = new (std::nothrow) OpenInfo;
      if (info == nullptr) return nullptr;
      info->threadid = thread;
      SectionLock hold(lib, lib.global_lock, true);
      // Others may have appended since the search; the end of the list is under the lock.
      while (OpenInfo* next = last->next.load(std::memory_order_acquire)) last = next;
      last->next.store(info, std::memory_order_release);
    }
    lib.debug(2, "Open/create info data area for thread id %ld, %#lx found at %p.",
              static_cast<long>(thread), static_cast<unsigned long>(thread),
              static_cast<void*>(info));
  }
  if (create && info->pending == 0) {
    info->option = 0;
    info->open_create_flags = 0;
  }
  return info;
}

void scan_keyword_data(Library& lib, const char* data, int32_t length, OpenInfo& info) {
  char text[kMaxNameLength + 1];
  std::size_t n = 0;
  for (; n < static_cast<std::size_t>(length) && n < kMaxNameLength && data[n] != '\0'; ++n) {
    text[n] = static_cast<char>(std::toupper(static_cast<unsigned char>(data[n])));
  }
  while (n > 0 && text[n - 1] == ' ') --n;
  text[n] = '\0';
  lib.debug(2, "Scanning keyword data, chrvrl = %d, data is \"%s\".", length, text);

  char* entry = text;
  for (;;) {
    char* comma = std::strchr(entry, ',');
    if (comma != nullptr) *comma = '\0';
    while (is_space(*entry)) ++entry;
    if (*entry != '\0') {
      lib.debug(2, "  Keyword found.  Entry is \"%s\".", entry);
      apply_entry(lib, entry, info);
    }
    if (comma == nullptr) break;
    entry = comma + 1;
  }
}

void discard_open_infos(Library& lib) {
  OpenInfo* p = lib.base_info.next.exchange(nullptr);
  while (p != nullptr) {
    OpenInfo* next = p->next.load();
    delete p;
    p = next;
  }
  lib.base_info.pending = 0;
  lib.base_info.threadid = 0;
  lib.base_info.option = 0;
  lib.base_info.open_create_flags = 0;
}

int32_t do_openinfo(Library& lib, Request& r, int32_t& cntlwd) {
  OpenInfo* info = fetch_open_info(lib, true, r.parallel);
  if (info == nullptr) return kNoMemory;
  info->pending = 1;
  info->option = cntlwd == 1 || cntlwd == 2 ? cntlwd : 0;
  if (r.has_name()) scan_keyword_data(lib, r.name, r.chrvrl, *info);
  return 0;
}

}  // namespace bio
