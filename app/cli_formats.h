// The formats the chooser offers, each with a short key the command line uses
// ("pcm/44100/16/2", "ima-adpcm/22050/2", "mp3/44100/128/2", ...).
#pragma once

#include "platform/acm/acm.h"

#include <string>
#include <vector>

struct CliFormat {
    std::string key;
    std::string tagName;
    std::string formatName;
    std::vector<BYTE> block;  // the complete WAVEFORMATEX with its extra bytes
    const WAVEFORMATEX* wfx() const { return reinterpret_cast<const WAVEFORMATEX*>(block.data()); }
};

// The key of one format block, before collisions are settled.
std::string BaseFormatKey(const WAVEFORMATEX& wfx);

// Every format of the chooser, in the chooser's order, with unique keys: two
// blocks that would share a key (the same codec at the same rate and channels
// with another block size) both get "/b<block alignment>" appended.
std::vector<CliFormat> ListFormats();

// The format with this key, or null.
const CliFormat* FindFormat(const std::vector<CliFormat>& formats, const std::string& key);
