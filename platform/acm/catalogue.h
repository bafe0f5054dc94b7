// The codec service's catalogue: every format tag it knows, with its name, whether
// it decodes and encodes, and the formats the chooser offers for writing.
//
// Other tools (a command-line companion) enumerate the chooser's formats here:
//   for (const acm::CatalogueTag* tag : acm::ChooserTags())
//       for (const acm::CatalogueFormat& format : tag->formats) use(format.block, format.name);
#pragma once

#include "platform/acm/acm.h"
#include "platform/acm/format.h"

#include <string>
#include <vector>

namespace acm {

// One format the chooser offers: the complete block (WAVEFORMATEX and its cbSize
// extra bytes) and its name in the chooser's (Japanese) words.
struct CatalogueFormat {
    Block block;
    std::string name;
    const WAVEFORMATEX& Header() const { return *reinterpret_cast<const WAVEFORMATEX*>(block.data()); }
};

struct CatalogueTag {
    WORD tag = 0;
    std::string name;  // at most 47 characters
    bool decode = false;
    bool encode = false;
    DWORD cbFormatSize = 0;  // the largest block of this tag
    DWORD fdwSupport = 0;
    std::vector<CatalogueFormat> formats;  // what the chooser offers; empty unless encode
};

// Every known tag, in the chooser's order first, then the decode-only tags.
const std::vector<CatalogueTag>& Catalogue();
// The entry for a format tag, or null for a tag the service cannot name.
const CatalogueTag* FindTag(WORD tag);
// The tags the chooser offers, each with at least one format.
std::vector<const CatalogueTag*> ChooserTags();
// What the chooser lists for a tag: the formats it offers and, for PCM and
// float, those at the rate and channel count of the source block (pSource, cb
// bytes) where the offered ones lack them, at every depth the tag offers. The
// offered formats keep their indexes; the others follow. A null, malformed or
// out-of-range source adds nothing.
std::vector<CatalogueFormat> ChooserFormats(const CatalogueTag& tag, const void* pSource, std::size_t cb);
// The chooser's default: PCM 44,100 Hz 16-bit stereo, as indexes into ChooserTags().
struct ChooserPosition {
    int tag = 0;
    int format = 0;
};
ChooserPosition DefaultChoice();
// The position of a block equal to one the chooser offers, if any.
bool FindChoice(const void* block, std::size_t cb, ChooserPosition* position);
// The largest block in the catalogue.
DWORD MaxFormatSize();

// Silences FFmpeg's console log once: damaged input is answered with result codes,
// and the program has no console to write to.
void QuietCodecLog();

}  // namespace acm
