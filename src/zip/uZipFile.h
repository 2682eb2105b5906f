#pragma once
// TZipFile: a zip archive held in memory as its records. Reads an archive from a stream, hands out the
// unpacked bytes of an entry after its CRC-32 test, and builds and writes archives. Entries are deflate
// data with sizes and CRC in the local headers; names, extra fields, comments and contents are 8-bit
// byte strings (Windows-1252 names), passed through unchanged.
#include <cstdint>
#include <iosfwd>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "zip/uDeflate.h"
#include "zip/uZipRecords.h"

namespace zelto {

// Raised by GetUncompressed when the unpacked bytes do not carry the entry's CRC-32 (or fall short of
// its announced size). The message is: CRC Error in "<entry name>".
class EZipFileCRCError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TZipFile {
public:
    // Entries larger than this are refused when unpacked, before their memory is taken.
    static constexpr uint32_t kMaxUncompressedSize = 64u * 1024 * 1024;

    std::vector<TLocalFile> Files;               // the entries, in archive order
    std::vector<TFileHeader> CentralDirectory;   // one record per entry, same index as Files
    TEndOfCentralDir EndOfCentralDirectory;      // the end record as last read or written
    std::string ZipFileComment;

    // Replaces the contents with the archive read from the stream's current position. Entries are found
    // by walking the local headers; a stream without a local header leaves no entries; a stream that ends
    // in a record keeps the entries read so far (an entry cut short fails when unpacked).
    void LoadFromStream(std::istream& zipFileStream);
    void LoadFromFile(const std::string& fileName);
    // Writes the whole archive at the stream's current position; offsets count from the stream's start.
    void SaveToStream(std::ostream& zipFileStream);
    // Creates or truncates the file (written under a temporary name and renamed into place).
    void SaveToFile(const std::string& fileName);

    int Count() const { return static_cast<int>(Files.size()); }

    // The unpacked bytes of entry i. Raises EZipFileError for a bad index, an entry over
    // kMaxUncompressedSize, an entry cut short or one whose sizes live in a data descriptor;
    // EZDecompressionError for corrupt deflate data; EZipFileCRCError for a CRC mismatch.
    std::string GetUncompressed(int i) const;
    // Compresses Value into entry i and brings both its headers up to date (time: now).
    void SetUncompressed(int i, const std::string& Value);
    std::string Uncompressed(int i) const { return GetUncompressed(i); }
    std::string Data(int i) const { return GetUncompressed(i); }
    void SetData(int i, const std::string& Value) { SetUncompressed(i, Value); }

    // Appends an empty entry (its data: the deflate form of no bytes); its central record carries
    // FAttribute as the external file attributes.
    void AddFile(const std::string& Name, uint32_t FAttribute);

    // The modification time of the local header. GetDateTime gives 0 for a zero DOS form and raises
    // EZipFileError for one that is not a calendar date and time.
    TDateTime GetDateTime(int i) const;
    void SetDateTime(int i, TDateTime Value);
    TDateTime DateTime(int i) const { return GetDateTime(i); }

    std::string GetName(int i) const;
    void SetName(int i, const std::string& Value);
    std::string Name(int i) const { return GetName(i); }

private:
    void CheckIndex(int i) const;
    void ReadRecords(TZipByteReader& in);
    std::string ArchiveBytes(uint64_t startPosition);
};

}  // namespace zelto
