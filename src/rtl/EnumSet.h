// A set of enumeration values, one bit per value, as the toolkit's option
// sets are: Contains, + (union), - (difference), built from a list. Bits is
// the stored word, where a set's width is part of what callers rely on.
#pragma once

#include <cstdint>
#include <initializer_list>

template <typename E, typename Bits = uint64_t>
class TEnumSet
{
public:
    constexpr TEnumSet() = default;
    constexpr TEnumSet(std::initializer_list<E> values)
    {
        for (E value : values)
            FBits |= Bit(value);
    }
    static constexpr TEnumSet FromValue(Bits bits)
    {
        TEnumSet result;
        result.FBits = bits;
        return result;
    }
    constexpr Bits Value() const { return FBits; }
    constexpr bool Contains(E value) const { return FBits & Bit(value); }
    constexpr bool IsEmpty() const { return FBits == 0; }
    constexpr TEnumSet operator+(TEnumSet other) const { return FromValue(FBits | other.FBits); }
    constexpr TEnumSet operator-(TEnumSet other) const { return FromValue(FBits & ~other.FBits); }
    constexpr TEnumSet operator*(TEnumSet other) const { return FromValue(FBits & other.FBits); }
    constexpr bool operator==(const TEnumSet&) const = default;

private:
    static constexpr Bits Bit(E value) { return Bits(1) << static_cast<unsigned>(value); }
    Bits FBits = 0;
};
