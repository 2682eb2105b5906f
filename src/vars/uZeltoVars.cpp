#include "vars/uZeltoVars.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/NumberText.h"
#include "base/TextEncoding.h"
#include "base/TextLines.h"
#include "vars/SingleFloat.h"
#include "vars/uAlcLine.h"

namespace zelto {

namespace {
struct TWord {
    const char* Word;
    int Value;
};

constexpr TWord kScopeWords[] = {{"global", vsGlobal}, {"local", vsLocal}, {"reg", vsReg}};

constexpr TWord kTypWords[] = {
    {"bit", vtBit},           {"word", vtWord},         {"int", vtInt},
    {"long", vtLong},         {"real", vtReal},         {"timer", vtTimer},
    {"counter", vtCounter},   {"const", vtConst},       {"void", vtVoid},
    {"timerbit", vtTimerBit}, {"timerlong", vtTimerLong}, {"counterbit", vtCounterBit},
    {"counterlong", vtCounterInt},
};

template <std::size_t N>
int WordToValue(const TWord (&words)[N], std::string_view word) {
    std::string lower(word);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    for (const TWord& w : words)
        if (lower == w.Word) return w.Value;
    return 0;
}

template <std::size_t N>
std::string ValueToWord(const TWord (&words)[N], int value) {
    for (const TWord& w : words)
        if (w.Value == value) return w.Word;
    return "";
}

}  // namespace

Variant VariantAsNumber(const Variant& v) {
    if (v.IsNumber()) return v;
    if (!v.IsText()) throw EVariantError("Could not convert variant to a number");
    const std::string text = v.AsText();
    int32_t whole = 0;
    if (TryParseWholeNumber(text, whole)) return Variant(whole);
    double d = 0;
    if (TryParseDecimalNumber(text, d)) return Variant(d);
    throw EVariantError("Could not convert variant of type (String) into type (Double)");
}

namespace {
int32_t ToInt32(const Variant& v) { return VariantAsNumber(v).AsInt32(); }

// The single-precision value of a Variant; raises when it lies beyond the single range.
float VariantToSingle(const Variant& v) {
    float f = 0;
    if (!TryDoubleToSingle(VariantAsNumber(v).AsDouble(), f)) throw EVariantError("Floating point overflow");
    return f;
}

bool IsNaNPattern(int32_t raw) { return std::isnan(SingleFromBits(static_cast<uint32_t>(raw))); }

// The integer types' reduction of a 32-bit integer to the type's width and signedness.
Variant ReduceToIntegerTyp(int32_t n, TZeltoVarTyp typ) {
    switch (typ) {
    case vtBit: return Variant(static_cast<uint8_t>(n & 0xFF));
    case vtWord: return Variant(static_cast<uint16_t>(n & 0xFFFF));
    case vtInt: return Variant(static_cast<int16_t>(static_cast<uint16_t>(n & 0xFFFF)));
    default: return Variant(n);
    }
}
}  // namespace

TZeltoVarScope StrToVarScope(std::string_view word) {
    return static_cast<TZeltoVarScope>(WordToValue(kScopeWords, word));
}

TZeltoVarTyp StrToVarTyp(std::string_view word) { return static_cast<TZeltoVarTyp>(WordToValue(kTypWords, word)); }

std::string VarScopeToStr(TZeltoVarScope scope) { return ValueToWord(kScopeWords, scope); }

std::string VarTypToStr(TZeltoVarTyp typ) { return ValueToWord(kTypWords, typ); }

int VarTypTransferBytes(TZeltoVarTyp typ) {
    switch (typ) {
    case vtBit: return 1;
    case vtWord:
    case vtInt: return 2;
    case vtLong:
    case vtReal: return 4;
    default: return 0;
    }
}

Variant VarToPLCValue(const Variant& Value, TZeltoVarTyp Typ) {
    switch (Typ) {
    case vtBit:
    case vtWord:
    case vtInt:
    case vtLong: return ReduceToIntegerTyp(ToInt32(Value), Typ);
    case vtReal: return Variant(static_cast<int32_t>(SingleToBits(VariantToSingle(Value))));
    default: return Value;
    }
}

// ---- TZeltoVar

TZeltoVar::TZeltoVar() = default;

TZeltoVar::TZeltoVar(std::string AName, int32_t AAddr, int32_t ASize, int32_t AArray, int32_t AArrayIndex,
                     int32_t AOffset, TZeltoVarScope AScope, TZeltoVarTyp ATyp, TZeltoVarVisibility AVisibility,
                     TZeltoVarAccessType AAccessType, std::string ADescription, const Variant& AValue)
    : fAddress(AAddr),
      fSize(ASize),
      fArrayCount(AArray),
      fOffset(AOffset),
      fScope(AScope),
      fTyp(ATyp),
      fVisibility(AVisibility),
      fAccessType(AAccessType),
      fName(std::move(AName)),
      fDescription(std::move(ADescription)),
      fArrayIndex(AArrayIndex) {
    SetValue(AValue);
}

void TZeltoVar::Assign(const TZeltoVar* AVar) {
    if (AVar == nullptr || AVar == this) return;
    fTyp = AVar->fTyp;
    fVisibility = AVar->fVisibility;
    fAccessType = AVar->fAccessType;
    fName = AVar->fName;
    fDescription = AVar->fDescription;
    fValue = AVar->fValue;
    fZeltoValue = AVar->fZeltoValue;
    fAddress = AVar->fAddress;
    fSize = AVar->fSize;
    fScope = AVar->fScope;
    fOffset = AVar->fOffset;
    fArrayCount = AVar->fArrayCount;
    fArrayIndex = AVar->fArrayIndex;
    fWriteReq = AVar->fWriteReq;
    fStreamByteCount = AVar->fStreamByteCount;
    fStream = AVar->fStream;
}

int32_t TZeltoVar::RealAddress() const {
    // 32-bit arithmetic: wraps around as the controller's address arithmetic does.
    uint32_t a = static_cast<uint32_t>(fAddress) + static_cast<uint32_t>(fOffset);
    if (IsArray()) a += static_cast<uint32_t>(fArrayIndex) * static_cast<uint32_t>(fSize);
    return static_cast<int32_t>(a);
}

Variant TZeltoVar::Value() const {
    switch (fTyp) {
    case vtBit:
    case vtWord:
    case vtInt:
    case vtLong: return ReduceToIntegerTyp(fZeltoValue, fTyp);
    case vtReal: return Variant(static_cast<double>(SingleFromBits(static_cast<uint32_t>(fZeltoValue))));
    default: return Variant(fZeltoValue);
    }
}

void TZeltoVar::SetValue(const Variant& V) {
    if (fTyp == vtReal) {
        const float x = VariantToSingle(V);
        fValue = Variant(static_cast<double>(x));
        fZeltoValue = static_cast<int32_t>(SingleToBits(x));
        return;
    }
    SetZeltoValue(ToInt32(V));
}

int32_t TZeltoVar::ZeltoValue() const {
    switch (fTyp) {
    case vtBit:
    case vtWord:
    case vtInt:
    case vtLong: return ReduceToIntegerTyp(fValue.AsInt32(), fTyp).AsInt32();
    case vtReal: {
        const float x = VariantToSingle(fValue);
        // A NaN keeps the exact pattern it came with: widening to a double and back may change its payload.
        if (std::isnan(x) && IsNaNPattern(fZeltoValue)) return fZeltoValue;
        return static_cast<int32_t>(SingleToBits(x));
    }
    default: return 0;
    }
}

void TZeltoVar::SetZeltoValue(int32_t R) {
    fZeltoValue = R;
    switch (fTyp) {
    case vtBit:
    case vtWord:
    case vtInt:
    case vtLong: fValue = ReduceToIntegerTyp(R, fTyp); break;
    case vtReal: fValue = Variant(static_cast<double>(SingleFromBits(static_cast<uint32_t>(R)))); break;
    default: fValue = Variant(uint8_t{0}); break;
    }
}

double TZeltoVar::ValueFloat() const { return Value().AsDouble(); }

int32_t TZeltoVar::ValueInt() const { return ZeltoValue(); }

std::string TZeltoVar::ValueText(const TFormatSettings& fs) const { return FormatGeneral(ValueFloat(), fs); }

std::string TZeltoVar::ValueText() const { return ValueText(FormatSettings()); }

void TZeltoVar::ValueForPLC(const Variant& AValue) {
    SetValue(AValue);
    fWriteReq = true;
}

// ---- TZeltoVarList

EAlcParseError::EAlcParseError(int ALine)
    : std::runtime_error("Error parsing ALC data on line " + std::to_string(ALine)), fLine(ALine) {}

TZeltoVarList::TZeltoVarList(TZeltoVarList&& other) noexcept
    : TItemList(std::move(other)), fIndex(std::move(other.fIndex)) {
    other.fIndex.Clear();
}

TZeltoVarList& TZeltoVarList::operator=(TZeltoVarList&& other) noexcept {
    if (this != &other) {
        TItemList::operator=(std::move(other));
        fIndex = std::move(other.fIndex);
        other.fIndex.Clear();
    }
    return *this;
}

void TZeltoVarList::IndexEntry(const TZeltoVar* AItem) {
    if (AItem != nullptr)
        fIndex.Append(AItem->Name(), AItem->ArrayIndex());
    else
        fIndex.AppendAbsent();
}

void TZeltoVarList::RebuildIndex() {
    fIndex.Clear();
    for (const TZeltoVar* v : *this) IndexEntry(v);
}

int TZeltoVarList::Add(std::unique_ptr<TZeltoVar> AItem) {
    const TZeltoVar* item = AItem.get();
    const int at = TItemList::Add(std::move(AItem));
    IndexEntry(item);
    return at;
}

int TZeltoVarList::Add(TZeltoVar* AItem) {
    const int at = TItemList::Add(AItem);
    IndexEntry(AItem);
    return at;
}

// Taking an entry out moves the positions after it: the index is built anew.
int TZeltoVarList::Remove(const TZeltoVar* AItem) {
    const int at = TItemList::Remove(AItem);
    if (at >= 0) RebuildIndex();
    return at;
}

std::unique_ptr<TZeltoVar> TZeltoVarList::Extract(TZeltoVar* AItem) {
    auto item = TItemList::Extract(AItem);
    if (item) RebuildIndex();
    return item;
}

void TZeltoVarList::Clear() {
    TItemList::Clear();
    fIndex.Clear();
}

void TZeltoVarList::ClearWithoutFreeing() {
    TItemList::ClearWithoutFreeing();
    fIndex.Clear();
}

TZeltoVar* TZeltoVarList::FindByName(std::string_view AName) const {
    for (TZeltoVar* v : *this)
        if (v != nullptr && v->Name() == AName) return v;
    return nullptr;
}

std::optional<std::vector<std::string>> TZeltoVarList::GetVarNames(TZeltoVarVisibilitySet AVisibility,
                                                                   TZeltoVarAccessTypeSet AAccessType) const {
    std::vector<std::string> names;
    for (TZeltoVar* v : *this)
        if (v != nullptr && AVisibility.Contains(v->Visibility()) && AAccessType.Contains(v->AccessType()))
            names.push_back(v->Name());
    if (names.empty()) return std::nullopt;
    return names;
}

std::optional<std::vector<std::string>> TZeltoVarList::Strings() const {
    if (Count() == 0) return std::nullopt;
    std::vector<std::string> names;
    for (TZeltoVar* v : *this) names.push_back(v != nullptr ? v->Name() : std::string());
    return names;
}

void TZeltoVarList::LoadFromFile(const std::string& FName, int32_t ZeltoNAD) {
    std::ifstream file(FName, std::ios::binary);
    if (!file) throw std::runtime_error("Cannot open file \"" + FName + "\". " + std::strerror(errno));
    LoadFromStream(file, ZeltoNAD);
}

void TZeltoVarList::LoadFromStream(std::istream& AlcStream, int32_t ZeltoNAD) {
    const std::string bytes{std::istreambuf_iterator<char>(AlcStream), std::istreambuf_iterator<char>()};
    LoadFromStr(SplitLines(TextFileToUtf8(bytes)), ZeltoNAD);
}

void TZeltoVarList::LoadFromStr(const std::vector<std::string>& AlcStr, int32_t ZeltoNAD) {
    bool parsing = false;
    for (std::size_t i = 0; i < AlcStr.size(); ++i) {
        const std::string& line = AlcStr[i];
        if (ZeltoNAD == -1 || line.find(";CPU Zelto-2 ") != std::string::npos) parsing = true;
        if (parsing && !ParseAlcLine(line)) throw EAlcParseError(static_cast<int>(i));
    }
}

bool TZeltoVarList::ParseAlcLine(std::string_view line) {
    TAlcLine columns;
    try {
        if (!zelto::ParseAlcLine(line, columns)) return false;
    } catch (const std::exception&) {
        return false;
    }
    if (!columns.GivesVariables()) return true;
    // The element count comes from the controller: an array larger than the controller's 16-bit data
    // address space, or a list beyond kMaxAlcEntries, is refused instead of being allocated.
    if (columns.Count > kMaxAlcArrayCount || Count() > kMaxAlcEntries - columns.Count) return false;
    for (int32_t index = 0; index < columns.Count; ++index) {
        Add(std::make_unique<TZeltoVar>(columns.Name, columns.Address, columns.Size, columns.Count, index,
                                               columns.Offset, columns.Scope, columns.Typ, columns.Visibility(),
                                               columns.AccessType(), columns.Description, Variant(int32_t{0})));
    }
    return true;
}

}  // namespace zelto
