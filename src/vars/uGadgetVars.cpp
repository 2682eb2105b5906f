#include "vars/uGadgetVars.h"

#include <algorithm>
#include <cmath>

#include "base/NumberText.h"
#include "base/TextEncoding.h"
#include "vars/SingleFloat.h"

namespace zelto {

// ---- full names

std::string CutWriteValue(std::string& Item) {
    const std::size_t eq = Item.find('=');
    if (eq == std::string::npos) return {};
    std::string value = Item.substr(eq + 1);
    Item.erase(eq);
    if (!IsDecimalNumberText(value)) value.clear();
    // "c5.x\=3": a backslash right before the "=" escapes nothing and is dropped. Only the first
    // backslash of the text is looked at.
    if (eq > 0 && Item.find('\\') == eq - 1) Item.erase(eq - 1);
    return value;
}

bool CutArrayIndex(std::string& Name, int32_t& Index) {
    const std::size_t l = Name.find('[');
    const std::size_t r = Name.find(']');
    if (l == std::string::npos || r == std::string::npos || r <= l + 1) return false;
    int32_t n = 0;
    if (!TryParseWholeNumber(std::string_view(Name).substr(l + 1, r - l - 1), n) || n < 0) return false;
    Index = n;
    Name.erase(l, r - l + 1);
    return true;
}

bool ParseFullName(std::string_view AFullName, TFullNameParts& AParts) {
    std::string s(AFullName);
    const std::size_t dot = s.find('.');
    if (s.empty() || dot == std::string::npos) return false;
    if (s[0] != 'c' && s[0] != 'C') return false;
    int32_t nad = 0;
    if (!TryParseWholeNumber(std::string_view(s).substr(1, dot - 1), nad)) return false;

    std::string writeValue = CutWriteValue(s);
    std::string name = s.substr(dot + 1);
    int32_t index = -1;
    CutArrayIndex(name, index);

    AParts.NAD = nad;
    AParts.Name = std::move(name);
    AParts.ArrayIndex = index;
    AParts.WriteValue = std::move(writeValue);
    return true;
}

std::string BuildFullName(int32_t ANAD, const TZeltoVar& AVar) {
    std::string s = "c" + std::to_string(ANAD) + "." + AVar.Name();
    if (AVar.IsArray()) s += "[" + std::to_string(AVar.ArrayIndex()) + "]";
    return s;
}

// ---- write texts

std::optional<Variant> WriteTextToValue(std::string_view AText, TZeltoVarTyp Typ) {
    if (Typ == vtReal) {
        double d = 0;
        float f = 0;
        if (!TryParseDecimalNumber(AText, d) || !TryDoubleToSingle(d, f)) return std::nullopt;
        const double magnitude = std::fabs(static_cast<double>(f));
        if (f != 0 && !(magnitude >= 1.5e-45 && magnitude <= 3.4e38)) return std::nullopt;
        return Variant(static_cast<double>(f));
    }
    int32_t n = 0;
    if (VarTypTransferBytes(Typ) == 0 || !TryParseWholeNumber(AText, n)) return std::nullopt;
    switch (Typ) {
    case vtBit:
        if (n < 0 || n > 1) return std::nullopt;
        return Variant(static_cast<uint8_t>(n));
    case vtWord:
        if (n < 0 || n > 65535) return std::nullopt;
        return Variant(static_cast<uint16_t>(n));
    case vtInt:
        if (n < -32768 || n > 32767) return std::nullopt;
        return Variant(static_cast<int16_t>(n));
    default: return Variant(n);
    }
}

std::optional<Variant> WriteValueFor(std::string_view AText, const TZeltoVar& V) {
    if (V.AccessType() == vaReadOnly) return std::nullopt;
    return WriteTextToValue(AText, V.Typ());
}

// ---- TGadgetVar

TGadgetVar::TGadgetVar(std::string AFullName, std::string AName, int32_t aNAD, int32_t AArrayIndex,
                       std::string AWriteValue)
    : fName(std::move(AName)),
      fFullName(std::move(AFullName)),
      fArrayIndex(AArrayIndex),
      fNAD(aNAD),
      fReadReq(true),
      fWriteReq(!AWriteValue.empty()),
      fWriteValue(std::move(AWriteValue)) {}

TGadgetVar::TGadgetVar(const std::string& AFullName) {
    TFullNameParts parts;
    if (!ParseFullName(AFullName, parts)) return;
    fFullName = AFullName;
    fName = std::move(parts.Name);
    fNAD = parts.NAD;
    fArrayIndex = parts.ArrayIndex;
    fWriteValue = std::move(parts.WriteValue);
    fReadReq = true;
    fWriteReq = !fWriteValue.empty();
}

void TGadgetVar::SetZeltoVar(TZeltoVar* V) {
    fZeltoVar = V;
    if (V == nullptr) return;
    if (IsArray()) V->SetArrayIndex(fArrayIndex);
    if (fWriteReq) {
        if (const std::optional<Variant> value = WriteValueFor(fWriteValue, *V)) V->SetValue(*value);
    }
}

// ---- TGadgetVarList

void TGadgetVarList::ClearZeltoVarReferences() {
    for (TGadgetVar* g : *this)
        if (g != nullptr) g->SetZeltoVar(nullptr);
}

void TGadgetVarList::ClearZeltoVarReferencesByNAD(int32_t ANad) {
    for (TGadgetVar* g : *this)
        if (g != nullptr && g->NAD() == ANad) g->SetZeltoVar(nullptr);
}

TGadgetVar* TGadgetVarList::GetByFullName(std::string_view AName) const {
    for (TGadgetVar* g : *this)
        if (g != nullptr && g->FullName() == AName) return g;
    return nullptr;
}

bool TGadgetVarList::AllTagsOk() const {
    return std::all_of(begin(), end(), [](const TGadgetVar* g) { return g && g->ZeltoVar(); });
}

namespace {
TZeltoVar* Bound(const TGadgetVar* AItem) { return AItem != nullptr ? AItem->ZeltoVar() : nullptr; }

// Runs a read accessor on the bound variable of an entry: false when the entry is missing or unbound, or
// when reading raises; AValue is assigned only on success.
template <typename T, typename Read>
bool ReadBound(const TGadgetVar* AItem, T& AValue, Read read) {
    try {
        const TZeltoVar* v = Bound(AItem);
        if (v == nullptr) return false;
        AValue = read(*v);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

double NumValue(const TZeltoVar& v) { return v.Typ() == vtReal ? v.ValueFloat() : static_cast<double>(v.ValueInt()); }
}  // namespace

bool TGadgetVarList::ReadValueInt(int AIndex, int32_t& AValue) const {
    return ReadBound(GetItem(AIndex), AValue, [](const TZeltoVar& v) { return v.ValueInt(); });
}

bool TGadgetVarList::ReadValueFloat(int AIndex, double& AValue) const {
    return ReadBound(GetItem(AIndex), AValue, [](const TZeltoVar& v) { return v.ValueFloat(); });
}

bool TGadgetVarList::ReadNumValue(int AIndex, double& AValue) const {
    return ReadBound(GetItem(AIndex), AValue, NumValue);
}

bool TGadgetVarList::ReadNumValue(std::string_view AVariable, double& AValue) const {
    return ReadBound(GetByFullName(AVariable), AValue, NumValue);
}

bool TGadgetVarList::ReadString(std::string_view AVariable, int /*ALength*/, std::string& AValue) const {
    AValue = "?";
    try {
        const TGadgetVar* g = GetByFullName(AVariable);
        const TZeltoVar* v = Bound(g);
        if (v == nullptr) return false;
        constexpr std::size_t kBufferSize = 1024;
        const TByteStream& stream = v->Stream();
        const std::size_t limit = std::min<std::size_t>(
            {kBufferSize, stream.size(), static_cast<std::size_t>(std::max<int32_t>(g->StreamByteCount(), 0))});
        std::string bytes;
        for (std::size_t i = 0; i < limit && stream[i] != 0; ++i) bytes += static_cast<char>(stream[i]);
        AValue = Latin1ToUtf8(bytes);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::optional<TByteStream> TGadgetVarList::ReadToStream(std::string_view AVariable) const {
    try {
        const TGadgetVar* g = GetByFullName(AVariable);
        const TZeltoVar* v = Bound(g);
        if (v == nullptr || g->StreamByteCount() < 0 ||
            v->Stream().size() != static_cast<std::size_t>(g->StreamByteCount()))
            return std::nullopt;
        return v->Stream();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void TGadgetVarList::WriteString(std::string_view AVariable, std::string_view AValue) {
    try {
        TGadgetVar* g = GetByFullName(AVariable);
        TZeltoVar* v = Bound(g);
        if (v == nullptr) return;
        g->SetWriteReq(false);
        v->SetWriteReq(false);
        const std::string bytes = Utf8ToLatin1(AValue, '?');
        v->Stream().assign(bytes.begin(), bytes.end());
        v->Stream().push_back(0);
        g->SetWriteReq(true);
    } catch (const std::exception&) {
        // The string accessors drop their errors.
    }
}

void TGadgetVarList::WriteNumValueOf(TGadgetVar* AItem, const Variant& AValue) {
    TZeltoVar* v = AItem != nullptr ? AItem->ZeltoVar() : nullptr;
    if (v == nullptr) return;
    // Both conversions run before anything changes.
    std::string text = FormatGeneral(VariantAsNumber(AValue).AsDouble());
    v->ValueForPLC(AValue);
    AItem->SetWriteValue(std::move(text));
    AItem->SetWriteReq(true);
}

void TGadgetVarList::WriteNumValue(int AIndex, const Variant& AValue) { WriteNumValueOf(GetItem(AIndex), AValue); }

void TGadgetVarList::WriteNumValue(std::string_view AVariable, const Variant& AValue) {
    WriteNumValueOf(GetByFullName(AVariable), AValue);
}

}  // namespace zelto
