#include "platform/acm/source_stage.h"

#include "platform/acm/av_util.h"
#include "platform/acm/sample_stage.h"
#include "platform/acm/sink_stage.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace acm {

namespace {

// Frames handed to the sample stage at once, which bounds the resampler's buffer.
constexpr std::size_t kChunkFrames = 16384;
// Whole blocks of small-block formats given to a decoder in one packet.
constexpr std::size_t kSmallPacketBytes = 4096;

// The depth a decoder's samples carry: what it states, or its sample format's.
unsigned DecodedDepth(const AVCodecContext& dec, AVSampleFormat format) {
    return dec.bits_per_raw_sample > 0 ? static_cast<unsigned>(dec.bits_per_raw_sample) : FormatDepth(format);
}

}  // namespace

MMRESULT SourceStage::Open(const FormatInfo& source, bool passthrough, SampleStage& samples, SinkStage& sink) {
    src_ = source;
    samples_ = &samples;
    sink_ = &sink;
    if (const TagFacts* facts = FindTagFacts(src_.codingTag)) family_ = facts->family;
    if (!src_.IsLinear()) return OpenDecoder();
    passthrough_ = passthrough;
    rawFormat_ = LinearFormat(src_);
    unpack24_ = src_.containerBytes == 3;
    LayoutFor(src_, rawLayout_);
    if (passthrough_) return MMSYSERR_NOERROR;
    return samples_->SetUp({rawFormat_, static_cast<int>(src_.rate), &*rawLayout_, LinearDepth(src_)});
}

MMRESULT SourceStage::OpenDecoder() {
    const TagFacts* facts = FindTagFacts(src_.codingTag);
    const auto id = facts != nullptr ? static_cast<AVCodecID>(facts->decoder) : AV_CODEC_ID_NONE;
    const AVCodec* codec = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
    if (codec == nullptr) return ACMERR_NOTPOSSIBLE;
    decoder_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!decoder_ || !packet_ || !frame_) return MMSYSERR_NOMEM;
    AVCodecContext* dec = decoder_.get();
    dec->sample_rate = static_cast<int>(src_.rate);
    ChannelLayout layout;
    LayoutFor(src_, layout);
    av_channel_layout_copy(&dec->ch_layout, &*layout);
    dec->block_align = static_cast<int>(src_.blockAlign);
    dec->bits_per_coded_sample = static_cast<int>(src_.bitsPerSample);
    dec->bit_rate = static_cast<std::int64_t>(src_.avgBytesPerSec) * 8;
    dec->codec_tag = src_.codingTag;
    if (!src_.extra.empty()) {
        dec->extradata = static_cast<std::uint8_t*>(av_mallocz(src_.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (dec->extradata == nullptr) return MMSYSERR_NOMEM;
        std::memcpy(dec->extradata, src_.extra.data(), src_.extra.size());
        dec->extradata_size = static_cast<int>(src_.extra.size());
    }
    if (int err = avcodec_open2(dec, codec, nullptr); err < 0) return FromAv(err, "avcodec_open2", codec);
    if (facts->parsed) {
        parser_.reset(av_parser_init(id));
        if (!parser_) return MMSYSERR_NOMEM;
    } else if (src_.blockAlign == 0) {
        return ACMERR_NOTPOSSIBLE;
    } else {
        // Large blocks go one to a packet; small ones are gathered.
        packetBytes_ = src_.blockAlign >= 16 ? src_.blockAlign : kSmallPacketBytes / src_.blockAlign * src_.blockAlign;
    }
    if (dec->sample_fmt == AV_SAMPLE_FMT_NONE) return MMSYSERR_NOERROR;
    return samples_->SetUp({dec->sample_fmt, dec->sample_rate, &dec->ch_layout, DecodedDepth(*dec, dec->sample_fmt)});
}

MMRESULT SourceStage::Feed(std::span<const std::uint8_t> source) {
    if (!decoder_) return FeedRaw(source);
    return parser_ ? FeedParser(source) : FeedBlocks(source);
}

// Tops up the partial block carried from the last pass with the start of source
// (which loses what was taken); true when a whole block is now carried.
bool SourceStage::TopUpCarry(std::span<const std::uint8_t>& source) {
    const std::size_t align = src_.blockAlign;
    const std::size_t take = std::min(align - carry_.size(), source.size());
    carry_.insert(carry_.end(), source.begin(), source.begin() + static_cast<std::ptrdiff_t>(take));
    source = source.subspan(take);
    return carry_.size() == align;
}

MMRESULT SourceStage::FeedRaw(std::span<const std::uint8_t> source) {
    const std::size_t align = src_.blockAlign;
    if (!carry_.empty()) {
        if (!TopUpCarry(source)) return MMSYSERR_NOERROR;
        if (MMRESULT r = TakeRaw(carry_.data(), 1); r != 0) return r;
        carry_.clear();
    }
    const std::size_t frames = source.size() / align;
    if (passthrough_) {
        sink_->PutRaw(source.data(), TakeUpTo(frames));
    } else {
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min(kChunkFrames, frames - done);
            if (MMRESULT r = TakeRaw(source.data() + done * align, n); r != 0) return r;
            done += n;
        }
    }
    carry_.assign(source.begin() + static_cast<std::ptrdiff_t>(frames * align), source.end());
    return MMSYSERR_NOERROR;
}

MMRESULT SourceStage::TakeRaw(const std::uint8_t* bytes, std::size_t frames) {
    frames = TakeUpTo(frames);
    if (frames == 0) return MMSYSERR_NOERROR;
    if (passthrough_) {
        sink_->PutRaw(bytes, frames);
        return MMSYSERR_NOERROR;
    }
    const std::uint8_t* plane = bytes;
    if (unpack24_) {
        // Three-byte samples widen to 32 bits, keeping full scale.
        const std::size_t count = frames * src_.channels;
        scratch_.resize(count * 4);
        auto* out = reinterpret_cast<std::int32_t*>(scratch_.data());
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* b = bytes + 3 * i;
            const std::uint32_t v = (static_cast<std::uint32_t>(b[0]) << 8) | (static_cast<std::uint32_t>(b[1]) << 16) |
                                    (static_cast<std::uint32_t>(b[2]) << 24);
            out[i] = static_cast<std::int32_t>(v);
        }
        plane = scratch_.data();
    } else if (reinterpret_cast<std::uintptr_t>(bytes) % alignof(double) != 0) {
        // Samples are read as 16- and 32-bit integers and floats: a source that
        // starts mid-frame (after a carried partial frame) gets an aligned copy.
        scratch_.assign(bytes, bytes + frames * src_.blockAlign);
        plane = scratch_.data();
    }
    const std::uint8_t* planes[1] = {plane};
    const SampleShape shape{rawFormat_, static_cast<int>(src_.rate), &*rawLayout_, LinearDepth(src_)};
    return samples_->Take(shape, planes, static_cast<int>(frames));
}

MMRESULT SourceStage::FeedParser(std::span<const std::uint8_t> source) {
    // Parsers read up to AV_INPUT_BUFFER_PADDING_SIZE bytes beyond their input.
    parseBuffer_.assign(source.begin(), source.end());
    parseBuffer_.resize(source.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    const std::uint8_t* data = parseBuffer_.data();
    std::size_t size = source.size();
    while (size > 0) {
        std::uint8_t* out = nullptr;
        int outSize = 0;
        const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
        const int used = av_parser_parse2(parser_.get(), decoder_.get(), &out, &outSize, data, chunk, AV_NOPTS_VALUE,
                                          AV_NOPTS_VALUE, 0);
        if (used < 0) return ACMERR_NOTPOSSIBLE;
        data += used;
        size -= static_cast<std::size_t>(used);
        if (outSize > 0) {
            if (MMRESULT r = DecodePacket(out, static_cast<std::size_t>(outSize)); r != 0) return r;
        }
        if (used == 0 && outSize == 0) break;
    }
    return MMSYSERR_NOERROR;
}

MMRESULT SourceStage::FeedBlocks(std::span<const std::uint8_t> source) {
    const std::size_t align = src_.blockAlign;
    if (!carry_.empty()) {
        if (!TopUpCarry(source)) return MMSYSERR_NOERROR;
        if (MMRESULT r = DecodePacket(carry_.data(), carry_.size()); r != 0) return r;
        carry_.clear();
    }
    const std::size_t whole = source.size() / align * align;
    for (std::size_t done = 0; done < whole;) {
        const std::size_t n = std::min(packetBytes_, whole - done);
        if (MMRESULT r = DecodePacket(source.data() + done, n); r != 0) return r;
        done += n;
    }
    carry_.assign(source.begin() + static_cast<std::ptrdiff_t>(whole), source.end());
    return MMSYSERR_NOERROR;
}

// Sends one packet (null: the end of the stream) and takes the frames it gives.
MMRESULT SourceStage::DecodePacket(const std::uint8_t* bytes, std::size_t size) {
    AVPacket* pkt = packet_.get();
    if (bytes != nullptr) {
        if (av_new_packet(pkt, static_cast<int>(size)) < 0) return MMSYSERR_NOMEM;
        std::memcpy(pkt->data, bytes, size);
    }
    for (;;) {
        const int err = avcodec_send_packet(decoder_.get(), bytes != nullptr ? pkt : nullptr);
        if (err == AVERROR(EAGAIN)) {
            if (MMRESULT r = ReceiveFrames(); r != 0) return r;
            continue;
        }
        av_packet_unref(pkt);
        if (err == AVERROR(ENOMEM)) return MMSYSERR_NOMEM;
        // A damaged packet is skipped, as players do, and counted; the rest of the
        // stream still plays.
        if (err < 0 && err != AVERROR_EOF) ++damaged_;
        break;
    }
    return ReceiveFrames();
}

MMRESULT SourceStage::ReceiveFrames() {
    AVFrame* frame = frame_.get();
    for (;;) {
        const int err = avcodec_receive_frame(decoder_.get(), frame);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return MMSYSERR_NOERROR;
        if (err == AVERROR(ENOMEM)) return MMSYSERR_NOMEM;
        if (err < 0) {
            ++damaged_;
            return MMSYSERR_NOERROR;
        }
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const SampleShape shape{format, frame->sample_rate, &frame->ch_layout, DecodedDepth(*decoder_, format)};
        const int frames = static_cast<int>(TakeUpTo(static_cast<std::size_t>(std::max(frame->nb_samples, 0))));
        const MMRESULT r = frames > 0 ? samples_->Take(shape, frame->extended_data, frames) : MMSYSERR_NOERROR;
        av_frame_unref(frame);
        if (r != 0) return r;
    }
}

MMRESULT SourceStage::Drain() {
    if (decoder_) {
        if (parser_) {
            std::uint8_t* out = nullptr;
            int outSize = 0;
            av_parser_parse2(parser_.get(), decoder_.get(), &out, &outSize, nullptr, 0, AV_NOPTS_VALUE,
                             AV_NOPTS_VALUE, 0);
            if (outSize > 0) {
                if (MMRESULT r = DecodePacket(out, static_cast<std::size_t>(outSize)); r != 0) return r;
            }
        } else if (!carry_.empty()) {
            // A cut-off last block still decodes as far as it goes.
            if (MMRESULT r = DecodePacket(carry_.data(), carry_.size()); r != 0) return r;
        }
        carry_.clear();
        if (MMRESULT r = DecodePacket(nullptr, 0); r != 0) return r;
    }
    // A partial sample frame at the end of raw data holds no whole sample.
    carry_.clear();
    return MMSYSERR_NOERROR;
}

MMRESULT SourceStage::Limit(std::uint64_t frames, std::uint64_t sourceBytes) {
    const unsigned perBlock = src_.blockAlign != 0 ? RulesOf(family_).framesPerBlock(src_) : 0;
    if (perBlock == 0 || src_.blockAlign == 0) return ACMERR_NOTPOSSIBLE;
    // Plausible: the count ends within the last block the bytes hold, (blocks -
    // 1) * perBlock < frames <= blocks * perBlock; within the last group where
    // blocks are written in groups, whose last block may be padding.
    const std::uint64_t blocks = sourceBytes / src_.blockAlign + (sourceBytes % src_.blockAlign != 0 ? 1 : 0);
    const std::uint64_t needed = frames / perBlock + (frames % perBlock != 0 ? 1 : 0);
    if (needed > blocks || needed + BlocksPerGroup(family_) <= blocks || (frames == 0 && blocks != 0))
        return ACMERR_NOTPOSSIBLE;
    framesLeft_ = frames;
    return MMSYSERR_NOERROR;
}

// How many of frames decoded frames are handed on before the cut; counts them off.
std::size_t SourceStage::TakeUpTo(std::size_t frames) {
    const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(frames, framesLeft_));
    if (framesLeft_ != UINT64_MAX) framesLeft_ -= take;
    return take;
}

double SourceStage::FramesFor(std::uint64_t bytes) const {
    if (src_.IsLinear()) return static_cast<double>(bytes / src_.blockAlign);
    return RulesOf(family_).framesFor(src_, bytes);
}

}  // namespace acm
