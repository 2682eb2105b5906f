#pragma once
// What the status display shows of one controller proxy, as a copy: the display never reads a proxy that
// the request service may free or change meanwhile.
#include <cstdint>
#include <string>

#include "base/DateTime.h"

namespace zelto {

struct TZeltoStatus {
    int32_t NAD = -1;
    std::string IP;
    bool PingOK = false;
    TDateTime LastRequestTimestamp = 0;
    int32_t RequestCount = 0;
};

}  // namespace zelto
