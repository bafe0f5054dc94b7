// Arbitrary bytes as a source file: the RIFF reader, the source description
// and the metadata listing.
#include "fuzz_support.h"
#include "platform/mmio/mmio.h"
#include "wave/convert.h"
#include "wave/metadata.h"

namespace fuzzing {

int FuzzRiff(const std::uint8_t* data, std::size_t size) {
    const std::string path = WriteScratch("riff.wav", data, size);
    SilentReporter reporter;
    std::string description;
    DescribeSourceFormat(path.c_str(), reporter, description);
    SourceMetadata metadata;
    if (ReadMetadataOf(path.c_str(), metadata)) {
        for (const MetadataChunk& chunk : metadata.chunks) MetadataFields(chunk);
    }

    // Walk the chunks at the top level and inside the form, as far as they go.
    if (HMMIO h = mmioOpenA(path.c_str(), nullptr, MMIO_READ)) {
        MMCKINFO form{};
        if (mmioDescend(h, &form, nullptr, 0) == 0) {
            const std::int64_t first = mmioSeek(h, 0, SEEK_CUR);
            MMCKINFO chunk{};
            for (int i = 0; i < 64 && mmioDescend(h, &chunk, &form, 0) == 0; ++i) {
                char buf[64];
                mmioRead(h, buf, sizeof buf);
                if (mmioAscend(h, &chunk, 0) != 0) break;
            }
            // And the search the source reader makes, from the form's first
            // chunk, then reads that start and end inside a sample.
            mmioSeek(h, first, SEEK_SET);
            chunk.ckid = mmioFOURCC('d', 'a', 't', 'a');
            if (mmioDescend(h, &chunk, &form, MMIO_FINDCHUNK) == 0) {
                char buf[61];
                mmioSeek(h, chunk.dwDataOffset + 1, SEEK_SET);
                mmioRead(h, buf, sizeof buf);
                mmioRead(h, buf, 3);
            }
        }
        mmioClose(h, 0);
    }
    return 0;
}

}  // namespace fuzzing

#ifdef WAVTRN_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::FuzzRiff(data, size);
}
#endif
