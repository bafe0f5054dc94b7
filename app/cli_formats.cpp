#include "app/cli_formats.h"

#include "platform/acm/catalogue.h"
#include "platform/acm/format.h"
#include "platform/acm/tags.h"

#include <cstdio>
#include <map>

namespace {

std::string Number(unsigned long value) { return std::to_string(value); }

}  // namespace

std::string BaseFormatKey(const WAVEFORMATEX& wfx) {
    acm::FormatInfo info;
    const bool parsed = acm::ParseFormat(&wfx, sizeof(WAVEFORMATEX) + wfx.cbSize, &info) == MMSYSERR_NOERROR;
    const WORD tag = parsed ? info.codingTag : wfx.wFormatTag;
    // Tags the command line has a name for are keyed by it, any other by its number.
    const acm::TagFacts* facts = acm::FindTagFacts(tag);
    const bool named = facts != nullptr && facts->key != nullptr;
    std::string name;
    if (named) {
        name = facts->key;
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "tag-%04x", static_cast<unsigned>(tag));
        name = hex;
    }
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) name += "-ext";

    const std::string rate = Number(wfx.nSamplesPerSec);
    const std::string channels = Number(wfx.nChannels);
    // The bit rate in kbit/s for MPEG audio, as encoders are asked for it; nothing
    // between rate and channels for the named codecs, whose depth is fixed.
    if (named && facts->family == acm::BlockFamily::Mpeg)
        return name + "/" + rate + "/" + Number((wfx.nAvgBytesPerSec * 8UL + 500) / 1000) + "/" + channels;
    if (named && !facts->IsLinear()) return name + "/" + rate + "/" + channels;
    return name + "/" + rate + "/" + Number(wfx.wBitsPerSample) + "/" + channels;
}

std::vector<CliFormat> ListFormats() {
    std::vector<CliFormat> formats;
    std::map<std::string, int> uses;
    for (const acm::CatalogueTag* tag : acm::ChooserTags()) {
        for (const acm::CatalogueFormat& format : tag->formats) {
            CliFormat entry;
            entry.tagName = tag->name;
            entry.formatName = format.name;
            entry.block.assign(format.block.begin(), format.block.end());
            entry.key = BaseFormatKey(*entry.wfx());
            ++uses[entry.key];
            formats.push_back(std::move(entry));
        }
    }
    for (CliFormat& entry : formats) {
        if (uses[entry.key] > 1) entry.key += "/b" + Number(entry.wfx()->nBlockAlign);
    }
    return formats;
}

const CliFormat* FindFormat(const std::vector<CliFormat>& formats, const std::string& key) {
    for (const CliFormat& format : formats) {
        if (format.key == key) return &format;
    }
    return nullptr;
}
