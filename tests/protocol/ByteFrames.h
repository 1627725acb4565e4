// Test helpers: expected frames written as hex text, and comparison with a built request.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// "12 55 AA" -> {0x12, 0x55, 0xAA}.
inline Bytes Hex(const char* text) {
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token)
        out.push_back(static_cast<std::uint8_t>(std::strtoul(token.c_str(), nullptr, 16)));
    return out;
}

struct At {
    std::size_t offset;
    const char* hex;
};

// A zero-filled frame of length bytes with the given hex runs placed at their offsets.
inline Bytes Frame(std::size_t length, std::initializer_list<At> runs) {
    Bytes out(length, 0);
    for (const At& run : runs) {
        const Bytes bytes = Hex(run.hex);
        for (std::size_t i = 0; i < bytes.size(); ++i) out.at(run.offset + i) = bytes[i];
    }
    return out;
}

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

inline std::string ToHex(const Bytes& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        if (!s.empty()) s += ' ';
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

// A 64-byte reply with the given bytes set.
inline Bytes Reply(std::initializer_list<At> runs) {
    return Frame(64, runs);
}

// One row of a builder table: the request a builder produced and the bytes it must be.
struct BuilderCase {
    const char* name;
    Bytes built;
    Bytes expected;
};

inline std::string BuilderCaseName(const BuilderCase& c) {
    return c.name;
}

// Failure messages name the case instead of dumping the object.
inline void PrintTo(const BuilderCase& c, std::ostream* os) {
    *os << c.name;
}

// Builder tables of every family are instantiated against this one test (see
// query_commands_test.cpp for the test body).
class BuilderBytes : public ::testing::TestWithParam<BuilderCase> {};

#define INSTANTIATE_BUILDER_TABLE(family, table)                                     \
    INSTANTIATE_TEST_SUITE_P(family, BuilderBytes, ::testing::ValuesIn(table),       \
                             [](const ::testing::TestParamInfo<BuilderCase>& info) { \
                                 return BuilderCaseName(info.param);                 \
                             })
