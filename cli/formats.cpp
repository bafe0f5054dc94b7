#include "cli/formats.h"

#include "platform/acm/offers.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <numeric>
#include <optional>
#include <tuple>
#include <utility>

namespace {

// What the codec service offers by key, read once.
const acm::KeyOffers& Offered() {
    static const acm::KeyOffers offers = acm::OfferedFormats();
    return offers;
}

std::string Number(unsigned long value) { return std::to_string(value); }

// The key of one format, before collisions are settled.
std::string BaseFormatKey(const acm::OfferedFormat& offered) {
    const auto& wfx = *reinterpret_cast<const WAVEFORMATEX*>(offered.block.data());
    const std::string head = offered.keyName + "/" + Number(wfx.nSamplesPerSec) + "/";
    const std::string channels = Number(wfx.nChannels);
    // The bit rate in kbit/s for a tag offered at several, as encoders are asked
    // for it; nothing between rate and channels for the other named codecs, whose
    // depth is fixed.
    switch (offered.numbers) {
        case acm::KeyNumbers::BitRate: return head + Number((wfx.nAvgBytesPerSec * 8UL + 500) / 1000) + "/" + channels;
        case acm::KeyNumbers::None: return head + channels;
        case acm::KeyNumbers::Bits: break;
    }
    return head + Number(wfx.wBitsPerSample) + "/" + channels;
}

CliFormat FromOffered(acm::OfferedFormat offered) {
    CliFormat entry;
    entry.key = BaseFormatKey(offered);
    entry.tagName = std::move(offered.tagName);
    entry.formatName = std::move(offered.formatName);
    entry.otherName = std::move(offered.otherName);
    entry.block = std::move(offered.block);
    return entry;
}

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return lower;
}

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

// PCM and float keys take any rate in this range, not only the listed ones.
constexpr unsigned long kLowestRate = 1, kHighestRate = acm::kHighestWrittenRate;
constexpr unsigned long kMostChannels = acm::kMostWrittenChannels;
constexpr std::string_view kSourceWord = "source";

// A field of digits only, as a number; false for anything else.
bool ReadNumber(const std::string& field, unsigned long* value) {
    if (field.empty() || field.size() > 9 || !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *value = std::stoul(field);
    return true;
}

// The linear tag a key's name stands for ("pcm", "float", "pcm-ext"), or null.
const acm::LinearOffer* LinearTagNamed(const std::string& name) {
    for (const acm::LinearOffer& linear : Offered().linear) {
        if (name == linear.keyName) return &linear;
    }
    return nullptr;
}

// Formats built for keys the list does not hold, kept for the life of the
// program so that pointers to them stay valid like pointers into the list.
const CliFormat* Keep(CliFormat format) {
    static std::mutex lock;
    static std::deque<CliFormat> kept;
    const std::lock_guard<std::mutex> hold(lock);
    kept.push_back(std::move(format));
    return &kept.back();
}

// A linear format at any rate from 1 Hz to 768 kHz, a depth its tag offers and
// 1 to 8 channels; null when the key's fields give none.
const CliFormat* BuildLinear(const std::string& name, unsigned long rate, unsigned long bits, unsigned long channels) {
    const acm::LinearOffer* linear = LinearTagNamed(name);
    if (linear == nullptr || rate < kLowestRate || rate > kHighestRate || channels < 1 || channels > kMostChannels ||
        std::find(linear->depths.begin(), linear->depths.end(), bits) == linear->depths.end())
        return nullptr;
    std::optional<acm::OfferedFormat> offered =
        linear->make(static_cast<DWORD>(rate), static_cast<unsigned>(bits), static_cast<unsigned>(channels));
    if (!offered) return nullptr;
    return Keep(FromOffered(std::move(*offered)));
}

// The offered depth nearest the source's, the deeper on a tie.
unsigned long NearestDepth(const acm::LinearOffer& linear, unsigned long bits) {
    unsigned long best = linear.depths.front();
    for (unsigned offered : linear.depths) {
        const auto gap = [bits](unsigned long d) { return d > bits ? d - bits : bits - d; };
        if (gap(offered) <= gap(best)) best = offered;
    }
    return best;
}

// A linear key whose rate, bits or channels may be the word "source": the
// source's own, or 44,100 Hz, 16 bits and 2 channels when no source is read.
const CliFormat* BuildWithSource(const std::vector<std::string>& fields, const WAVEFORMATEX* pwfxSrc) {
    if (fields.size() != 4) return nullptr;
    const acm::LinearOffer* linear = LinearTagNamed(fields[0]);
    if (linear == nullptr) return nullptr;
    // A source beyond the ranges gets the nearest they hold: a key that fitted
    // without a source fits every source.
    const unsigned long fromSource[] = {
        std::clamp<unsigned long>(pwfxSrc != nullptr ? pwfxSrc->nSamplesPerSec : 44100, kLowestRate, kHighestRate),
        NearestDepth(*linear, pwfxSrc != nullptr ? pwfxSrc->wBitsPerSample : 16),
        std::clamp<unsigned long>(pwfxSrc != nullptr ? pwfxSrc->nChannels : 2, 1, kMostChannels)};
    unsigned long values[3];
    for (std::size_t i = 0; i < 3; ++i) {
        if (fields[i + 1] == kSourceWord) values[i] = fromSource[i];
        else if (!ReadNumber(fields[i + 1], &values[i])) return nullptr;
    }
    return BuildLinear(fields[0], values[0], values[1], values[2]);
}

bool NamesSource(const std::vector<std::string>& fields) {
    return std::find(fields.begin() + 1, fields.end(), kSourceWord) != fields.end();
}

// How far a key's numbers are from a wanted key's: the sum of the ratios of
// rate, bits or bit rate, and channels, so that a key off in one field comes
// before a key off in two. False when the names differ or a field is no number.
bool NumberGap(const std::vector<std::string>& wanted, const std::vector<std::string>& key, double* gap) {
    if (wanted.size() != key.size() || wanted[0] != key[0]) return false;
    *gap = 0;
    for (std::size_t i = 1; i < key.size(); ++i) {
        unsigned long a = 0, b = 0;
        if (!ReadNumber(wanted[i], &a) || !ReadNumber(key[i], &b)) return false;
        *gap += std::abs(std::log2((a + 1.0) / (b + 1.0)));
    }
    return true;
}

}  // namespace

std::vector<CliFormat> ListFormats() {
    std::vector<CliFormat> formats;
    std::map<std::string, int> uses;
    for (const acm::OfferedFormat& offered : Offered().formats) {
        formats.push_back(FromOffered(offered));
        ++uses[formats.back().key];
    }
    for (CliFormat& entry : formats) {
        if (uses[entry.key] > 1) entry.key += "/b" + Number(entry.wfx()->nBlockAlign);
    }
    return formats;
}

std::vector<CliFormat> FilterFormats(const std::vector<CliFormat>& formats, std::string_view word) {
    const std::string needle = Lower(word);
    std::vector<CliFormat> matching;
    for (const CliFormat& format : formats) {
        const std::string fields = Lower(format.key) + '\n' + Lower(format.tagName) + '\n' +
                                   Lower(format.formatName) + '\n' + Lower(format.otherName);
        if (fields.find(needle) != std::string::npos) matching.push_back(format);
    }
    return matching;
}

const CliFormat* NearestToSource(const std::vector<CliFormat>& formats, std::string_view key,
                                 const WAVEFORMATEX* pwfxSrc) {
    const std::vector<std::string> partial = KeyFields(Lower(key));
    if (NamesSource(partial)) return BuildWithSource(partial, pwfxSrc);
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
    // PCM and float at a rate, depth or channel count the list does not hold.
    const std::vector<std::string> fields = KeyFields(wanted);
    unsigned long rate = 0, bits = 0, channels = 0;
    if (fields.size() == 4 && ReadNumber(fields[1], &rate) && ReadNumber(fields[2], &bits) &&
        ReadNumber(fields[3], &channels))
        return BuildLinear(fields[0], rate, bits, channels);
    return nullptr;
}

std::vector<std::string> NearestKeys(const std::vector<CliFormat>& formats, std::string_view key,
                                     std::size_t count) {
    const std::string wanted = Lower(key);
    const std::vector<std::string> wantedFields = KeyFields(wanted);
    // Keys of the same codec come first, ranked by how far their numbers are
    // (rate, depth or bit rate, and channels, as ratios); the others after
    // them by edit distance.
    std::vector<std::pair<std::pair<bool, double>, std::string>> ranked;
    for (const CliFormat& format : formats) {
        double gap = 0;
        const bool sameCodec = NumberGap(wantedFields, KeyFields(format.key), &gap);
        if (!sameCodec) gap = static_cast<double>(EditDistance(wanted, format.key));
        ranked.push_back({{!sameCodec, gap}, format.key});
    }
    // Stable: among keys as near as each other, the chooser's order decides.
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> nearest;
    for (std::size_t i = 0; i < ranked.size() && i < count; ++i) nearest.push_back(ranked[i].second);
    return nearest;
}
