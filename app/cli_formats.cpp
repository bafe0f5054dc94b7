#include "app/cli_formats.h"

#include "platform/acm/catalogue.h"
#include "platform/acm/format.h"

#include <cstdio>
#include <map>

namespace {

// Short names of the tags the chooser can offer; any other tag is named by its number.
const char* TagKeyName(WORD tag) {
    switch (tag) {
    case WAVE_FORMAT_PCM: return "pcm";
    case WAVE_FORMAT_IEEE_FLOAT: return "float";
    case WAVE_FORMAT_ALAW: return "alaw";
    case WAVE_FORMAT_MULAW: return "mulaw";
    case WAVE_FORMAT_IMA_ADPCM: return "ima-adpcm";
    case WAVE_FORMAT_ADPCM: return "ms-adpcm";
    case WAVE_FORMAT_GSM610: return "gsm";
    case WAVE_FORMAT_MPEGLAYER3: return "mp3";
    default: return nullptr;
    }
}

std::string Number(unsigned long value) { return std::to_string(value); }

}  // namespace

std::string BaseFormatKey(const WAVEFORMATEX& wfx) {
    acm::FormatInfo info;
    const bool parsed = acm::ParseFormat(&wfx, sizeof(WAVEFORMATEX) + wfx.cbSize, &info) == MMSYSERR_NOERROR;
    const WORD tag = parsed ? info.codingTag : wfx.wFormatTag;
    std::string name;
    if (const char* known = TagKeyName(tag)) {
        name = known;
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "tag-%04x", static_cast<unsigned>(tag));
        name = hex;
    }
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) name += "-ext";

    const std::string rate = Number(wfx.nSamplesPerSec);
    const std::string channels = Number(wfx.nChannels);
    switch (tag) {
    case WAVE_FORMAT_PCM:
    case WAVE_FORMAT_IEEE_FLOAT:
        return name + "/" + rate + "/" + Number(wfx.wBitsPerSample) + "/" + channels;
    case WAVE_FORMAT_MPEGLAYER3:
        // The bit rate in kbit/s, as encoders are asked for it.
        return name + "/" + rate + "/" + Number((wfx.nAvgBytesPerSec * 8UL + 500) / 1000) + "/" + channels;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
    case WAVE_FORMAT_IMA_ADPCM:
    case WAVE_FORMAT_ADPCM:
    case WAVE_FORMAT_GSM610:
        return name + "/" + rate + "/" + channels;
    default:
        return name + "/" + rate + "/" + Number(wfx.wBitsPerSample) + "/" + channels;
    }
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
