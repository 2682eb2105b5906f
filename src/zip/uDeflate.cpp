#include "zip/uDeflate.h"

#include <algorithm>
#include <zlib.h>

namespace zelto {

namespace {
// Window bits for raw deflate: a 32 KiB window, no zlib header or trailer.
constexpr int kRawWindowBits = -MAX_WBITS;
constexpr int kDefaultMemLevel = 8;
// zlib counts its buffers in uInt; feed it pieces well below that.
constexpr size_t kPiece = 1u << 30;
constexpr size_t kOutputStep = 64 * 1024;

Bytef* InputPtr(std::string_view s, size_t at) {
    return reinterpret_cast<Bytef*>(const_cast<char*>(s.data() + at));
}

std::string ZlibMessage(const z_stream& z, int code) {
    return z.msg ? std::string(z.msg) : std::string(zError(code));
}
}  // namespace

std::string DeflateBytes(std::string_view data) {
    z_stream z{};
    int rc = deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, kRawWindowBits, kDefaultMemLevel,
                          Z_DEFAULT_STRATEGY);
    if (rc != Z_OK) throw EZCompressionError(ZlibMessage(z, rc));
    std::string out;
    size_t consumed = 0;
    do {
        const size_t piece = std::min(data.size() - consumed, kPiece);
        z.next_in = InputPtr(data, consumed);
        z.avail_in = static_cast<uInt>(piece);
        consumed += piece;
        const int flush = consumed == data.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            const size_t have = out.size();
            out.resize(have + kOutputStep);
            z.next_out = reinterpret_cast<Bytef*>(out.data() + have);
            z.avail_out = static_cast<uInt>(kOutputStep);
            rc = deflate(&z, flush);
            out.resize(have + kOutputStep - z.avail_out);
            if (rc == Z_STREAM_ERROR) {
                const std::string message = ZlibMessage(z, rc);
                deflateEnd(&z);
                throw EZCompressionError(message);
            }
        } while (z.avail_out == 0);
    } while (consumed < data.size());
    deflateEnd(&z);
    return out;
}

std::string InflateBytes(std::string_view deflateData, size_t limit) {
    std::string out;
    if (limit == 0) return out;
    z_stream z{};
    int rc = inflateInit2(&z, kRawWindowBits);
    if (rc != Z_OK) throw EZDecompressionError(ZlibMessage(z, rc));
    size_t consumed = 0;
    while (out.size() < limit) {
        if (z.avail_in == 0) {
            if (consumed == deflateData.size()) break;  // input ran out: a short result
            const size_t piece = std::min(deflateData.size() - consumed, kPiece);
            z.next_in = InputPtr(deflateData, consumed);
            z.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        const size_t have = out.size();
        const size_t step = std::min(limit - have, kOutputStep);
        out.resize(have + step);
        z.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        z.avail_out = static_cast<uInt>(step);
        rc = inflate(&z, Z_NO_FLUSH);
        out.resize(have + step - z.avail_out);
        if (rc == Z_STREAM_END) break;
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            const std::string message = ZlibMessage(z, rc);
            inflateEnd(&z);
            throw EZDecompressionError(message);
        }
    }
    inflateEnd(&z);
    return out;
}

uint32_t ZipCRC32(std::string_view data) {
    uLong crc = crc32(0L, Z_NULL, 0);
    for (size_t at = 0; at < data.size(); at += kPiece) {
        const size_t piece = std::min(data.size() - at, kPiece);
        crc = crc32(crc, InputPtr(data, at), static_cast<uInt>(piece));
    }
    return static_cast<uint32_t>(crc);
}

}  // namespace zelto
