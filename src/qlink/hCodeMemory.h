#pragma once
// The records a controller keeps in its code memory: the code header at code address 0x20000 (its first 16
// bytes are the short header) and the 46-byte entries of the file table that the header points to. The
// records are packed to their byte size in the controller; their byte form is little-endian and is read
// and written field by field with shifts, so the host's byte order and alignment never matter.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>

#include "qlink/uByteOrder.h"

namespace zelto {

inline constexpr int32_t kCodeHeaderAddress = 0x20000;   // segment 512
inline constexpr uint16_t kCodeHeaderMagic = 31415;      // 0x7AB7
inline constexpr int kCodeSegmentSize = 256;             // code memory is addressed in segments of this size
inline constexpr int kCodeFileNameSize = 32;
inline constexpr const char* kAlcFileName = "alc.zip";
// Bounds on what a controller's file table may announce. A real table holds a handful of entries and
// files of some KiB; anything beyond these is a broken controller, refused before hours of block reads.
inline constexpr int kMaxCodeFileCount = 1000;
inline constexpr int32_t kMaxCodeFileSize = 16 * 1024 * 1024;

#pragma pack(push, 1)

// The first 16 bytes of the code header.
struct TCodeHeaderShort {
    uint16_t empty = 0;          // 0 in a valid program
    uint16_t magic = 0;          // kCodeHeaderMagic in a valid program
    uint16_t crc = 0;
    uint16_t code_crc = 0;
    uint16_t alloc_crc = 0;
    uint16_t retentive_crc = 0;
    int32_t transfer_date = 0;   // DOS form of the last program transfer: date high, time low
};

struct TCodeHeader {
    uint16_t empty = 0;
    uint16_t magic = 0;
    uint16_t crc = 0;
    uint16_t code_crc = 0;
    uint16_t alloc_crc = 0;
    uint16_t retentive_crc = 0;
    int32_t transfer_date = 0;
    uint16_t total_size = 0;
    int16_t tasks_count = 0;
    int16_t slot_count = 0;
    int16_t socket_count = 0;
    int16_t com_sock_start = 0;
    int16_t com_sock_count = 0;
    int16_t eth_sock_start = 0;
    int16_t eth_sock_count = 0;
    int32_t master_NAD = 0;
    uint16_t slave_addr = 0;
    int16_t slaves_count = 0;
    uint16_t preset_varlist = 0;
    uint16_t preset_data = 0;
    uint16_t retset_varlist = 0;
    uint16_t retset_data = 0;
    uint16_t perset_varlist = 0;
    uint16_t perset_data = 0;
    int16_t mask_addr = 0;
    int16_t mask_count = 0;
    int16_t scan_overrun = 0;
    int16_t dac_refresh = 0;
    uint8_t dummy_0[4] = {};
    int32_t file_adr = 0;        // code address of the file table
    uint16_t file_count = 0;     // entries in the file table
    uint8_t dummy_1[10] = {};
    uint8_t data_descriptors[128] = {};
    uint8_t task_descriptors[128] = {};
    uint8_t slot_descriptors[128] = {};
    uint8_t sock_descriptors[640] = {};
};

// One entry of the file table.
struct TCodeFileDescriptor {
    char file_name[kCodeFileNameSize] = {};  // one byte per character
    uint16_t name_length = 0;                // characters of file_name used, valid from 1 to 32
    int32_t file_address = 0;                // code address of the file's bytes
    int32_t file_size = 0;                   // bytes; an entry with 0 or less is skipped
    uint8_t reserved[4] = {};
};

#pragma pack(pop)

static_assert(sizeof(TCodeHeaderShort) == 16);
static_assert(sizeof(TCodeHeader) == 1104);
static_assert(sizeof(TCodeFileDescriptor) == 46);
static_assert(offsetof(TCodeHeader, file_adr) == 64 && offsetof(TCodeHeader, data_descriptors) == 80 &&
              offsetof(TCodeHeader, sock_descriptors) == 464);
static_assert(offsetof(TCodeFileDescriptor, file_size) == 38);

using pTCodeHeader = TCodeHeader*;
using pTCodeHeaderShort = TCodeHeaderShort*;

namespace code_memory_detail {

// Reads consecutive little-endian fields from a record's byte form.
class TFieldReader {
public:
    explicit TFieldReader(std::span<const uint8_t> Bytes) : fBytes(Bytes) {}
    uint16_t U16() { return GetU16LE(fBytes, Advance(2)); }
    int16_t S16() { return GetS16LE(fBytes, Advance(2)); }
    int32_t S32() { return GetS32LE(fBytes, Advance(4)); }
    void Raw(void* Target, std::size_t Count) { std::memcpy(Target, fBytes.data() + Advance(Count), Count); }

private:
    std::size_t Advance(std::size_t Count) {
        const std::size_t at = fPos;
        fPos += Count;
        return at;
    }
    std::span<const uint8_t> fBytes;
    std::size_t fPos = 0;
};

// Appends consecutive little-endian fields to a record's byte form.
class TFieldWriter {
public:
    explicit TFieldWriter(std::span<uint8_t> Bytes) : fBytes(Bytes) {}
    void U16(uint16_t v) { PutU16LE(fBytes, Advance(2), v); }
    void S16(int16_t v) { PutS16LE(fBytes, Advance(2), v); }
    void S32(int32_t v) { PutS32LE(fBytes, Advance(4), v); }
    void Raw(const void* Source, std::size_t Count) { std::memcpy(fBytes.data() + Advance(Count), Source, Count); }

private:
    std::size_t Advance(std::size_t Count) {
        const std::size_t at = fPos;
        fPos += Count;
        return at;
    }
    std::span<uint8_t> fBytes;
    std::size_t fPos = 0;
};

}  // namespace code_memory_detail

// A header is valid when its empty word is 0 and its magic is 31415.
inline bool IsValidCodeHeader(const TCodeHeaderShort& H) { return H.empty == 0 && H.magic == kCodeHeaderMagic; }
inline bool IsValidCodeHeader(const TCodeHeader& H) { return H.empty == 0 && H.magic == kCodeHeaderMagic; }

// The records from their byte form. The span must hold at least the record's size.
namespace code_memory_detail {

// The first 16 bytes, shared by both header records.
template <typename THeader>
void ReadShortFields(TFieldReader& r, THeader& h) {
    h.empty = r.U16();
    h.magic = r.U16();
    h.crc = r.U16();
    h.code_crc = r.U16();
    h.alloc_crc = r.U16();
    h.retentive_crc = r.U16();
    h.transfer_date = r.S32();
}

}  // namespace code_memory_detail

inline TCodeHeaderShort DecodeCodeHeaderShort(std::span<const uint8_t, sizeof(TCodeHeaderShort)> Bytes) {
    code_memory_detail::TFieldReader r(Bytes);
    TCodeHeaderShort h;
    code_memory_detail::ReadShortFields(r, h);
    return h;
}

inline TCodeHeader DecodeCodeHeader(std::span<const uint8_t, sizeof(TCodeHeader)> Bytes) {
    code_memory_detail::TFieldReader r(Bytes);
    TCodeHeader h;
    code_memory_detail::ReadShortFields(r, h);
    h.total_size = r.U16();
    h.tasks_count = r.S16();
    h.slot_count = r.S16();
    h.socket_count = r.S16();
    h.com_sock_start = r.S16();
    h.com_sock_count = r.S16();
    h.eth_sock_start = r.S16();
    h.eth_sock_count = r.S16();
    h.master_NAD = r.S32();
    h.slave_addr = r.U16();
    h.slaves_count = r.S16();
    h.preset_varlist = r.U16();
    h.preset_data = r.U16();
    h.retset_varlist = r.U16();
    h.retset_data = r.U16();
    h.perset_varlist = r.U16();
    h.perset_data = r.U16();
    h.mask_addr = r.S16();
    h.mask_count = r.S16();
    h.scan_overrun = r.S16();
    h.dac_refresh = r.S16();
    r.Raw(h.dummy_0, sizeof h.dummy_0);
    h.file_adr = r.S32();
    h.file_count = r.U16();
    r.Raw(h.dummy_1, sizeof h.dummy_1);
    r.Raw(h.data_descriptors, sizeof h.data_descriptors);
    r.Raw(h.task_descriptors, sizeof h.task_descriptors);
    r.Raw(h.slot_descriptors, sizeof h.slot_descriptors);
    r.Raw(h.sock_descriptors, sizeof h.sock_descriptors);
    return h;
}

inline TCodeFileDescriptor DecodeCodeFileDescriptor(std::span<const uint8_t, sizeof(TCodeFileDescriptor)> Bytes) {
    code_memory_detail::TFieldReader r(Bytes);
    TCodeFileDescriptor d;
    r.Raw(d.file_name, sizeof d.file_name);
    d.name_length = r.U16();
    d.file_address = r.S32();
    d.file_size = r.S32();
    r.Raw(d.reserved, sizeof d.reserved);
    return d;
}

// The byte form of the records (the controller side writes them).
inline void EncodeCodeHeader(const TCodeHeader& h, std::span<uint8_t, sizeof(TCodeHeader)> Bytes) {
    code_memory_detail::TFieldWriter w(Bytes);
    w.U16(h.empty);
    w.U16(h.magic);
    w.U16(h.crc);
    w.U16(h.code_crc);
    w.U16(h.alloc_crc);
    w.U16(h.retentive_crc);
    w.S32(h.transfer_date);
    w.U16(h.total_size);
    w.S16(h.tasks_count);
    w.S16(h.slot_count);
    w.S16(h.socket_count);
    w.S16(h.com_sock_start);
    w.S16(h.com_sock_count);
    w.S16(h.eth_sock_start);
    w.S16(h.eth_sock_count);
    w.S32(h.master_NAD);
    w.U16(h.slave_addr);
    w.S16(h.slaves_count);
    w.U16(h.preset_varlist);
    w.U16(h.preset_data);
    w.U16(h.retset_varlist);
    w.U16(h.retset_data);
    w.U16(h.perset_varlist);
    w.U16(h.perset_data);
    w.S16(h.mask_addr);
    w.S16(h.mask_count);
    w.S16(h.scan_overrun);
    w.S16(h.dac_refresh);
    w.Raw(h.dummy_0, sizeof h.dummy_0);
    w.S32(h.file_adr);
    w.U16(h.file_count);
    w.Raw(h.dummy_1, sizeof h.dummy_1);
    w.Raw(h.data_descriptors, sizeof h.data_descriptors);
    w.Raw(h.task_descriptors, sizeof h.task_descriptors);
    w.Raw(h.slot_descriptors, sizeof h.slot_descriptors);
    w.Raw(h.sock_descriptors, sizeof h.sock_descriptors);
}

inline void EncodeCodeFileDescriptor(const TCodeFileDescriptor& d,
                                     std::span<uint8_t, sizeof(TCodeFileDescriptor)> Bytes) {
    code_memory_detail::TFieldWriter w(Bytes);
    w.Raw(d.file_name, sizeof d.file_name);
    w.U16(d.name_length);
    w.S32(d.file_address);
    w.S32(d.file_size);
    w.Raw(d.reserved, sizeof d.reserved);
}

// The name of a file table entry: the first name_length bytes of file_name; empty for a length outside
// 1..32, which makes the entry not count.
inline std::string CodeFileName(const TCodeFileDescriptor& d) {
    if (d.name_length < 1 || d.name_length > kCodeFileNameSize) return {};
    return std::string(d.file_name, d.name_length);
}

}  // namespace zelto
