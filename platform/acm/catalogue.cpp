#include "platform/acm/catalogue.h"

#include "platform/acm/ffmpeg_ptr.h"
#include "platform/acm/tags.h"

#include <algorithm>
#include <cstring>

namespace acm {

namespace {

void Offer(std::vector<CatalogueFormat>& formats, Block block) {
    FormatInfo info;
    // Every block built here is well formed; a failure is a fault in the builders.
    if (ParseFormat(block.data(), block.size(), &info) != MMSYSERR_NOERROR) return;
    CatalogueFormat format;
    format.name = FormatName(info, Words::Japanese);  // the chooser speaks as the dialog does
    format.block = std::move(block);
    formats.push_back(std::move(format));
}

// Every combination the tag's row offers that its family builds a block for.
void AddFormats(CatalogueTag& tag, const TagFacts& facts) {
    constexpr unsigned kUnchosen[] = {0};
    const Offers& offers = facts.offers;
    const auto or_unchosen = [&](std::span<const unsigned> list) {
        return list.empty() ? std::span<const unsigned>(kUnchosen) : list;
    };
    for (DWORD rate : offers.rates)
        for (unsigned bits : or_unchosen(offers.bits))
            for (unsigned ch : offers.channels)
                for (unsigned kbps : or_unchosen(offers.kbps)) {
                    Block block = facts.Rules().make(facts, rate, bits, ch, kbps);
                    if (!block.empty()) Offer(tag.formats, std::move(block));
                }
}

std::vector<CatalogueTag> BuildCatalogue() {
    std::vector<CatalogueTag> tags;
    for (const TagFacts& facts : AllTags()) {
        // A further row of a tag (the extensible block's float sub-format) adds
        // its formats to the tag's one entry.
        const auto same =
            std::find_if(tags.begin(), tags.end(), [&](const CatalogueTag& t) { return t.tag == facts.tag; });
        if (same != tags.end()) {
            if (same->encode) AddFormats(*same, facts);
            continue;
        }
        CatalogueTag tag;
        tag.tag = facts.tag;
        tag.name = facts.name;
        tag.decode = CanDecode(facts);
        tag.encode = CanEncode(facts);
        if (tag.encode) AddFormats(tag, facts);
        tag.cbFormatSize = facts.cbFormatSize;
        for (const CatalogueFormat& f : tag.formats)
            tag.cbFormatSize = std::max<DWORD>(tag.cbFormatSize, static_cast<DWORD>(f.block.size()));
        if (facts.IsLinear())
            tag.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CONVERTER;
        else if (tag.decode || tag.encode)
            tag.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
        tags.push_back(std::move(tag));
    }
    return tags;
}

}  // namespace

void QuietCodecLog() {
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void)quiet;
}

const std::vector<CatalogueTag>& Catalogue() {
    QuietCodecLog();
    static const std::vector<CatalogueTag> catalogue = BuildCatalogue();
    return catalogue;
}

const CatalogueTag* FindTag(WORD tag) {
    for (const CatalogueTag& t : Catalogue())
        if (t.tag == tag) return &t;
    return nullptr;
}

std::vector<const CatalogueTag*> ChooserTags() {
    std::vector<const CatalogueTag*> out;
    for (const CatalogueTag& t : Catalogue())
        if (t.encode && !t.formats.empty()) out.push_back(&t);
    return out;
}

namespace {

// The formats of a linear row at the source's rate or channel count where the
// row's offers lack them.
void AddSourceFormats(std::vector<CatalogueFormat>& formats, const TagFacts& facts, const FormatInfo& source) {
    const Offers& offers = facts.offers;
    const auto holds = [](auto list, auto value) { return std::find(list.begin(), list.end(), value) != list.end(); };
    std::vector<DWORD> rates(offers.rates.begin(), offers.rates.end());
    std::vector<unsigned> channels(offers.channels.begin(), offers.channels.end());
    if (source.rate <= kHighestWrittenRate && !holds(offers.rates, source.rate)) rates.push_back(source.rate);
    if (source.channels <= kMostWrittenChannels && !holds(offers.channels, source.channels))
        channels.push_back(source.channels);
    for (DWORD rate : rates)
        for (unsigned bits : offers.bits)
            for (unsigned ch : channels) {
                if (holds(offers.rates, rate) && holds(offers.channels, ch)) continue;
                Block block = facts.Rules().make(facts, rate, bits, ch, 0);
                if (!block.empty()) Offer(formats, std::move(block));
            }
}

}  // namespace

std::vector<CatalogueFormat> ChooserFormats(const CatalogueTag& tag, const void* pSource, std::size_t cb) {
    std::vector<CatalogueFormat> formats = tag.formats;
    FormatInfo source;
    if (tag.formats.empty() || pSource == nullptr || ParseFormat(pSource, cb, &source) != MMSYSERR_NOERROR)
        return formats;
    for (const TagFacts& facts : AllTags())
        if (facts.tag == tag.tag && facts.IsLinear()) AddSourceFormats(formats, facts, source);
    return formats;
}

ChooserPosition DefaultChoice() {
    const Block wanted = MakePcmBlock(WAVE_FORMAT_PCM, 44100, 16, 2);
    ChooserPosition position;
    FindChoice(wanted.data(), wanted.size(), &position);
    return position;
}

bool FindChoice(const void* block, std::size_t cb, ChooserPosition* position) {
    const auto tags = ChooserTags();
    for (std::size_t t = 0; t < tags.size(); ++t)
        for (std::size_t f = 0; f < tags[t]->formats.size(); ++f) {
            const Block& b = tags[t]->formats[f].block;
            if (b.size() <= cb && std::memcmp(b.data(), block, b.size()) == 0) {
                *position = {static_cast<int>(t), static_cast<int>(f)};
                return true;
            }
        }
    return false;
}

DWORD MaxFormatSize() {
    DWORD largest = sizeof(WAVEFORMATEX);
    for (const CatalogueTag& t : Catalogue())
        for (const CatalogueFormat& f : t.formats) largest = std::max<DWORD>(largest, static_cast<DWORD>(f.block.size()));
    return largest;
}

}  // namespace acm
