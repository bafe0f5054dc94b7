#include "cli/formats.h"

#include "platform/acm/catalogue.h"
#include "platform/acm/format.h"
#include "platform/acm/tags.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <numeric>
#include <tuple>
#include <utility>

namespace {

// The tag that says how samples are coded: an extensible block's sub-format,
// otherwise its own tag.
WORD CodingTag(const std::vector<BYTE>& block) {
    acm::FormatInfo info;
    if (acm::ParseFormat(block.data(), block.size(), &info) == 0) return info.codingTag;
    return reinterpret_cast<const WAVEFORMATEX*>(block.data())->wFormatTag;
}

std::string Number(unsigned long value) { return std::to_string(value); }

// The key of one format block, before collisions are settled.
std::string BaseFormatKey(const std::vector<BYTE>& block) {
    const auto& wfx = *reinterpret_cast<const WAVEFORMATEX*>(block.data());
    // Tags the command line has a name for are keyed by it, any other by its number.
    const acm::TagFacts* facts = acm::FindTagFacts(CodingTag(block));
    const bool named = facts != nullptr && facts->key != nullptr;
    std::string name;
    if (named) {
        name = facts->key;
    } else {
        char hex[16];
        std::snprintf(hex, sizeof hex, "tag-%04x", static_cast<unsigned>(CodingTag(block)));
        name = hex;
    }
    if (wfx.wFormatTag == WAVE_FORMAT_EXTENSIBLE) name += "-ext";

    const std::string head = name + "/" + Number(wfx.nSamplesPerSec) + "/";
    const std::string channels = Number(wfx.nChannels);
    // The bit rate in kbit/s for a tag offered at several, as encoders are asked
    // for it; nothing between rate and channels for the other named codecs, whose
    // depth is fixed.
    if (named && facts->KeyHasBitRate())
        return head + Number((wfx.nAvgBytesPerSec * 8UL + 500) / 1000) + "/" + channels;
    if (named && !facts->IsLinear()) return head + channels;
    return head + Number(wfx.wBitsPerSample) + "/" + channels;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

// The words of the format names in English and as the names write them.
constexpr std::pair<std::string_view, std::string_view> kNameWords[] = {
    {"stereo", "ステレオ"}, {"mono", "モノラル"}, {"bits", "ビット"}, {"bit", "ビット"},
};

// The fields of a key: "mp3/44100/128/2" gives {"mp3", "44100", "128", "2"}.
std::vector<std::string> KeyFields(std::string_view key) {
    std::vector<std::string> fields(1);
    for (const char c : key) {
        if (c == '/') fields.emplace_back();
        else fields.back() += c;
    }
    return fields;
}

// Whether a full key has the partial key's name and holds its other fields in order.
bool FitsPartialKey(const std::vector<std::string>& full, const std::vector<std::string>& partial) {
    if (full.empty() || partial.empty() || full[0] != partial[0]) return false;
    std::size_t at = 1;
    for (std::size_t i = 1; i < partial.size(); ++i) {
        while (at < full.size() && full[at] != partial[i]) ++at;
        if (at++ >= full.size()) return false;
    }
    return true;
}

// How far a format is from the source: same rate, then same channels, then
// the distances of rate, channels, depth and data rate; smaller is nearer.
std::tuple<bool, bool, long, long, long, long> Distance(const WAVEFORMATEX& wfx, const WAVEFORMATEX& src) {
    const auto gap = [](unsigned long a, unsigned long b) { return static_cast<long>(a > b ? a - b : b - a); };
    return {wfx.nSamplesPerSec != src.nSamplesPerSec, wfx.nChannels != src.nChannels,
            gap(wfx.nSamplesPerSec, src.nSamplesPerSec), gap(wfx.nChannels, src.nChannels),
            gap(wfx.wBitsPerSample, src.wBitsPerSample), gap(wfx.nAvgBytesPerSec, src.nAvgBytesPerSec)};
}

}  // namespace

std::vector<CliFormat> ListFormats() {
    std::vector<CliFormat> formats;
    std::map<std::string, int> uses;
    for (const acm::CatalogueTag* tag : acm::ChooserTags()) {
        for (const acm::CatalogueFormat& format : tag->formats) {
            CliFormat entry;
            entry.tagName = tag->name;
            entry.formatName = format.name;
            entry.block.assign(format.block.begin(), format.block.end());
            entry.key = BaseFormatKey(entry.block);
            ++uses[entry.key];
            formats.push_back(std::move(entry));
        }
    }
    for (CliFormat& entry : formats) {
        if (uses[entry.key] > 1) entry.key += "/b" + Number(entry.wfx()->nBlockAlign);
    }
    return formats;
}

std::vector<CliFormat> FilterFormats(const std::vector<CliFormat>& formats, std::string_view word) {
    std::vector<std::string> needles{Lower(word)};
    for (const auto& [english, written] : kNameWords) {
        if (needles.front() == english) needles.emplace_back(written);
    }
    std::vector<CliFormat> matching;
    for (const CliFormat& format : formats) {
        const std::string fields = Lower(format.key) + '\n' + Lower(format.tagName) + '\n' + Lower(format.formatName);
        if (std::any_of(needles.begin(), needles.end(),
                        [&fields](const std::string& needle) { return fields.find(needle) != std::string::npos; }))
            matching.push_back(format);
    }
    return matching;
}

const CliFormat* NearestToSource(const std::vector<CliFormat>& formats, std::string_view key,
                                 const WAVEFORMATEX* pwfxSrc) {
    const std::vector<std::string> partial = KeyFields(Lower(key));
    const CliFormat* nearest = nullptr;
    for (const CliFormat& format : formats) {
        if (!FitsPartialKey(KeyFields(format.key), partial)) continue;
        if (nearest == nullptr) nearest = &format;
        else if (pwfxSrc != nullptr && Distance(*format.wfx(), *pwfxSrc) < Distance(*nearest->wfx(), *pwfxSrc))
            nearest = &format;
    }
    return nearest;
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
    const std::string lowerA = Lower(a), lowerB = Lower(b);
    // Levenshtein: insertions, deletions and substitutions of one byte each.
    std::vector<std::size_t> row(lowerB.size() + 1);
    std::iota(row.begin(), row.end(), std::size_t{0});
    for (std::size_t i = 1; i <= lowerA.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= lowerB.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (lowerA[i - 1] == lowerB[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[lowerB.size()];
}

const CliFormat* FindFormat(const std::vector<CliFormat>& formats, std::string_view key) {
    const std::string wanted = Lower(key);
    for (const CliFormat& format : formats) {
        if (format.key == wanted) return &format;
    }
    return nullptr;
}

std::vector<std::string> NearestKeys(const std::vector<CliFormat>& formats, std::string_view key,
                                     std::size_t count) {
    const std::string wanted = Lower(key);
    std::vector<std::pair<std::size_t, std::string>> ranked;
    for (const CliFormat& format : formats) ranked.emplace_back(EditDistance(wanted, format.key), format.key);
    // Stable: among keys as near as each other, the chooser's order decides.
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> nearest;
    for (std::size_t i = 0; i < ranked.size() && i < count; ++i) nearest.push_back(ranked[i].second);
    return nearest;
}
