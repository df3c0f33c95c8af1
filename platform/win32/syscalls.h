#pragma once
// The file services of the Win32 layer, each passed through the fault seam (fault_seam.h)
// before it is made. For platform/win32/*.cc only. They take and return what the services of
// the same names do (a nonzero BOOL, or a valid handle, on success; the reason in
// GetLastError() otherwise), so a caller's loops and checks read as they would without the seam.
//
// The types are spelled without <windows.h>, which only the .cc files of this folder include:
// a HANDLE is a void*, a DWORD an unsigned long, a BOOL an int.
//
// The seam's kinds: create_file and temp_file_name are opens; read and read_at reads; write and
// write_at writes; set_end_of_file a truncation; flush a sync; move_file and delete_file renames;
// close a close. A planned failure sets the last error to the Win32 code nearest to the plan's
// errno (see syscalls.cc). An interruption has no Win32 counterpart: no Win32 file service
// stops half-way for a signal, so an interrupted plan lets the call go ahead unchanged.

#include <cstddef>
#include <cstdint>

namespace platform::sys {

using Handle = void*;
using Dword = unsigned long;

// CreateFileA(name, access, share, nullptr, disposition, flags, nullptr).
Handle create_file(const char* name, Dword access, Dword share, Dword disposition, Dword flags);
// GetTempFileNameA(directory, prefix, 0, out): makes the file; 0 on failure.
unsigned temp_file_name(const char* directory, const char* prefix, char* out);
// ReadFile / WriteFile at the file pointer.
int read(Handle file, void* data, Dword bytes, Dword* done);
int write(Handle file, const void* data, Dword bytes, Dword* done);
// ReadFile / WriteFile at `offset` (a synchronous handle with an OVERLAPPED offset).
int read_at(Handle file, void* data, Dword bytes, Dword* done, std::uint64_t offset);
int write_at(Handle file, const void* data, Dword bytes, Dword* done, std::uint64_t offset);
// Sets the end of the file at `bytes` (SetEndOfFile there); the file pointer is kept.
int set_end_of_file(Handle file, std::uint64_t bytes);
int flush(Handle file);  // FlushFileBuffers
int move_file(const char* from, const char* to, Dword flags);  // MoveFileExA
int delete_file(const char* name);  // DeleteFileA
// CloseHandle. A close made to fail has closed the handle all the same.
int close(Handle file);

}  // namespace platform::sys
