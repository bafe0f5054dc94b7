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
    std::string formatName;  // in the words the service names formats in
    std::string otherName;   // in the other words, which a filter matches too
    std::vector<BYTE> block;  // the complete WAVEFORMATEX with its extra bytes
    const WAVEFORMATEX* wfx() const { return reinterpret_cast<const WAVEFORMATEX*>(block.data()); }
};

// Every format of the chooser, in the chooser's order, with unique keys: two
// blocks that would share a key (the same codec at the same rate and channels
// with another block size) both get "/b<block alignment>" appended.
std::vector<CliFormat> ListFormats();

// The formats whose key, tag name or format name holds word, letter case aside.
// The format name is matched in both its words, so "stereo" and "ステレオ"
// find the same formats whichever the names are shown in.
std::vector<CliFormat> FilterFormats(const std::vector<CliFormat>& formats, std::string_view word);

// For a key with fields left out ("gsm", "mp3", "mp3/128"): the offered format
// whose key has the same name and holds the given numbers in order, nearest to
// the source: its rate and channels where offered, then the nearest rate,
// channels, depth and data rate. Null when no key fits; the first that fits
// when pwfxSrc is null. In a PCM or float key the word "source" in place of the
// rate, bits or channels keeps the source's ("pcm/source/16/source"; the
// offered depth nearest the source's).
const CliFormat* NearestToSource(const std::vector<CliFormat>& formats, std::string_view key,
                                 const WAVEFORMATEX* pwfxSrc);

// Levenshtein distance between two words, letter case aside.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The format with this key, letter case aside; null when there is none. PCM and
// float keys ("pcm/11127/16/1", "pcm-ext/384000/24/6") take any rate from 1 Hz
// to 768 kHz, 1 to 8 channels and any depth their tag offers.
const CliFormat* FindFormat(const std::vector<CliFormat>& formats, std::string_view key);

// The keys nearest to key, nearest first, at most count of them: among keys of
// the same codec by rate, then depth or bit rate, then channels; otherwise by
// edit distance (letter case aside).
std::vector<std::string> NearestKeys(const std::vector<CliFormat>& formats, std::string_view key,
                                     std::size_t count);
