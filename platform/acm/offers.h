// What the codec service offers to a program that names formats by key instead
// of through the chooser (wavtrn-cli): one call, with no window and none of the
// service's inner tables in sight.
#pragma once

#include "platform/acm/acm.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace acm {

// The widest range PCM and float are written at: any rate up to this, up to
// this many channels (the speaker masks stop at 7.1).
constexpr DWORD kHighestWrittenRate = 768000;
constexpr unsigned kMostWrittenChannels = 8;

// Which numbers a format's key writes between its rate and its channel count.
enum class KeyNumbers {
    Bits,     // the depth: linear formats, and tags without a name of their own
    BitRate,  // the bit rate in kbit/s: tags offered at several
    None,     // nothing: codecs of one fixed depth and rate per block
};

// One format: the name its key starts with ("pcm", "pcm-ext", "mp3", or
// "tag-0045" for a tag without a name of its own), which numbers follow, the
// chooser's names, and the complete block with its extra bytes. The format's
// name is in the words the service names formats in (SetNameWords), and in
// the other words beside it, so that a search can match either.
struct OfferedFormat {
    std::string keyName;
    KeyNumbers numbers = KeyNumbers::Bits;
    std::string tagName;
    std::string formatName;
    std::string otherName;
    std::vector<BYTE> block;
};

// A linear tag, which makes a format at any rate and channel count: the name
// its keys start with, the depths it takes, and the maker of one of its
// formats (nullopt when the tag cannot describe those numbers).
struct LinearOffer {
    std::string keyName;
    std::vector<unsigned> depths;
    std::function<std::optional<OfferedFormat>(DWORD rate, unsigned bits, unsigned channels)> make;
};

struct KeyOffers {
    std::vector<OfferedFormat> formats;  // every format of the chooser, in its order
    std::vector<LinearOffer> linear;     // the linear tags the chooser offers
};

// Everything the codec service offers by key.
KeyOffers OfferedFormats();

}  // namespace acm
