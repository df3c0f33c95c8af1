#include "platform/filesystems.h"

#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

struct KnownFileSystem {
  unsigned long type;
  const char* name;
};

// The FAT family (FAT12, FAT16 and FAT32 share one type) is named by its largest member, whose
// file size limit applies to all of them.
constexpr KnownFileSystem kKnown[] = {
    {MSDOS_SUPER_MAGIC, "FAT32"},
    {EXFAT_SUPER_MAGIC, "exFAT"},
    {EXT4_SUPER_MAGIC, "ext4"},
    {XFS_SUPER_MAGIC, "xfs"},
    {BTRFS_SUPER_MAGIC, "btrfs"},
    {TMPFS_MAGIC, "tmpfs"},
    {OVERLAYFS_SUPER_MAGIC, "overlay"},
    {NFS_SUPER_MAGIC, "nfs"},
    {F2FS_SUPER_MAGIC, "f2fs"},
    {FUSE_SUPER_MAGIC, "fuse"},
    {SMB2_SUPER_MAGIC, "smb2"},
    {CIFS_SUPER_MAGIC, "cifs"},
    {RAMFS_MAGIC, "ramfs"},
    {V9FS_MAGIC, "9p"},
};

}  // namespace

std::size_t full_path_name(const char* name, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  std::size_t len = std::strlen(name);
  if (name[0] == '/') {
    if (len + 1 > capacity) return 0;
    std::memcpy(out, name, len + 1);
    return len;
  }
  if (::getcwd(out, capacity) == nullptr) {
    out[0] = '\0';
    return 0;
  }
  std::size_t dir = std::strlen(out);
  bool slash = dir > 0 && out[dir - 1] == '/';
  std::size_t total = dir + (slash ? 0 : 1) + len;
  if (total + 1 > capacity) {
    out[0] = '\0';
    return 0;
  }
  if (!slash) out[dir++] = '/';
  std::memcpy(out + dir, name, len + 1);
  return total;
}

int file_system_of(const char* path, FileSystemInfo* info) {
  struct statfs fs;
  while (::statfs(path, &fs) != 0) {
    if (errno != EINTR) return errno;
  }
  int serial[2];
  static_assert(sizeof serial == sizeof fs.f_fsid);
  std::memcpy(serial, &fs.f_fsid, sizeof serial);
  info->serial = static_cast<std::uint32_t>(serial[0]);
  info->max_component = static_cast<std::int32_t>(fs.f_namelen);
  info->flags = static_cast<std::uint32_t>(fs.f_flags);
  auto type = static_cast<unsigned long>(fs.f_type) & 0xFFFFFFFFul;
  for (const auto& k : kKnown) {
    if (k.type == type) {
      std::snprintf(info->name, sizeof info->name, "%s", k.name);
      return 0;
    }
  }
  std::snprintf(info->name, sizeof info->name, "0x%lx", type);
  return 0;
}

}  // namespace platform
