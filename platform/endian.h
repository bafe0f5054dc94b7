// Integers stored in byte buffers in a file's byte order, whatever the host's:
// RIFF, Wave64 and format blocks are little-endian, RIFX sizes big-endian.
// Every loader and storer of the program's file fields is one of these.
#pragma once

#include <cstddef>
#include <cstdint>

namespace endian {

namespace detail {

template <class T>
constexpr T LoadLe(const void* from) {
    const auto* p = static_cast<const unsigned char*>(from);
    T v = 0;
    for (std::size_t i = sizeof(T); i-- > 0;) v = static_cast<T>((v << 8) | p[i]);
    return v;
}

template <class T>
constexpr T LoadBe(const void* from) {
    const auto* p = static_cast<const unsigned char*>(from);
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) v = static_cast<T>((v << 8) | p[i]);
    return v;
}

template <class T>
constexpr void StoreLe(void* to, T value) {
    auto* p = static_cast<unsigned char*>(to);
    for (std::size_t i = 0; i < sizeof(T); ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace detail

inline std::uint16_t LoadLe16(const void* p) { return detail::LoadLe<std::uint16_t>(p); }
inline std::uint32_t LoadLe32(const void* p) { return detail::LoadLe<std::uint32_t>(p); }
inline std::uint64_t LoadLe64(const void* p) { return detail::LoadLe<std::uint64_t>(p); }
inline std::uint32_t LoadBe32(const void* p) { return detail::LoadBe<std::uint32_t>(p); }

inline void StoreLe16(void* p, std::uint16_t value) { detail::StoreLe(p, value); }
inline void StoreLe32(void* p, std::uint32_t value) { detail::StoreLe(p, value); }
inline void StoreLe64(void* p, std::uint64_t value) { detail::StoreLe(p, value); }

// Appends the low bytes of value, least significant first; bytes may be any
// width from 1 to 8 (3 for a 24-bit sample).
template <class Bytes>
void AppendLe(Bytes& out, std::uint64_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

}  // namespace endian
