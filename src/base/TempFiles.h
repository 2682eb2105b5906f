#pragma once
// Temporary files of the program's atomic writes: a file is written under a temporary name beside it
// ("<file>.XXXXXX", six letters or digits) and renamed over it. The writer holds a lock on the temporary
// file while it exists, so that the leftovers of a write that was cut short (a crash, kill -9) can be told
// from a write in progress and removed.
#include <functional>
#include <string>

namespace zelto {

// Creates "<File>.XXXXXX" with mode 0600 and locks it for the writer. Returns the descriptor and the
// name in TempName, or -1 (errno set) when it cannot be made. The writer renames the file before it closes
// the descriptor, so that the file is never unlocked under its temporary name.
int CreateTempFileFor(const std::string& File, std::string& TempName);

// Removes from Folder the temporary files of interrupted writes: regular files of this user whose name is
// "<target>.XXXXXX" with IsTarget(target) true, and that no writer holds. Links, folders, other users'
// files and names of any other shape are left alone. Returns how many were removed.
int RemoveInterruptedWrites(const std::string& Folder, const std::function<bool(const std::string&)>& IsTarget);

}  // namespace zelto
