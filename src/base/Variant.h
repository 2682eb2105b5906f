#pragma once
// A small value type for variable values: empty, an integer of a given width and signedness, a double or
// a text. Conversions to numbers raise EVariantError for a value that is not a number or does not fit.
#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>

namespace zelto {

class EVariantError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum class TVariantKind { Empty, UInt8, Int16, UInt16, Int32, Double, Text };

class Variant {
public:
    Variant() = default;
    Variant(uint8_t v) : fData(v) {}
    Variant(int16_t v) : fData(v) {}
    Variant(uint16_t v) : fData(v) {}
    Variant(int32_t v) : fData(v) {}
    Variant(double v) : fData(v) {}
    Variant(std::string v) : fData(std::move(v)) {}
    Variant(const char* v) : fData(std::string(v)) {}

    TVariantKind Kind() const { return static_cast<TVariantKind>(fData.index()); }
    bool IsEmpty() const { return Kind() == TVariantKind::Empty; }
    bool IsInteger() const;
    bool IsNumber() const { return IsInteger() || Kind() == TVariantKind::Double; }
    bool IsText() const { return Kind() == TVariantKind::Text; }

    // The value as a double; raises for a value that is not a number.
    double AsDouble() const;
    // The value as a 32-bit integer: integers unchanged, a double rounded to the nearest (ties to even);
    // raises for a value that is not a number or lies outside -2147483648..2147483647.
    int32_t AsInt32() const;
    // The text of a text value; numbers in plain decimal ("." as the point), empty as "".
    std::string AsText() const;

    bool operator==(const Variant& other) const = default;

private:
    std::variant<std::monostate, uint8_t, int16_t, uint16_t, int32_t, double, std::string> fData;
};

}  // namespace zelto
