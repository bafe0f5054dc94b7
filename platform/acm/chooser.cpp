// The format chooser: the catalogue's chooser tags as the window service's
// model, and the chosen format's block and names written into the caller's record.
#include "platform/acm/chooser.h"

#include "platform/acm/calls.h"
#include "platform/acm/catalogue.h"
#include "platform/acm/format.h"
#include "platform/window/window.h"

#include <cstring>

using acm::CopyName;
using acm::Guarded;
using acm::WholeBlock;

namespace {

// Whether a block holds float samples (plain or extensible).
bool FloatSamples(const acm::Block& block) {
    acm::FormatInfo info;
    return acm::ParseFormat(block.data(), block.size(), &info) == MMSYSERR_NOERROR && info.coding == acm::Coding::Float;
}

}  // namespace

MMRESULT acmFormatChooseA(ACMFORMATCHOOSEA* pafmtc) {
    return Guarded([&]() -> MMRESULT {
        if (pafmtc == nullptr || pafmtc->cbStruct < sizeof(ACMFORMATCHOOSEA) || pafmtc->pwfx == nullptr)
            return MMSYSERR_INVALPARAM;
        const auto tags = acm::ChooserTags();
        // A source to convert from adds its own rate and channel count to the lists.
        const WAVEFORMATEX* pwfxSource = (pafmtc->fdwEnum & ACM_FORMATENUMF_CONVERT) != 0 ? pafmtc->pwfxEnum : nullptr;
        const std::size_t cbSource = pwfxSource != nullptr ? WholeBlock(pwfxSource).size() : 0;
        std::vector<std::vector<acm::CatalogueFormat>> listed;
        FormatChooserModel model;
        for (const acm::CatalogueTag* tag : tags) {
            listed.push_back(acm::ChooserFormats(*tag, pwfxSource, cbSource));
            FormatChooserModel::Tag t;
            t.name = tag->name;
            for (const acm::CatalogueFormat& f : listed.back()) {
                const WAVEFORMATEX& wfx = f.Header();
                t.formats.push_back({f.name, wfx.nAvgBytesPerSec, wfx.nSamplesPerSec, wfx.nChannels, wfx.wBitsPerSample,
                                     FloatSamples(f.block)});
            }
            model.tags.push_back(std::move(t));
        }
        acm::ChooserPosition start = acm::DefaultChoice();
        // Opening on the block the caller already holds lets the user see the last choice.
        if ((pafmtc->fdwStyle & ACMFORMATCHOOSE_STYLEF_INITTOWFXSTRUCT) != 0) acm::FindChoice(pafmtc->pwfx, pafmtc->cbwfx, &start);
        model.defaultTag = start.tag;
        model.defaultFormat = start.format;

        const std::optional<FormatChoice> choice = GetWindowBackend().ChooseFormat(pafmtc->hwndOwner, model);
        if (!choice) return ACMERR_CANCELED;
        if (choice->tag < 0 || static_cast<std::size_t>(choice->tag) >= tags.size()) return ACMERR_NOTPOSSIBLE;
        const acm::CatalogueTag& tag = *tags[static_cast<std::size_t>(choice->tag)];
        const auto& formats = listed[static_cast<std::size_t>(choice->tag)];
        if (choice->format < 0 || static_cast<std::size_t>(choice->format) >= formats.size()) return ACMERR_NOTPOSSIBLE;
        const acm::CatalogueFormat& format = formats[static_cast<std::size_t>(choice->format)];
        if (pafmtc->cbwfx < format.block.size()) return ACMERR_NOTPOSSIBLE;
        std::memcpy(pafmtc->pwfx, format.block.data(), format.block.size());
        CopyName(pafmtc->szFormatTag, tag.name);
        CopyName(pafmtc->szFormat, format.name);
        return MMSYSERR_NOERROR;
    });
}
