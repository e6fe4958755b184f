// A set of enumeration values, one bit per value, as the toolkit's option
// sets are: Contains, + (union), - (difference), built from a list.
#pragma once

#include <cstdint>
#include <initializer_list>

template <typename E>
class TEnumSet
{
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values)
    {
        for (E value : values)
            FBits |= Bit(value);
    }
    static constexpr TEnumSet FromValue(uint64_t bits)
    {
        TEnumSet result;
        result.FBits = bits;
        return result;
    }
    constexpr uint64_t Value() const { return FBits; }
    constexpr bool Contains(E value) const { return FBits & Bit(value); }
    constexpr bool IsEmpty() const { return FBits == 0; }
    constexpr TEnumSet operator+(TEnumSet other) const { return FromValue(FBits | other.FBits); }
    constexpr TEnumSet operator-(TEnumSet other) const { return FromValue(FBits & ~other.FBits); }
    constexpr TEnumSet operator*(TEnumSet other) const { return FromValue(FBits & other.FBits); }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr uint64_t Bit(E value) { return uint64_t(1) << static_cast<unsigned>(value); }
    uint64_t FBits = 0;
};
