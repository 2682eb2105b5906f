#pragma once
// The fixed records of the zip container and their little-endian byte form.
#include <cstdint>
#include <istream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelto {

// Raised for an archive or entry this class cannot handle: an index outside the entries, an entry cut
// short or too large to unpack, sizes the format cannot hold.
class EZipFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr uint32_t kLocalFileHeaderSignature = 0x04034B50;
constexpr uint32_t kCentralFileHeaderSignature = 0x02014B50;
constexpr uint32_t kEndOfCentralDirSignature = 0x06054B50;

// Shared by the local header and the central record (26 bytes in the archive).
struct TCommonFileHeader {
    uint16_t VersionNeededToExtract = 0;
    uint16_t GeneralPurposeBitFlag = 0;
    uint16_t CompressionMethod = 0;
    uint32_t LastModFileTimeDate = 0;  // DOS time in the low 16 bits, DOS date in the high 16 bits
    uint32_t Crc32 = 0;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FilenameLength = 0;
    uint16_t ExtraFieldLength = 0;

    bool operator==(const TCommonFileHeader&) const = default;
};

// One entry: the 30-byte local header, then name, extra field and the raw deflate data.
struct TLocalFile {
    uint32_t LocalFileHeaderSignature = 0;
    TCommonFileHeader CommonFileHeader;
    std::string filename;
    std::string extrafield;
    std::string CompressedData;
    // The stream ended inside this entry when it was read: its header fields past the end read as zero and
    // its byte strings are shorter than announced. Such an entry cannot be unpacked or written.
    bool CutShort = false;
};

// One central directory record: 46 bytes, then name, extra field and comment.
struct TFileHeader {
    uint32_t CentralFileHeaderSignature = 0;
    uint16_t VersionMadeBy = 0;
    TCommonFileHeader CommonFileHeader;
    uint16_t FileCommentLength = 0;
    uint16_t DiskNumberStart = 0;
    uint16_t InternalFileAttributes = 0;
    uint32_t ExternalFileAttributes = 0;
    uint32_t RelativeOffsetOfLocalHeader = 0;
    std::string filename;
    std::string extrafield;
    std::string fileComment;
};

// The end record (22 bytes), followed in the archive by the archive comment.
struct TEndOfCentralDir {
    uint32_t EndOfCentralDirSignature = 0;
    uint16_t NumberOfThisDisk = 0;
    uint16_t NumberOfTheDiskWithTheStart = 0;
    uint16_t TotalNumberOfEntriesOnThisDisk = 0;
    uint16_t TotalNumberOfEntries = 0;
    uint32_t SizeOfTheCentralDirectory = 0;
    uint32_t OffsetOfStartOfCentralDirectory = 0;
    uint16_t ZipfileCommentLength = 0;
};

// Reads little-endian fields from a stream the way a partial read fills a zeroed variable: bytes past the
// end of the stream read as zero. Byte strings are read in bounded chunks, so a length field larger than
// the stream never causes a large allocation.
class TZipByteReader {
public:
    explicit TZipByteReader(std::istream& stream) : fStream(stream) {}

    uint16_t ReadU16() { return static_cast<uint16_t>(ReadLittleEndian(2)); }
    uint32_t ReadU32() { return static_cast<uint32_t>(ReadLittleEndian(4)); }
    // Up to `count` bytes: fewer when the stream ends first.
    std::string ReadBytes(uint64_t count);
    TCommonFileHeader ReadCommonFileHeader();
    // True when no byte is left to read.
    bool AtEnd();
    // True when a read since the last ResetShortRead came up short.
    bool ShortRead() const { return fShortRead; }
    void ResetShortRead() { fShortRead = false; }

private:
    uint64_t ReadLittleEndian(int width);
    std::istream& fStream;
    bool fShortRead = false;
};

// Appends little-endian fields to a byte string.
class TZipByteWriter {
public:
    explicit TZipByteWriter(std::string& out) : fOut(out) {}

    void WriteU16(uint16_t v) { WriteLittleEndian(v, 2); }
    void WriteU32(uint32_t v) { WriteLittleEndian(v, 4); }
    void WriteBytes(std::string_view bytes) { fOut.append(bytes); }
    void WriteCommonFileHeader(const TCommonFileHeader& h);

private:
    void WriteLittleEndian(uint32_t v, int width);
    std::string& fOut;
};

}  // namespace zelto
