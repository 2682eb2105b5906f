#pragma once
// The text of a controller program's transfer date.
#include <cstdint>
#include <string>

namespace zelto {

// The transfer date, a DOS date/time (date in the high 16 bits, time in the low 16 bits), as the user's
// short date, a space and the long time (LC_TIME of the environment; the time left out at exactly
// midnight). Empty for 0, a negative value or a field outside its calendar range.
std::string ProgramDateText(int32_t TransferDate);

}  // namespace zelto
