#include "bio/limits.h"

#include <cstring>

#include "bio/filetable.h"
#include "bio/library.h"
#include "platform/filesystems.h"

namespace bio {
namespace {

constexpr int32_t kFat32Words = 0x3FFFFFFF;  // a file of 4 GB less one word
constexpr int32_t kFatWords = 0x1FFFFFFF;    // a file of 2 GB less one word
constexpr std::size_t kFullPathCapacity = 520;

}  // namespace

int32_t max_record_for_file_system(const char* file_system_name, int32_t recl) {
  if (std::strncmp(file_system_name, "FAT32", 5) == 0) return kFat32Words / recl;
  if (std::strncmp(file_system_name, "FAT", 3) == 0) return kFatWords / recl;
  return kDefaultMaxRecord;
}

void set_max_record_number(Library& lib, FileRecord& file, const char* name) {
  file.max_record = kDefaultMaxRecord;
  char full[kFullPathCapacity];
  std::size_t length = platform::full_path_name(name, full, sizeof full);
  lib.debug(3, "GetFullPathName return code = %d, FullPathName is \"%s\".",
            static_cast<int>(length), full);
  if (length > 0) {
    // The file system that matters is the one of the directory that holds the file.
    char root[kFullPathCapacity];
    std::memcpy(root, full, length + 1);
    // The system's full names separate directories with '/' (POSIX) or '\\' (Win32).
    char* last_slash = std::strrchr(root, '/');
    if (last_slash == nullptr) last_slash = std::strrchr(root, '\\');
    if (last_slash != nullptr) last_slash[1] = '\0';
    platform::FileSystemInfo info;
    int e = platform::file_system_of(root, &info);
    lib.debug(3,
              "GetVolumeInformation return code = %d, volser = %#8.8x, componentlen = %d, "
              "sysflags = %#8.8x.",
              e == 0 ? 1 : 0, info.serial, info.max_component, info.flags);
    lib.debug(3, "  Root directory is \"%s\", FileSystemName is \"%s\".", root, info.name);
    if (e == 0) file.max_record = max_record_for_file_system(info.name, file.recl);
  }
  lib.debug(2, "Maximum allowable record number set to %#lx.",
            static_cast<unsigned long>(file.max_record));
}

}  // namespace bio
