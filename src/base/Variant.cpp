#include "base/Variant.h"

#include <cmath>
#include <cstdio>

namespace zelto {

bool Variant::IsInteger() const {
    switch (Kind()) {
    case TVariantKind::UInt8:
    case TVariantKind::Int16:
    case TVariantKind::UInt16:
    case TVariantKind::Int32:
        return true;
    default:
        return false;
    }
}

double Variant::AsDouble() const {
    switch (Kind()) {
    case TVariantKind::UInt8: return std::get<uint8_t>(fData);
    case TVariantKind::Int16: return std::get<int16_t>(fData);
    case TVariantKind::UInt16: return std::get<uint16_t>(fData);
    case TVariantKind::Int32: return std::get<int32_t>(fData);
    case TVariantKind::Double: return std::get<double>(fData);
    default: throw EVariantError("Could not convert variant to a number");
    }
}

int32_t Variant::AsInt32() const {
    if (IsInteger()) return static_cast<int32_t>(AsDouble());
    if (Kind() != TVariantKind::Double) throw EVariantError("Could not convert variant to a number");
    const double r = std::nearbyint(std::get<double>(fData));
    if (!(r >= -2147483648.0 && r <= 2147483647.0)) throw EVariantError("Variant value out of the 32-bit integer range");
    return static_cast<int32_t>(r);
}

std::string Variant::AsText() const {
    switch (Kind()) {
    case TVariantKind::Empty: return "";
    case TVariantKind::Text: return std::get<std::string>(fData);
    case TVariantKind::Double: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", std::get<double>(fData));
        return buf;
    }
    default: return std::to_string(AsInt32());
    }
}

}  // namespace zelto
