#pragma once
// Files that are never served, whatever the web folder holds: the log and its rotated copies, both
// settings files and any copy of them, backup and editor files, and the program's own executables. The
// log records every client's request text, the settings hold the Q-link password, and a backup may be a
// copy of either.
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

namespace zelto {

// Whether a file name (the last part of a path) is one never served: the log's name (logName) or a
// rotated copy of it ("<log>.1", "<log>.2.gz", "<log>-20240101"), any "*.conf*", "*~", "*.bak", "*.swp",
// "*.swo", "*.orig", "*.old", "#*#", or the name of one of the program's executables.
bool IsKeptName(std::string_view Name, std::string_view LogName);

// Whether a found file is one never served: by the names the client asked for (Document) and the file
// found (File), and by identity (device and inode, so that a link or a second name of the same file is
// refused too) against the log, the settings files and the executables in KeptFiles.
bool IsKeptFile(const std::string& Document, const std::string& File, const struct stat& Found,
                const std::vector<std::string>& KeptFiles);

// Whether the names alone decide for a file that lstat found under Document: a regular file with one name,
// that is no link itself and whose name is not that of one of KeptFiles, cannot be one of them, since a
// kept file with one name is reached only under its own name. Otherwise IsKeptFile must compare identities
// with the file that the links lead to.
bool NamesDecide(const std::string& Document, const struct stat& Found, const std::vector<std::string>& KeptFiles);

// The program's executables beside the running one (ZeltoHttpServer, ZeltoSim).
std::vector<std::string> OwnExecutables();

}  // namespace zelto
