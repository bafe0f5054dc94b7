// The service's offers by key: the chooser's formats, each with the name and
// numbers of its key, and the linear tags with the depths they take.
#include "platform/acm/offers.h"

#include "platform/acm/catalogue.h"
#include "platform/acm/format.h"
#include "platform/acm/tags.h"

#include <cstdio>

namespace acm {
namespace {

// The format with its key's name and numbers: tags the command line has a
// name for are keyed by it, any other by its number.
OfferedFormat Offered(const Block& block, const FormatInfo& info, std::string tagName) {
    const Words shown = NameWords();
    OfferedFormat offered{{}, KeyNumbers::Bits, std::move(tagName), FormatName(info, shown),
                          FormatName(info, shown == Words::English ? Words::Japanese : Words::English),
                          {block.begin(), block.end()}};
    const WORD coding = info.codingTag;  // an extensible block's sub-format
    const TagFacts* facts = FindTagFacts(coding);
    if (facts != nullptr && facts->key != nullptr) {
        offered.keyName = facts->key;
        if (facts->KeyHasBitRate()) offered.numbers = KeyNumbers::BitRate;
        else if (!facts->IsLinear()) offered.numbers = KeyNumbers::None;
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "tag-%04x", static_cast<unsigned>(coding));
        offered.keyName = hex;
    }
    const WORD tag = reinterpret_cast<const WAVEFORMATEX*>(block.data())->wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE) offered.keyName += "-ext";
    return offered;
}

std::optional<OfferedFormat> MakeLinear(const TagFacts& facts, DWORD rate, unsigned bits, unsigned channels) {
    const Block block = facts.Rules().make(facts, rate, bits, channels, 0);
    FormatInfo info;
    if (ParseFormat(block.data(), block.size(), &info) != 0) return std::nullopt;
    return Offered(block, info, facts.name);
}

}  // namespace

KeyOffers OfferedFormats() {
    KeyOffers offers;
    for (const CatalogueTag* tag : ChooserTags()) {
        for (const CatalogueFormat& format : tag->formats) {
            FormatInfo info;
            if (ParseFormat(format.block.data(), format.block.size(), &info) != 0) continue;
            offers.formats.push_back(Offered(format.block, info, tag->name));
        }
    }
    for (const TagFacts& facts : AllTags()) {
        if (!facts.IsLinear() || facts.offers.rates.empty()) continue;
        const TagFacts* coding = facts.subTag != 0 ? FindTagFacts(facts.subTag) : &facts;
        if (coding == nullptr || coding->key == nullptr) continue;
        offers.linear.push_back({std::string(coding->key) + (facts.subTag != 0 ? "-ext" : ""),
                                 {facts.offers.bits.begin(), facts.offers.bits.end()},
                                 [&facts](DWORD rate, unsigned bits, unsigned channels) {
                                     return MakeLinear(facts, rate, bits, channels);
                                 }});
    }
    return offers;
}

}  // namespace acm
