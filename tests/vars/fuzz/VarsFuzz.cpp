// Fuzz target for the variable model's parsers: the input is taken as an ALC text (parsed from line 0) and
// each of its lines as a full name whose write value is bound to a variable of every type. Checks that
// nothing crashes, the list stays within its bound, and binding leaves the two value forms in step.
#include <cstdint>
#include <cmath>
#include <cstdlib>
#include <string>

#include "base/TextEncoding.h"
#include "base/TextLines.h"
#include "vars/uGadgetVars.h"
#include "vars/uZeltoVars.h"

using namespace zelto;

namespace {
void Check(bool condition) {
    if (!condition) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = TextFileToUtf8(std::string(reinterpret_cast<const char*>(data), size));
    const std::vector<std::string> lines = SplitLines(text);
    TZeltoVarList list;
    try {
        list.LoadFromStr(lines, -1);
    } catch (const EAlcParseError& e) {
        Check(e.Line() >= 0 && static_cast<std::size_t>(e.Line()) < lines.size());
    }
    Check(list.Count() <= kMaxAlcEntries);

    for (const std::string& line : lines) {
        TGadgetVar g(line);
        if (g.FullName().empty()) continue;
        g.SetWriteReq(true);
        for (int t = vtNone; t <= vtCounterInt; ++t) {
            TZeltoVar v("v", 0, 4, 2, 0, 0, vsGlobal, static_cast<TZeltoVarTyp>(t), vvUser, vaReadWrite, "", Variant(0));
            g.SetZeltoVar(&v);
            // Writing back the raw form must give the same value: the two forms agree.
            const Variant value = v.Value();
            const int32_t raw = v.ZeltoValue();
            v.SetZeltoValue(raw);
            if (t == vtReal || VarTypTransferBytes(v.Typ()) > 0) Check(v.ZeltoValue() == raw);
            if (VarTypTransferBytes(v.Typ()) > 0 && !std::isnan(value.AsDouble())) Check(v.Value() == value);
        }
    }
    return 0;
}
