// The formats the chooser offers, each with a short key the command line takes
// ("pcm/44100/16/2", "ima-adpcm/22050/2", "mp3/44100/128/2", ...).
#pragma once

#include "platform/acm/acm.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct CliFormat {
    std::string key;
    std::string tagName;
    std::string formatName;
    std::vector<BYTE> block;  // the complete WAVEFORMATEX with its extra bytes
    const WAVEFORMATEX* wfx() const { return reinterpret_cast<const WAVEFORMATEX*>(block.data()); }
};

// Every format of the chooser, in the chooser's order, with unique keys: two
// blocks that would share a key (the same codec at the same rate and channels
// with another block size) both get "/b<block alignment>" appended.
std::vector<CliFormat> ListFormats();

// The formats whose key, tag name or format name holds word, letter case aside.
std::vector<CliFormat> FilterFormats(const std::vector<CliFormat>& formats, std::string_view word);

// The format with this key, letter case aside; null when there is none.
const CliFormat* FindFormat(const std::vector<CliFormat>& formats, std::string_view key);

// The keys nearest to key by edit distance (letter case aside), nearest first,
// at most count of them.
std::vector<std::string> NearestKeys(const std::vector<CliFormat>& formats, std::string_view key,
                                     std::size_t count);
