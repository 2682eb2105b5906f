#pragma once
// The ALC cache file of a controller: "alc_http_<NAD>.tmp" holding the program's transfer date (4 bytes,
// little-endian, as the controller's code header gives it) followed by the ALC zip archive as read from the
// controller. The file survives restarts, so a known controller's ALC is read from disk.
#include <cstdint>
#include <optional>
#include <string>

namespace zelto {

// The folder of the cache files, with a trailing "/": $TEMP when it is set and not empty; otherwise the
// per-user $XDG_CACHE_HOME/ZeltoHttpServer (default ~/.cache/ZeltoHttpServer), created with mode 0700.
// Empty when no such folder can be made.
std::string AlcCacheDir();

// The cache file of a NAD ("" when there is no cache folder).
std::string AlcCacheFileName(int32_t NAD);

// The archive bytes of a cache file that carries TransferDate. Nothing when the file is missing,
// unreadable, no longer than the 4-byte date, larger than kMaxAlcCacheSize, a link, not a regular file, not the
// user's own, or of another date.
std::optional<std::string> ReadAlcCache(const std::string& FileName, int32_t TransferDate);

// Writes the cache file anew: to a temporary name in the same folder, flushed to disk, then renamed over
// the old file, so that a crash never leaves a half-written file under the cache's name. False (and
// nothing changed) when it cannot be written.
bool WriteAlcCache(const std::string& FileName, int32_t TransferDate, const std::string& Archive);

// Removes the temporary files that interrupted cache writes left in the cache folder ("alc_http_<NAD>.tmp"
// followed by the temporary suffix); the program's other files and other names stay. Returns how many
// were removed.
int RemoveInterruptedAlcCacheWrites();

// A controller's code memory spans 16 MiB, so no ALC archive is larger.
inline constexpr std::size_t kMaxAlcCacheSize = 4 + 16u * 1024 * 1024;

}  // namespace zelto
