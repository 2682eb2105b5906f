#pragma once
// One line of the ALC text, read column by column. A pure function over text, kept apart from the list so
// that it can be tested and fuzzed on its own.
#include <cstdint>
#include <string>
#include <string_view>

#include "vars/uZeltoVars.h"

namespace zelto {

// The columns of a variable line.
struct TAlcLine {
    bool IsVariable = false;  // false: an accepted line that declares nothing (";CPU", ";Addr", blank)
    int32_t Address = 0;
    int32_t Flags = 0;
    int32_t Count = 0;
    int32_t Offset = 0;
    int32_t Size = 0;
    TZeltoVarScope Scope = vsNone;
    TZeltoVarTyp Typ = vtNone;
    std::string Name;
    std::string Description;

    TZeltoVarAccessType AccessType() const { return (Flags & 1) ? vaReadOnly : vaReadWrite; }
    TZeltoVarVisibility Visibility() const { return (Flags & 2) ? vvUser : vvSystem; }
    // Only a global variable that is not a constant gives controller variables.
    bool GivesVariables() const { return IsVariable && Scope == vsGlobal && Typ != vtConst && Count > 0; }
};

// Reads the line's nine columns; false when the line is refused (a number column unreadable or -1, an
// unknown scope or type word, an empty name).
bool ParseAlcLine(std::string_view line, TAlcLine& out);

}  // namespace zelto
