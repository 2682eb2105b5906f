#pragma once
// Request variables: the controller variables that a client names in a request ("c10.level",
// "c10.tab[3]=7"), bound to the controller's own variables while its proxy writes and reads them; and their
// list with value accessors by position and by full name.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Variant.h"
#include "vars/TItemList.h"
#include "vars/uZeltoVars.h"

namespace zelto {

// The pieces of a full name: "c" NAD "." name ["[" index "]"] ["=" value].
struct TFullNameParts {
    int32_t NAD = 0;
    std::string Name;
    int32_t ArrayIndex = -1;  // -1: no valid index
    std::string WriteValue;   // empty: nothing to write (also when the value was no decimal-number text)
};

// Cuts "=" and what follows off an item and returns it when it is decimal-number text (else ""); a
// backslash right before the "=" is dropped ("c5.x\=3"). Without "=" the item stays and "" is returned.
std::string CutWriteValue(std::string& Item);
// Deletes the first "[" through the first "]" of a name when they enclose a whole-number text of 0 or
// more, which becomes Index; otherwise false and both stay as they were.
bool CutArrayIndex(std::string& Name, int32_t& Index);

// Parses a full name; false when it is not one (no ".", no "c"/"C" prefix, no whole-number NAD).
bool ParseFullName(std::string_view AFullName, TFullNameParts& AParts);

// The canonical full name of a controller variable: "c" NAD "." name, and "[" index "]" for an element of
// an array variable ("c1000.level", "c1000.table[3]").
std::string BuildFullName(int32_t ANAD, const TZeltoVar& AVar);

class TGadgetVar {
public:
    // Stores the values unchanged, without parsing: ReadReq set, WriteReq set when AWriteValue is not empty.
    TGadgetVar(std::string AFullName, std::string AName, int32_t aNAD, int32_t AArrayIndex, std::string AWriteValue);
    // Parses AFullName. A name that does not parse gives an empty variable (no name, NAD 0, index 0, neither
    // read nor written).
    explicit TGadgetVar(const std::string& AFullName);
    TGadgetVar(const TGadgetVar&) = delete;
    TGadgetVar& operator=(const TGadgetVar&) = delete;

    const std::string& Name() const { return fName; }
    const std::string& FullName() const { return fFullName; }
    int32_t NAD() const { return fNAD; }
    int32_t ArrayIndex() const { return fArrayIndex; }
    void SetArrayIndex(int32_t v) { fArrayIndex = v; }
    // True when the variable names an element (index 0 or more).
    bool IsArray() const { return fArrayIndex >= 0; }

    // The bound controller variable (not owned), or nullptr.
    TZeltoVar* ZeltoVar() const { return fZeltoVar; }
    // Binds: stores V; for an element request sets V's ArrayIndex to this index; with WriteReq set, converts
    // WriteValue for V (WriteValueFor) and, when it passes, writes it to V's Value (V's own WriteReq is not
    // touched).
    // A text that does not pass changes nothing. nullptr only unbinds.
    void SetZeltoVar(TZeltoVar* V);

    bool ReadReq() const { return fReadReq; }
    void SetReadReq(bool v) { fReadReq = v; }
    bool WriteReq() const { return fWriteReq; }
    void SetWriteReq(bool v) { fWriteReq = v; }
    const std::string& WriteValue() const { return fWriteValue; }
    void SetWriteValue(std::string v) { fWriteValue = std::move(v); }
    int32_t StreamByteCount() const { return fStreamByteCount; }
    void SetStreamByteCount(int32_t v) { fStreamByteCount = v; }

private:
    std::string fName;
    std::string fFullName;
    int32_t fArrayIndex = 0;
    TZeltoVar* fZeltoVar = nullptr;
    int32_t fNAD = 0;
    bool fReadReq = false;
    bool fWriteReq = false;
    std::string fWriteValue;
    int32_t fStreamByteCount = 0;
};

// The value a write text gives for a controller variable of type `Typ`, or nullopt when the type refuses it
// (bit 0/1, word 0..65535, int -32768..32767, long any 32-bit whole number, real a decimal number whose
// single is 0 or of magnitude 1.5e-45..3.4e38; other types take nothing).
std::optional<Variant> WriteTextToValue(std::string_view AText, TZeltoVarTyp Typ);
// The value a request's write text gives the controller variable V, or nullopt when V is not written: a
// variable that the controller's list marks read-only is never written from outside, and a text that V's
// type refuses is dropped (the variable is then only read).
std::optional<Variant> WriteValueFor(std::string_view AText, const TZeltoVar& V);

// The request variables of a request in order. The request service's list owns them; a proxy's read and
// write lists borrow them (TListOwnership::Borrows) and are emptied with ClearWithoutFreeing.
class TGadgetVarList : public TItemList<TGadgetVar> {
public:
    explicit TGadgetVarList(TListOwnership AOwnership = TListOwnership::Owns) : TItemList(AOwnership) {}

    // The same as GetItem: nullptr outside 0..Count-1.
    TGadgetVar* GetByIndex(int AIndex) const { return GetItem(AIndex); }

    int32_t NAD() const { return fNAD; }
    void SetNAD(int32_t v) { fNAD = v; }

    // Unbinds every entry.
    void ClearZeltoVarReferences();
    // Unbinds every entry of this NAD.
    void ClearZeltoVarReferencesByNAD(int32_t ANad);
    // The first entry whose FullName equals AName exactly, or nullptr.
    TGadgetVar* GetByFullName(std::string_view AName) const;
    // True when every entry is present and bound (true for an empty list).
    bool AllTagsOk() const;

    // Read accessors: false (AValue untouched) when the entry is missing, unbound, or the read raises.
    bool ReadValueInt(int AIndex, int32_t& AValue) const;
    bool ReadValueFloat(int AIndex, double& AValue) const;
    // A real as ValueFloat, any other type as ValueInt.
    bool ReadNumValue(int AIndex, double& AValue) const;
    bool ReadNumValue(std::string_view AVariable, double& AValue) const;
    // The text in the bound variable's byte stream: one character per byte (its code), up to the first 0
    // byte, the entry's StreamByteCount and 1024 bytes. AValue is "?" when the entry is missing or unbound.
    // ALength is not consulted.
    bool ReadString(std::string_view AVariable, int ALength, std::string& AValue) const;
    // A copy of the bound variable's byte stream when its size equals the entry's StreamByteCount.
    std::optional<TByteStream> ReadToStream(std::string_view AVariable) const;
    // Puts AValue into the bound variable's byte stream, one byte per character followed by a 0 byte (a
    // character above U+00FF is stored as "?"), and marks the entry for writing. Errors are dropped.
    void WriteString(std::string_view AVariable, std::string_view AValue);
    // For a bound entry: the variable's ValueForPLC(AValue); the entry's WriteValue becomes AValue in the
    // general number format and its WriteReq is set. Conversion errors are raised.
    void WriteNumValue(int AIndex, const Variant& AValue);
    void WriteNumValue(std::string_view AVariable, const Variant& AValue);

private:
    static void WriteNumValueOf(TGadgetVar* AItem, const Variant& AValue);

    int32_t fNAD = 0;
};

}  // namespace zelto
