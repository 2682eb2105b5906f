#pragma once
// Controller variables: one variable of the program that runs in a controller, as the controller's
// allocation text (ALC) describes it, with its value in the program's form (a Variant) and in the
// controller's raw 32-bit form; and the owning list of a controller's variables with the ALC parser.
#include <cstdint>
#include <initializer_list>
#include <istream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/FormatSettings.h"
#include "base/Variant.h"
#include "vars/TItemList.h"
#include "vars/uZeltoVarIndex.h"

namespace zelto {

enum TZeltoVarScope : int { vsNone = 0, vsGlobal = 1, vsLocal = 2, vsReg = 3 };

enum TZeltoVarTyp : int {
    vtNone = 0,
    vtBit = 1,
    vtWord = 2,
    vtInt = 3,
    vtLong = 4,
    vtReal = 5,
    vtTimer = 6,
    vtCounter = 7,
    vtConst = 8,
    vtVoid = 9,
    vtTimerBit = 10,
    vtTimerLong = 11,
    vtCounterBit = 12,
    vtCounterInt = 13,
};

enum TZeltoVarVisibility : int { vvSystem = 0, vvUser = 1, vvHidden = 2 };

enum TZeltoVarAccessType : int { vaReadWrite = 0, vaReadOnly = 1 };

// A set of the members of one of the small enumerations above.
template <typename E>
class TEnumSet {
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> members) {
        for (E m : members) Include(m);
    }
    constexpr bool Contains(E m) const { return (fBits >> static_cast<unsigned>(m)) & 1u; }
    constexpr void Include(E m) { fBits |= 1u << static_cast<unsigned>(m); }
    constexpr void Exclude(E m) { fBits &= ~(1u << static_cast<unsigned>(m)); }
    constexpr bool IsEmpty() const { return fBits == 0; }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    uint32_t fBits = 0;
};

using TZeltoVarVisibilitySet = TEnumSet<TZeltoVarVisibility>;
using TZeltoVarAccessTypeSet = TEnumSet<TZeltoVarAccessType>;

// The ALC words: lower-cased (ASCII letters only) and compared with the words; vsNone / vtNone for a word
// that is none of them. "counterlong" is vtCounterInt.
TZeltoVarScope StrToVarScope(std::string_view word);
TZeltoVarTyp StrToVarTyp(std::string_view word);
// The ALC word of a scope or type ("" for vsNone, vtNone).
std::string VarScopeToStr(TZeltoVarScope scope);
std::string VarTypToStr(TZeltoVarTyp typ);
// Bytes a variable of this type takes in a transfer: 1 (bit), 2 (word, int), 4 (long, real), 0 for the
// types without a transferred value.
int VarTypTransferBytes(TZeltoVarTyp typ);

// A number Variant unchanged; a text Variant as the number it reads as (a whole-number text as a 32-bit
// integer, a decimal-number text as a double; "." is the point whatever the locale). Any other text, and an
// empty Variant, raise EVariantError. The value conversions of the variable model go through this.
Variant VariantAsNumber(const Variant& v);

// The raw controller form of `Value` for a variable of type `Typ`: bit as unsigned 8-bit (low 8 bits), word
// as unsigned 16-bit, int as signed 16-bit (low 16 bits), long as signed 32-bit, real as the bit pattern of
// its single-precision value (a signed 32-bit integer); any other type gives `Value` unchanged. Raises
// EVariantError for a value that does not convert.
Variant VarToPLCValue(const Variant& Value, TZeltoVarTyp Typ);

// A variable's byte stream (the string and stream accessors of the request variables).
using TByteStream = std::vector<uint8_t>;

class TZeltoVar {
public:
    // An empty variable: vtNone, vsNone, vvSystem, vaReadWrite, all numbers 0, value unsigned 8-bit 0.
    TZeltoVar();
    // `AArray` is the element count. The value is set as writing `Value` sets it, so both forms agree; a
    // value that does not convert for the type raises EVariantError.
    TZeltoVar(std::string AName, int32_t AAddr, int32_t ASize, int32_t AArray, int32_t AArrayIndex, int32_t AOffset,
              TZeltoVarScope AScope, TZeltoVarTyp ATyp, TZeltoVarVisibility AVisibility,
              TZeltoVarAccessType AAccessType, std::string ADescription, const Variant& AValue);
    TZeltoVar(const TZeltoVar&) = delete;
    TZeltoVar& operator=(const TZeltoVar&) = delete;

    // Copies type, visibility, access, name, description, both value forms, address, size, scope, offset,
    // element count and index, write flag, stream count and all stream bytes. nullptr does nothing. The proxy
    // keeps such copies for each transfer.
    void Assign(const TZeltoVar* AVar);

    int32_t Address() const { return fAddress; }
    // Address + Offset (+ ArrayIndex * Size for an element of an array), in 32-bit arithmetic.
    int32_t RealAddress() const;
    int32_t Size() const { return fSize; }
    TZeltoVarScope Scope() const { return fScope; }
    TZeltoVarTyp Typ() const { return fTyp; }
    TZeltoVarVisibility Visibility() const { return fVisibility; }
    TZeltoVarAccessType AccessType() const { return fAccessType; }
    const std::string& Name() const { return fName; }
    const std::string& Description() const { return fDescription; }
    int32_t ArrayCount() const { return fArrayCount; }
    int32_t Offset() const { return fOffset; }
    bool IsArray() const { return fArrayCount > 1; }
    int32_t ArrayIndex() const { return fArrayIndex; }
    void SetArrayIndex(int32_t v) { fArrayIndex = v; }

    // The value, derived from the raw form: bit/word unsigned 8/16-bit, int signed 16-bit, long signed
    // 32-bit, real a double holding the single; other types the raw form as signed 32-bit.
    Variant Value() const;
    // Sets both forms. Real: rounded to single precision; other types: as a 32-bit integer, then as
    // SetZeltoValue. Raises EVariantError before changing anything when the value does not convert.
    void SetValue(const Variant& V);
    // The raw form, derived from the Variant (0 for the types without a transferred value).
    int32_t ZeltoValue() const;
    // Sets the raw form and the Variant reduced to the type (unsigned 8-bit 0 for the other types).
    void SetZeltoValue(int32_t R);
    // Value as a double (a real as its single-precision value).
    double ValueFloat() const;
    // The same as ZeltoValue(): for a real its bit pattern.
    int32_t ValueInt() const;
    // The value as a response shows it: the general number text of ValueFloat (15 significant digits, the
    // decimal separator of `fs`; "INF", "-INF", "NAN" for a real holding such a pattern).
    std::string ValueText(const TFormatSettings& fs) const;
    std::string ValueText() const;

    // Writes Value := AValue and marks the variable for writing to the controller.
    void ValueForPLC(const Variant& AValue);

    bool WriteReq() const { return fWriteReq; }
    void SetWriteReq(bool v) { fWriteReq = v; }
    TByteStream& Stream() { return fStream; }
    const TByteStream& Stream() const { return fStream; }
    int32_t StreamByteCount() const { return fStreamByteCount; }
    void SetStreamByteCount(int32_t v) { fStreamByteCount = v; }

private:
    int32_t fAddress = 0;
    int32_t fSize = 0;
    int32_t fArrayCount = 0;
    int32_t fOffset = 0;
    TZeltoVarScope fScope = vsNone;
    TZeltoVarTyp fTyp = vtNone;
    TZeltoVarVisibility fVisibility = vvSystem;
    TZeltoVarAccessType fAccessType = vaReadWrite;
    std::string fName;
    std::string fDescription;
    Variant fValue{uint8_t{0}};
    int32_t fArrayIndex = 0;
    int32_t fZeltoValue = 0;
    int32_t fStreamByteCount = 0;
    TByteStream fStream;
    bool fWriteReq = false;
};

// Raised for an ALC line that cannot be parsed: "Error parsing ALC data on line N" (N zero-based).
class EAlcParseError : public std::runtime_error {
public:
    explicit EAlcParseError(int ALine);
    int Line() const { return fLine; }

private:
    int fLine;
};

// Bounds on what one ALC may declare: elements of one array, and entries of one list.
inline constexpr int32_t kMaxAlcArrayCount = 65536;
inline constexpr int32_t kMaxAlcEntries = 262144;

// The list of a controller's variables, one entry per array element. Owns its entries unless created as a
// borrowing list. Every change of the list goes through the methods below, which keep an index by name and
// element index up to date; an entry's name and element index must not change while it is in a list.
class TZeltoVarList : public TItemList<TZeltoVar> {
public:
    explicit TZeltoVarList(TListOwnership AOwnership = TListOwnership::Owns) : TItemList(AOwnership) {}
    TZeltoVarList(TZeltoVarList&& other) noexcept;
    TZeltoVarList& operator=(TZeltoVarList&& other) noexcept;

    int Add(std::unique_ptr<TZeltoVar> AItem);
    int Add(TZeltoVar* AItem);
    int Remove(const TZeltoVar* AItem);
    std::unique_ptr<TZeltoVar> Extract(TZeltoVar* AItem);
    void Clear();
    void ClearWithoutFreeing();

    // Calls Visit(position, entry) for every entry named exactly AName whose element index is AArrayIndex,
    // in list order, without walking the list.
    template <typename TVisit>
    void ForEachElement(std::string_view AName, int32_t AArrayIndex, TVisit&& Visit) const {
        fIndex.ForEach(TVarKey{AName, AArrayIndex}, [&](int at) { Visit(at, GetItem(at)); });
    }

    // The first entry named exactly `AName` (element 0 of an array), or nullptr.
    TZeltoVar* FindByName(std::string_view AName) const;
    // Names of the entries whose visibility and access are in the sets, in list order (an array's name once
    // per element); nullopt when none qualifies.
    std::optional<std::vector<std::string>> GetVarNames(TZeltoVarVisibilitySet AVisibility,
                                                        TZeltoVarAccessTypeSet AAccessType) const;
    // Every entry's name in list order; nullopt for an empty list.
    std::optional<std::vector<std::string>> Strings() const;

    // Read an 8-bit text file / stream (Windows-1252 unless a byte-order mark says otherwise), split it into
    // lines and parse them with LoadFromStr. A file that cannot be opened raises std::runtime_error.
    void LoadFromFile(const std::string& FName, int32_t ZeltoNAD);
    void LoadFromStream(std::istream& AlcStream, int32_t ZeltoNAD);
    // Parses the lines as ALC text and appends their variables. Parsing starts at the first line holding
    // ";CPU Zelto-2 " (or at line 0 when ZeltoNAD is -1). A refused line raises EAlcParseError; the
    // variables of earlier lines stay. A line that would pass kMaxAlcArrayCount or kMaxAlcEntries is refused.
    void LoadFromStr(const std::vector<std::string>& AlcStr, int32_t ZeltoNAD);

private:
    bool ParseAlcLine(std::string_view line);
    void IndexEntry(const TZeltoVar* AItem);
    void RebuildIndex();

    TZeltoVarIndex fIndex;
};

}  // namespace zelto
