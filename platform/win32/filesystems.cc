#include "platform/filesystems.h"

#include <windows.h>


namespace platform {

std::size_t full_path_name(const char* name, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  const DWORD room = capacity > MAXDWORD ? MAXDWORD : static_cast<DWORD>(capacity);
  const DWORD length = GetFullPathNameA(name, room, out, nullptr);
  // The length without the NUL when the name fits; the room it needs (NUL included) otherwise.
  if (length == 0 || length >= room) {
    out[0] = '\0';
    return 0;
  }
  return length;
}

int file_system_of(const char* path, FileSystemInfo* info) {
  char root[MAX_PATH + 1];
  if (!GetVolumePathNameA(path, root, sizeof root)) return static_cast<int>(GetLastError());
  // The volume is asked through a handle of its root directory: GetVolumeInformation by name
  // reads the volume's boot sector for its label and serial number on some systems, which needs
  // rights a program seldom has.
  const HANDLE directory = CreateFileA(root, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  DWORD serial = 0, max_component = 0, flags = 0;
  wchar_t name[MAX_PATH + 1] = {};
  const BOOL known = GetVolumeInformationByHandleW(directory, nullptr, 0, &serial, &max_component, &flags, name,
                                                   MAX_PATH + 1);
  const DWORD error = GetLastError();
  CloseHandle(directory);
  if (!known) return static_cast<int>(error);
  info->serial = serial;
  info->max_component = static_cast<std::int32_t>(max_component);
  info->flags = flags;
  // The system's own name: "NTFS", "FAT32", "FAT" (FAT12 and FAT16, whose files stay under
  // 2 GB), "exFAT", ...; the names are ASCII.
  std::size_t n = 0;
  for (; n + 1 < sizeof info->name && name[n] != L'\0'; ++n) {
    info->name[n] = name[n] < 0x80 ? static_cast<char>(name[n]) : '?';
  }
  info->name[n] = '\0';
  return 0;
}

}  // namespace platform
