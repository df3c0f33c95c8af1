#pragma once
// The highest record number a file may have, by the file system that holds it.
//
// A file system of the FAT family cannot hold a file of 4 GB or more: its files may have
// 0x3FFFFFFF words ("FAT32"), or 0x1FFFFFFF words (any other "FAT..." name). Every other file
// system takes record numbers up to 2147483647.

#include <cstdint>

namespace bio {

class Library;
struct FileRecord;

// Highest record number for a file of `recl` words per record on a file system of that name.
// REQUIRES: recl > 0.
int32_t max_record_for_file_system(const char* file_system_name, int32_t recl);

// Sets file.max_record from the file system of the directory that holds `name`. The default
// stays when that file system cannot be found.
// REQUIRES: file.recl > 0.
void set_max_record_number(Library& lib, FileRecord& file, const char* name);

}  // namespace bio
