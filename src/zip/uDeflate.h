#pragma once
// Raw deflate data (no zlib header or trailer) as zip entries hold it, through zlib.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zelto {

class EZlibError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EZCompressionError : public EZlibError {
public:
    using EZlibError::EZlibError;
};
class EZDecompressionError : public EZlibError {
public:
    using EZlibError::EZlibError;
};

// Compresses `data` at zlib's default level with a 32 KiB window. The bytes are those a zlib stream
// carries between its 2-byte header and its Adler-32 trailer.
std::string DeflateBytes(std::string_view data);

// Decompresses raw deflate data until `limit` bytes came out, the deflate data ended or the input ran
// out; never produces more than `limit` bytes, and the output grows only with what is really decoded.
// Corrupt data raises EZDecompressionError with zlib's message.
std::string InflateBytes(std::string_view deflateData, size_t limit);

// The CRC-32 of the zip format (reflected polynomial 0xEDB88320, start all ones, result complemented);
// 0 for no bytes.
uint32_t ZipCRC32(std::string_view data);

}  // namespace zelto
