#include "zip/uZipRecords.h"

#include <algorithm>

namespace zelto {

uint64_t TZipByteReader::ReadLittleEndian(int width) {
    unsigned char bytes[4] = {0, 0, 0, 0};
    fStream.read(reinterpret_cast<char*>(bytes), width);
    if (fStream.gcount() < width) fShortRead = true;
    uint64_t v = 0;
    for (int i = width - 1; i >= 0; --i) v = (v << 8) | bytes[i];
    return v;
}

std::string TZipByteReader::ReadBytes(uint64_t count) {
    constexpr uint64_t kChunk = 64 * 1024;
    std::string s;
    while (s.size() < count) {
        const size_t have = s.size();
        const size_t want = static_cast<size_t>(std::min(count - have, kChunk));
        s.resize(have + want);
        fStream.read(s.data() + have, static_cast<std::streamsize>(want));
        const auto got = static_cast<size_t>(fStream.gcount());
        if (got < want) {
            fShortRead = true;
            s.resize(have + got);
            break;
        }
    }
    return s;
}

TCommonFileHeader TZipByteReader::ReadCommonFileHeader() {
    TCommonFileHeader h;
    h.VersionNeededToExtract = ReadU16();
    h.GeneralPurposeBitFlag = ReadU16();
    h.CompressionMethod = ReadU16();
    h.LastModFileTimeDate = ReadU32();
    h.Crc32 = ReadU32();
    h.CompressedSize = ReadU32();
    h.UncompressedSize = ReadU32();
    h.FilenameLength = ReadU16();
    h.ExtraFieldLength = ReadU16();
    return h;
}

bool TZipByteReader::AtEnd() {
    return fStream.peek() == std::istream::traits_type::eof();
}

void TZipByteWriter::WriteLittleEndian(uint32_t v, int width) {
    for (int i = 0; i < width; ++i) fOut.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void TZipByteWriter::WriteCommonFileHeader(const TCommonFileHeader& h) {
    WriteU16(h.VersionNeededToExtract);
    WriteU16(h.GeneralPurposeBitFlag);
    WriteU16(h.CompressionMethod);
    WriteU32(h.LastModFileTimeDate);
    WriteU32(h.Crc32);
    WriteU32(h.CompressedSize);
    WriteU32(h.UncompressedSize);
    WriteU16(h.FilenameLength);
    WriteU16(h.ExtraFieldLength);
}

}  // namespace zelto
