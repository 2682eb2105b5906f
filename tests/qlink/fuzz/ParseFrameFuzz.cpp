// ParseFrame and HexToBytes on arbitrary text: no crash, no read or write past a buffer, and a frame that
// parses is consistent with its own length field.
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qlink/uQLink.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int32_t sender = 0, receiver = 0;
    uint8_t direction = 0, flags = 0;
    std::string dataText;
    if (zelto::ParseFrame(text, sender, receiver, direction, flags, dataText)) {
        const std::size_t length = dataText.size() / 2 + 2;
        if (text.compare(0, 4, "AA55") != 0 || dataText.size() % 2 != 0 || length > 1024 ||
            text.size() < 2 * (length + 14))
            std::abort();
    }
    std::array<uint8_t, 16> small{};
    int count = -1;
    zelto::HexToBytes(text, small, count);
    if (count < 0 || count > static_cast<int>(small.size())) std::abort();
    return 0;
}
