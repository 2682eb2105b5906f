#include "zip/uZipFile.h"

#include <cstdio>
#include <fstream>
#include <istream>
#include <ostream>

#include "base/TextEncoding.h"
#include "zip/uDosDateTime.h"

namespace zelto {

namespace {
constexpr uint16_t kVersion20 = 20;
constexpr uint16_t kMethodDeflate = 8;
constexpr uint16_t kFlagDataDescriptor = 0x0008;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }
// An entry name (8-bit in the archive) quoted for a message.
std::string QuotedEntry(const std::string& name) { return Quoted(Cp1252ToUtf8(name)); }

uint16_t Length16(const std::string& s, const char* what) {
    if (s.size() > 0xFFFF) throw EZipFileError(std::string(what) + " is longer than 65535 bytes.");
    return static_cast<uint16_t>(s.size());
}

uint32_t Position32(uint64_t position) {
    if (position > kMax32) throw EZipFileError("The archive is larger than 4 GiB.");
    return static_cast<uint32_t>(position);
}

// The first `length` bytes of a string that a local header announces; a string held shorter than its
// length (an entry cut short when it was read) cannot be written.
std::string_view Announced(const std::string& s, uint32_t length, const TLocalFile& f) {
    if (f.CutShort || s.size() < length)
        throw EZipFileError("Entry " + QuotedEntry(f.filename) + " is cut short and cannot be written.");
    return std::string_view(s).substr(0, length);
}

// Compresses Value into the entry and sets its local header: deflate, version 20, time now, CRC and sizes.
// Nothing changes when the entry cannot hold it.
void StoreContent(TLocalFile& f, const std::string& Value) {
    if (Value.size() > kMax32) throw EZipFileError("An entry cannot hold 4 GiB or more.");
    std::string compressed = DeflateBytes(Value);
    if (compressed.size() > kMax32) throw EZipFileError("An entry cannot hold 4 GiB or more.");
    const uint16_t nameLength = Length16(f.filename, "A name");
    const uint16_t extraLength = Length16(f.extrafield, "An extra field");
    f.LocalFileHeaderSignature = kLocalFileHeaderSignature;
    f.CompressedData = std::move(compressed);
    f.CutShort = false;
    TCommonFileHeader& h = f.CommonFileHeader;
    h.VersionNeededToExtract = kVersion20;
    h.GeneralPurposeBitFlag = 0;
    h.CompressionMethod = kMethodDeflate;
    h.LastModFileTimeDate = DateTimeToDosDateTime(Now());
    h.Crc32 = ZipCRC32(Value);
    h.CompressedSize = static_cast<uint32_t>(f.CompressedData.size());
    h.UncompressedSize = static_cast<uint32_t>(Value.size());
    h.FilenameLength = nameLength;
    h.ExtraFieldLength = extraLength;
}

// The central record that AddFile and SetUncompressed give an entry (external attributes aside).
void FillCentralRecord(TFileHeader& c, const TLocalFile& local) {
    c.CentralFileHeaderSignature = kCentralFileHeaderSignature;
    c.VersionMadeBy = kVersion20;
    c.CommonFileHeader = local.CommonFileHeader;
    c.FileCommentLength = 0;
    c.DiskNumberStart = 0;
    c.InternalFileAttributes = 0;
    c.RelativeOffsetOfLocalHeader = 0;
    c.filename = local.filename;
    c.extrafield = local.extrafield;
    c.fileComment.clear();
}
}  // namespace

void TZipFile::CheckIndex(int i) const {
    if (i < 0 || i >= Count()) throw EZipFileError("Index out of range.");
}

void TZipFile::LoadFromStream(std::istream& zipFileStream) {
    Files.clear();
    CentralDirectory.clear();
    EndOfCentralDirectory = TEndOfCentralDir{};
    ZipFileComment.clear();
    TZipByteReader in(zipFileStream);
    ReadRecords(in);
    // Reading up to the end of the stream is no failure of the caller's stream.
    if (!zipFileStream.bad()) zipFileStream.clear();
}

// Finds the first local header, reads the local entries in sequence, then the central records and the end
// record. Each record ends with the next 4-byte value; a value that is none of the expected signatures ends
// the reading. The local headers are the truth: the central offsets are kept only for writing again.
void TZipFile::ReadRecords(TZipByteReader& in) {
    // The search steps a whole 4-byte value at a time from the starting position.
    uint32_t value = 0;
    do {
        value = in.ReadU32();
        if (in.AtEnd()) return;
    } while (value != kLocalFileHeaderSignature);

    while (value == kLocalFileHeaderSignature) {
        TLocalFile& f = Files.emplace_back();
        CentralDirectory.emplace_back();
        f.LocalFileHeaderSignature = value;
        in.ResetShortRead();
        f.CommonFileHeader = in.ReadCommonFileHeader();
        f.filename = in.ReadBytes(f.CommonFileHeader.FilenameLength);
        f.extrafield = in.ReadBytes(f.CommonFileHeader.ExtraFieldLength);
        f.CompressedData = in.ReadBytes(f.CommonFileHeader.CompressedSize);
        f.CutShort = in.ShortRead();
        value = in.ReadU32();
    }

    // Central records beyond the local entries are read past and dropped: nothing can be unpacked by them.
    for (size_t j = 0; value == kCentralFileHeaderSignature; ++j) {
        TFileHeader c;
        c.CentralFileHeaderSignature = value;
        c.VersionMadeBy = in.ReadU16();
        c.CommonFileHeader = in.ReadCommonFileHeader();
        c.FileCommentLength = in.ReadU16();
        c.DiskNumberStart = in.ReadU16();
        c.InternalFileAttributes = in.ReadU16();
        c.ExternalFileAttributes = in.ReadU32();
        c.RelativeOffsetOfLocalHeader = in.ReadU32();
        c.filename = in.ReadBytes(c.CommonFileHeader.FilenameLength);
        c.extrafield = in.ReadBytes(c.CommonFileHeader.ExtraFieldLength);
        c.fileComment = in.ReadBytes(c.FileCommentLength);
        if (j < CentralDirectory.size()) CentralDirectory[j] = std::move(c);
        value = in.ReadU32();
    }

    if (value != kEndOfCentralDirSignature) return;
    TEndOfCentralDir& e = EndOfCentralDirectory;
    e.EndOfCentralDirSignature = value;
    e.NumberOfThisDisk = in.ReadU16();
    e.NumberOfTheDiskWithTheStart = in.ReadU16();
    e.TotalNumberOfEntriesOnThisDisk = in.ReadU16();
    e.TotalNumberOfEntries = in.ReadU16();
    e.SizeOfTheCentralDirectory = in.ReadU32();
    e.OffsetOfStartOfCentralDirectory = in.ReadU32();
    e.ZipfileCommentLength = in.ReadU16();
    ZipFileComment = in.ReadBytes(e.ZipfileCommentLength);
}

void TZipFile::LoadFromFile(const std::string& fileName) {
    std::ifstream file(fileName, std::ios::binary);
    if (!file) throw EZipFileError("Cannot open file " + Quoted(fileName) + ".");
    LoadFromStream(file);
}

std::string TZipFile::GetUncompressed(int i) const {
    CheckIndex(i);
    const TLocalFile& f = Files[static_cast<size_t>(i)];
    const TCommonFileHeader& h = f.CommonFileHeader;
    // Sizes are checked against what is really held before any memory is taken for the result.
    if (h.UncompressedSize > kMaxUncompressedSize)
        throw EZipFileError("Entry " + QuotedEntry(f.filename) + " announces " + std::to_string(h.UncompressedSize) +
                            " bytes, more than the 64 MiB that are unpacked.");
    if (f.CutShort || f.CompressedData.size() < h.CompressedSize)
        throw EZipFileError("Entry " + QuotedEntry(f.filename) + " is cut short: the archive ends inside it.");
    if ((h.GeneralPurposeBitFlag & kFlagDataDescriptor) != 0 && h.CompressedSize == 0)
        throw EZipFileError("Entry " + QuotedEntry(f.filename) +
                            " keeps its sizes in a data descriptor, which is not read.");

    // Every entry is decoded as deflate data; the method field is not consulted.
    std::string result =
        InflateBytes(std::string_view(f.CompressedData).substr(0, h.CompressedSize), h.UncompressedSize);
    // A short result is refused even when the stored CRC happens to be that of no bytes (0).
    if (result.size() < h.UncompressedSize || ZipCRC32(result) != h.Crc32)
        throw EZipFileCRCError("CRC Error in " + QuotedEntry(f.filename) + ".");
    return result;
}

void TZipFile::SetUncompressed(int i, const std::string& Value) {
    CheckIndex(i);
    StoreContent(Files[static_cast<size_t>(i)], Value);
    FillCentralRecord(CentralDirectory[static_cast<size_t>(i)], Files[static_cast<size_t>(i)]);
}

// A new entry holds the deflate form of no bytes (an empty final block), as SetUncompressed with no bytes
// gives it: other readers refuse a deflate entry without any data.
void TZipFile::AddFile(const std::string& Name, uint32_t FAttribute) {
    TLocalFile f;
    f.filename = Name;
    StoreContent(f, "");
    TFileHeader c;
    FillCentralRecord(c, f);
    c.ExternalFileAttributes = FAttribute;
    Files.push_back(std::move(f));
    CentralDirectory.push_back(std::move(c));
}

TDateTime TZipFile::GetDateTime(int i) const {
    CheckIndex(i);
    const uint32_t dos = Files[static_cast<size_t>(i)].CommonFileHeader.LastModFileTimeDate;
    if (dos == 0) return 0;
    const auto value = DosDateTimeToDateTime(dos);
    if (!value) throw EZipFileError("Entry " + QuotedEntry(GetName(i)) + " carries an invalid date-time.");
    return *value;
}

void TZipFile::SetDateTime(int i, TDateTime Value) {
    CheckIndex(i);
    Files[static_cast<size_t>(i)].CommonFileHeader.LastModFileTimeDate = DateTimeToDosDateTime(Value);
}

std::string TZipFile::GetName(int i) const {
    CheckIndex(i);
    return Files[static_cast<size_t>(i)].filename;
}

void TZipFile::SetName(int i, const std::string& Value) {
    CheckIndex(i);
    const uint16_t length = Length16(Value, "A name");
    TLocalFile& f = Files[static_cast<size_t>(i)];
    TFileHeader& c = CentralDirectory[static_cast<size_t>(i)];
    f.filename = Value;
    f.CommonFileHeader.FilenameLength = length;
    c.filename = Value;
    c.CommonFileHeader.FilenameLength = length;
}

// The archive's bytes as they are written at `startPosition`; fills in the offsets of the central
// records and the end record.
std::string TZipFile::ArchiveBytes(uint64_t startPosition) {
    std::string out;
    TZipByteWriter w(out);
    for (size_t i = 0; i < Files.size(); ++i) {
        const TLocalFile& f = Files[i];
        CentralDirectory[i].RelativeOffsetOfLocalHeader = Position32(startPosition + out.size());
        w.WriteU32(f.LocalFileHeaderSignature);
        if (f.LocalFileHeaderSignature != kLocalFileHeaderSignature) continue;
        const TCommonFileHeader& h = f.CommonFileHeader;
        w.WriteCommonFileHeader(h);
        w.WriteBytes(Announced(f.filename, h.FilenameLength, f));
        w.WriteBytes(Announced(f.extrafield, h.ExtraFieldLength, f));
        w.WriteBytes(Announced(f.CompressedData, h.CompressedSize, f));
    }
    const uint64_t centralStart = startPosition + out.size();
    for (const TFileHeader& c : CentralDirectory) {
        w.WriteU32(c.CentralFileHeaderSignature);
        w.WriteU16(c.VersionMadeBy);
        w.WriteCommonFileHeader(c.CommonFileHeader);
        w.WriteU16(c.FileCommentLength);
        w.WriteU16(c.DiskNumberStart);
        w.WriteU16(c.InternalFileAttributes);
        w.WriteU32(c.ExternalFileAttributes);
        w.WriteU32(c.RelativeOffsetOfLocalHeader);
        w.WriteBytes(c.filename);
        w.WriteBytes(c.extrafield);
        w.WriteBytes(c.fileComment);
    }
    TEndOfCentralDir& e = EndOfCentralDirectory;
    e.EndOfCentralDirSignature = kEndOfCentralDirSignature;
    e.NumberOfThisDisk = 0;
    e.NumberOfTheDiskWithTheStart = 0;
    e.TotalNumberOfEntriesOnThisDisk = static_cast<uint16_t>(Files.size() & 0xFFFF);
    e.TotalNumberOfEntries = e.TotalNumberOfEntriesOnThisDisk;
    e.OffsetOfStartOfCentralDirectory = Position32(centralStart);
    e.SizeOfTheCentralDirectory = Position32(startPosition + out.size() - centralStart);
    e.ZipfileCommentLength = Length16(ZipFileComment, "The archive comment");
    w.WriteU32(e.EndOfCentralDirSignature);
    w.WriteU16(e.NumberOfThisDisk);
    w.WriteU16(e.NumberOfTheDiskWithTheStart);
    w.WriteU16(e.TotalNumberOfEntriesOnThisDisk);
    w.WriteU16(e.TotalNumberOfEntries);
    w.WriteU32(e.SizeOfTheCentralDirectory);
    w.WriteU32(e.OffsetOfStartOfCentralDirectory);
    w.WriteU16(e.ZipfileCommentLength);
    w.WriteBytes(ZipFileComment);
    return out;
}

void TZipFile::SaveToStream(std::ostream& zipFileStream) {
    const std::streampos at = zipFileStream.tellp();
    const uint64_t start = at < 0 ? 0 : static_cast<uint64_t>(at);
    const std::string bytes = ArchiveBytes(start);
    zipFileStream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!zipFileStream) throw EZipFileError("The archive could not be written.");
}

void TZipFile::SaveToFile(const std::string& fileName) {
    const std::string temporary = fileName + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file) throw EZipFileError("Cannot create file " + Quoted(temporary) + ".");
        SaveToStream(file);
        file.close();
        if (!file) {
            std::remove(temporary.c_str());
            throw EZipFileError("Cannot write file " + Quoted(temporary) + ".");
        }
    }
    if (std::rename(temporary.c_str(), fileName.c_str()) != 0) {
        std::remove(temporary.c_str());
        throw EZipFileError("Cannot create file " + Quoted(fileName) + ".");
    }
}

}  // namespace zelto
