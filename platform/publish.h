#pragma once
// Giving a finished file its final name, so that a file under that name is always whole.
//
// A program writes its output under a temporary name in the output's directory,
// "<final>.<tag>.part", so that a person who finds one after a crash sees whose it is. Only when
// the file is complete does publish_file sync it to the disk, give it the final name without
// ever replacing a file that appeared there meanwhile, drop the temporary name and sync the
// directory, so the name survives a power loss. Until then the final name is untouched.
//
// Every function returns 0 or the system error number (errno) of the call that failed.

#include <string>

#include "platform/handle.h"

namespace platform {

// A temporary name beside `final_name` for this process; `attempt` makes another one when a
// file of that name exists (a name left by an earlier run of the same process number).
std::string temporary_name(const std::string& final_name, int attempt);

// Syncs `temporary`, names it `final_name` (EEXIST, and nothing renamed, when that name exists),
// removes the temporary name and syncs the directory. On a failure nothing is left under the
// final name (see name_for_good); the temporary name may stay, for the caller to remove.
int publish_file(const std::string& temporary, const std::string& final_name);

// The naming half of publish_file, for a file already synced: names it, removes the temporary
// name and syncs the directory. When the directory cannot be synced, the final name is removed
// again and the error returned, so that a failure never leaves an output behind.
int name_for_good(const std::string& temporary, const std::string& final_name);

// fsync of an open descriptor, repeated when interrupted; 0 or the errno.
int sync_file(NativeHandle file);

// Gives the file `from` the name `to` unless `to` exists (EEXIST). A link is atomic; file systems
// without links get a rename that does not replace or, where even that is missing, a rename
// after a look (which a file appearing in between could still lose).
int name_without_replacing(const std::string& from, const std::string& to);

// Syncs the directory that holds `name`, so that its entries survive a power loss. A file system
// that cannot sync a directory counts as done.
int sync_directory_of(const std::string& name);

}  // namespace platform
