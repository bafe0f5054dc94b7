// Basic integer and handle types with the widths the program's records rely on.
// Linux is LP64, so "long" is 64 bits here; the record types use fixed widths.
#pragma once

#include <climits>
#include <cstdint>

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "RIFF records are read and written in host order; a little-endian host is required");

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using UINT = unsigned int;
using BOOL = int;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using DWORD_PTR = std::uintptr_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using MMRESULT = std::uint32_t;
using FOURCC = std::uint32_t;

// Path buffers hold the platform's path limit; a longer path is refused, never cut.
constexpr int kPathChars = PATH_MAX;

struct HWND__;
using HWND = HWND__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr WORD LOWORD(WPARAM w) { return static_cast<WORD>(w & 0xFFFF); }
constexpr WORD HIWORD(WPARAM w) { return static_cast<WORD>((w >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD lo, WORD hi) { return static_cast<WPARAM>(lo) | (static_cast<WPARAM>(hi) << 16); }
