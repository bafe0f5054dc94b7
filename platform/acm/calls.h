// Checks every codec-service call shares: a name copied into a record's fixed
// buffer, and the body of a call run with its exceptions turned into codes.
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/av_util.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <new>
#include <span>
#include <string>

namespace acm {

// Copies text into a fixed buffer, cut at a character boundary, always terminated.
template <std::size_t N>
void CopyName(char (&buffer)[N], const std::string& text) {
    std::size_t n = std::min(text.size(), N - 1);
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) --n;
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// The bytes of a block whose cbSize the caller vouches for (18 + cbSize).
inline std::span<const std::uint8_t> WholeBlock(const WAVEFORMATEX* pwfx) {
    return {reinterpret_cast<const std::uint8_t*>(pwfx), sizeof(WAVEFORMATEX) + pwfx->cbSize};
}

// Runs a call's body: running out of memory gives MMSYSERR_NOMEM, any other
// exception ACMERR_NOTPOSSIBLE, so that no exception leaves the service. The
// codec's detail of an earlier call is cleared first.
template <typename F>
MMRESULT Guarded(F&& body) {
    ClearCodecDetail();
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return MMSYSERR_NOMEM;
    } catch (...) {
        return ACMERR_NOTPOSSIBLE;
    }
}

}  // namespace acm
