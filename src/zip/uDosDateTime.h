#pragma once
// The DOS date/time form of zip headers: time in the low 16 bits (seconds / 2, minutes, hours), date in
// the high 16 bits (day, month, years since 1980).
#include <cstdint>
#include <optional>

#include "base/DateTime.h"

namespace zelto {

// The DOS form of a local date-time; 0 for a date-time before 1980 or after 2107.
uint32_t DateTimeToDosDateTime(TDateTime value);

// The local date-time of a DOS form; nothing when a field is outside its calendar range.
std::optional<TDateTime> DosDateTimeToDateTime(uint32_t dos);

}  // namespace zelto
