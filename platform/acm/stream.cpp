#include "platform/acm/stream.h"

#include "platform/acm/catalogue.h"
#include "platform/acm/tags.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>

namespace acm {

namespace {

// Frames handed to the resampler at once, which bounds its output buffer.
constexpr std::size_t kChunkFrames = 16384;
// Whole blocks of small-block formats given to a decoder in one packet.
constexpr std::size_t kSmallPacketBytes = 4096;

MMRESULT FromAv(int err) { return err == AVERROR(ENOMEM) ? MMSYSERR_NOMEM : ACMERR_NOTPOSSIBLE; }

unsigned FormatDepth(AVSampleFormat format) {
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_U8: return 8;
    case AV_SAMPLE_FMT_S16: return 16;
    case AV_SAMPLE_FMT_S32:
    case AV_SAMPLE_FMT_FLT: return 32;
    case AV_SAMPLE_FMT_S64:
    case AV_SAMPLE_FMT_DBL: return 64;
    default: return 0;
    }
}

bool IsIntegerFormat(AVSampleFormat format) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(format);
    return packed == AV_SAMPLE_FMT_U8 || packed == AV_SAMPLE_FMT_S16 || packed == AV_SAMPLE_FMT_S32 ||
           packed == AV_SAMPLE_FMT_S64;
}

// The packed sample format that holds a linear format's samples as they stand in
// the data chunk (24-bit samples widen to 32).
AVSampleFormat LinearFormat(const FormatInfo& f) {
    if (f.coding == Coding::Float) return f.containerBytes == 4 ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_DBL;
    switch (f.containerBytes) {
    case 1: return AV_SAMPLE_FMT_U8;
    case 2: return AV_SAMPLE_FMT_S16;
    default: return AV_SAMPLE_FMT_S32;
    }
}

unsigned LinearDepth(const FormatInfo& f) { return f.coding == Coding::Float ? f.containerBytes * 8 : f.validBits; }

void LayoutFor(const FormatInfo& f, AVChannelLayout* layout) {
    if (f.channelMask != 0 && av_channel_layout_from_mask(layout, f.channelMask) == 0) return;
    av_channel_layout_default(layout, static_cast<int>(f.channels));
}

// A layout that names its speakers, so channels can be remixed by position.
void NormalisedLayout(const AVChannelLayout& from, int channels, AVChannelLayout* layout) {
    if (from.order == AV_CHANNEL_ORDER_NATIVE && from.nb_channels == channels) {
        av_channel_layout_copy(layout, &from);
        return;
    }
    av_channel_layout_default(layout, channels);
}

bool IsPowerOfTwo(unsigned v) { return v != 0 && (v & (v - 1)) == 0; }

}  // namespace

Stream::~Stream() {
    av_channel_layout_uninit(&dstLayout_);
    av_channel_layout_uninit(&inLayout_);
}

MMRESULT Stream::Open(std::span<const std::uint8_t> source, std::span<const std::uint8_t> destination,
                      std::unique_ptr<Stream>* stream) {
    QuietCodecLog();
    std::unique_ptr<Stream> s(new (std::nothrow) Stream());
    if (!s) return MMSYSERR_NOMEM;
    s->srcBlock_.assign(source.begin(), source.end());
    s->dstBlock_.assign(destination.begin(), destination.end());
    if (MMRESULT r = ParseFormat(s->srcBlock_.data(), s->srcBlock_.size(), &s->src_); r != 0) return ACMERR_NOTPOSSIBLE;
    if (MMRESULT r = ParseFormat(s->dstBlock_.data(), s->dstBlock_.size(), &s->dst_); r != 0) return ACMERR_NOTPOSSIBLE;
    // Rates further apart than this are refused: one source block of such a file
    // would turn into gigabytes of output held for later passes.
    constexpr double kMaxRateRatio = 64.0;
    const double ratio = static_cast<double>(s->src_.rate) / s->dst_.rate;
    if (ratio > kMaxRateRatio || ratio < 1.0 / kMaxRateRatio) return ACMERR_NOTPOSSIBLE;
    LayoutFor(s->dst_, &s->dstLayout_);
    if (MMRESULT r = s->OpenDestination(); r != 0) return r;
    if (MMRESULT r = s->OpenSource(); r != 0) return r;
    *stream = std::move(s);
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::OpenDestination() {
    const FormatInfo& d = dst_;
    if (d.IsLinear()) {
        targetFormat_ = LinearFormat(d);
        targetDepth_ = LinearDepth(d);
        pack24_ = d.containerBytes == 3;
        return MMSYSERR_NOERROR;
    }
    const TagFacts* facts = d.tag == d.codingTag ? FindTagFacts(d.codingTag) : nullptr;
    const char* encoderName = facts != nullptr ? facts->encoder : nullptr;
    const AVCodec* codec = encoderName != nullptr ? avcodec_find_encoder_by_name(encoderName) : nullptr;
    if (codec == nullptr) return ACMERR_NOTPOSSIBLE;

    // The block must be one the encoder writes exactly as described.
    switch (d.codingTag) {
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
        if (d.bitsPerSample != 8 || d.blockAlign != d.channels) return ACMERR_NOTPOSSIBLE;
        break;
    case WAVE_FORMAT_IMA_ADPCM:
        if (d.bitsPerSample != 4 || !IsPowerOfTwo(d.blockAlign) || d.blockAlign < 32 || d.blockAlign > 8192 ||
            d.blockAlign <= 4 * d.channels || SamplesPerBlockField(d) != ImaSamplesPerBlock(d.blockAlign, d.channels))
            return ACMERR_NOTPOSSIBLE;
        break;
    case WAVE_FORMAT_ADPCM: {
        if (d.bitsPerSample != 4 || !IsPowerOfTwo(d.blockAlign) || d.blockAlign < 32 || d.blockAlign > 8192 ||
            d.blockAlign <= 7 * d.channels || d.extra.size() < 32 ||
            SamplesPerBlockField(d) != MsSamplesPerBlock(d.blockAlign, d.channels))
            return ACMERR_NOTPOSSIBLE;
        const Block expected = MakeMsAdpcmBlock(d.rate, d.channels, d.blockAlign);
        if (!std::equal(d.extra.begin() + 2, d.extra.begin() + 32, expected.begin() + 20)) return ACMERR_NOTPOSSIBLE;
        break;
    }
    case WAVE_FORMAT_GSM610:
        if (d.channels != 1 || d.rate != 8000 || d.blockAlign != 65) return ACMERR_NOTPOSSIBLE;
        break;
    case WAVE_FORMAT_MPEGLAYER3:
        if (d.channels > 2 || d.avgBytesPerSec == 0) return ACMERR_NOTPOSSIBLE;
        break;
    default:
        return ACMERR_NOTPOSSIBLE;
    }

    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) return MMSYSERR_NOMEM;
    AVCodecContext* enc = encoder_.get();
    enc->sample_rate = static_cast<int>(d.rate);
    enc->time_base = AVRational{1, enc->sample_rate};
    if (av_channel_layout_copy(&enc->ch_layout, &dstLayout_) < 0) return MMSYSERR_NOMEM;
    enc->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    // Float input spares the MP3 encoder a requantisation.
    for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP) enc->sample_fmt = *f;
    if (d.codingTag == WAVE_FORMAT_MPEGLAYER3) enc->bit_rate = static_cast<std::int64_t>(d.avgBytesPerSec) * 8;
    if (d.codingTag == WAVE_FORMAT_IMA_ADPCM || d.codingTag == WAVE_FORMAT_ADPCM) {
        if (av_opt_set_int(enc->priv_data, "block_size", d.blockAlign, 0) < 0) return ACMERR_NOTPOSSIBLE;
    }
    if (int err = avcodec_open2(enc, codec, nullptr); err < 0) return FromAv(err);
    if (d.codingTag != WAVE_FORMAT_MPEGLAYER3 && enc->block_align != 0 &&
        static_cast<unsigned>(enc->block_align) != d.blockAlign)
        return ACMERR_NOTPOSSIBLE;

    fifo_.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, std::max(enc->frame_size, 1024)));
    if (!fifo_) return MMSYSERR_NOMEM;
    targetFormat_ = enc->sample_fmt;
    targetDepth_ = FormatDepth(enc->sample_fmt);
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::OpenSource() {
    const FormatInfo& s = src_;
    if (s.IsLinear()) {
        rawFormat_ = LinearFormat(s);
        unpack24_ = s.containerBytes == 3;
        AVChannelLayout layout{};
        LayoutFor(s, &layout);
        passthrough_ = !encoder_ && s.coding == dst_.coding && s.containerBytes == dst_.containerBytes &&
                       s.rate == dst_.rate && av_channel_layout_compare(&layout, &dstLayout_) == 0;
        MMRESULT r = passthrough_ ? MMSYSERR_NOERROR
                                  : SetUpConversion(rawFormat_, static_cast<int>(s.rate), layout, LinearDepth(s));
        av_channel_layout_uninit(&layout);
        return r;
    }

    const TagFacts* facts = FindTagFacts(s.codingTag);
    const auto id = facts != nullptr ? static_cast<AVCodecID>(facts->decoder) : AV_CODEC_ID_NONE;
    const AVCodec* codec = id != AV_CODEC_ID_NONE ? avcodec_find_decoder(id) : nullptr;
    if (codec == nullptr) return ACMERR_NOTPOSSIBLE;
    decoder_.reset(avcodec_alloc_context3(codec));
    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!decoder_ || !packet_ || !frame_) return MMSYSERR_NOMEM;
    AVCodecContext* dec = decoder_.get();
    dec->sample_rate = static_cast<int>(s.rate);
    AVChannelLayout layout{};
    LayoutFor(s, &layout);
    av_channel_layout_copy(&dec->ch_layout, &layout);
    av_channel_layout_uninit(&layout);
    dec->block_align = static_cast<int>(s.blockAlign);
    dec->bits_per_coded_sample = static_cast<int>(s.bitsPerSample);
    dec->bit_rate = static_cast<std::int64_t>(s.avgBytesPerSec) * 8;
    dec->codec_tag = s.codingTag;
    if (!s.extra.empty()) {
        dec->extradata = static_cast<std::uint8_t*>(av_mallocz(s.extra.size() + AV_INPUT_BUFFER_PADDING_SIZE));
        if (dec->extradata == nullptr) return MMSYSERR_NOMEM;
        std::memcpy(dec->extradata, s.extra.data(), s.extra.size());
        dec->extradata_size = static_cast<int>(s.extra.size());
    }
    if (int err = avcodec_open2(dec, codec, nullptr); err < 0) return FromAv(err);
    if (facts->parsed) {
        parser_.reset(av_parser_init(id));
        if (!parser_) return MMSYSERR_NOMEM;
    } else if (s.blockAlign == 0) {
        return ACMERR_NOTPOSSIBLE;
    } else {
        // Large blocks go one to a packet; small ones are gathered.
        packetBytes_ = s.blockAlign >= 16 ? s.blockAlign : kSmallPacketBytes / s.blockAlign * s.blockAlign;
    }
    // Prepare the conversion from what the decoder announces, so an impossible
    // channel mapping is refused now; decoded frames re-check it.
    if (dec->sample_fmt != AV_SAMPLE_FMT_NONE) {
        const unsigned depth = dec->bits_per_raw_sample > 0 ? static_cast<unsigned>(dec->bits_per_raw_sample)
                                                            : FormatDepth(dec->sample_fmt);
        return SetUpConversion(dec->sample_fmt, dec->sample_rate, dec->ch_layout, depth);
    }
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::SetUpConversion(AVSampleFormat format, int rate, const AVChannelLayout& layout, unsigned depth) {
    swr_.reset();
    swrExact_.reset();
    inDepth_ = depth;
    converterReady_ = false;
    av_channel_layout_uninit(&inLayout_);
    NormalisedLayout(layout, layout.nb_channels > 0 ? layout.nb_channels : static_cast<int>(src_.channels),
                     &inLayout_);
    inFormat_ = format;
    inRate_ = rate;
    if (rate <= 0) return ACMERR_NOTPOSSIBLE;

    const bool sameLayout = av_channel_layout_compare(&inLayout_, &dstLayout_) == 0;
    direct_ = format == targetFormat_ && rate == static_cast<int>(dst_.rate) && sameLayout;
    if (direct_) {
        converterReady_ = true;
        return MMSYSERR_NOERROR;
    }

    const bool dither = IsIntegerFormat(targetFormat_) && depth > targetDepth_;
    const int inChannels = inLayout_.nb_channels, outChannels = dstLayout_.nb_channels;
    auto make = [&](bool withDither, SwrPtr* out) -> MMRESULT {
        SwrContext* raw = nullptr;
        if (int err = swr_alloc_set_opts2(&raw, &dstLayout_, targetFormat_, static_cast<int>(dst_.rate), &inLayout_,
                                          format, rate, 0, nullptr);
            err < 0)
            return FromAv(err);
        out->reset(raw);
        if (rate != static_cast<int>(dst_.rate)) {
            av_opt_set(raw, "resampler", "soxr", 0);
            // 20 bits (soxr's high quality) keep the resampler's error below a
            // 16-bit or narrower target's own noise floor at a third less work;
            // wider targets get 28 bits.
            av_opt_set_double(raw, "precision", targetDepth_ > 16 ? 28 : 20, 0);
        }
        if (withDither) {
            av_opt_set_int(raw, "dither_method", SWR_DITHER_TRIANGULAR, 0);
            if (pack24_) av_opt_set_int(raw, "output_sample_bits", 24, 0);
        }
        const bool wide = depth > 24 || targetDepth_ > 24;
        av_opt_set_sample_fmt(raw, "internal_sample_fmt", wide ? AV_SAMPLE_FMT_DBLP : AV_SAMPLE_FMT_FLTP, 0);
        // Mixing never raises the level past full scale: stereo to mono averages.
        av_opt_set_double(raw, "rematrix_maxval", 1.0, 0);
        if (inChannels == 2 && outChannels == 1) {
            const double matrix[2] = {0.5, 0.5};
            swr_set_matrix(raw, matrix, 2);
        } else if (inChannels == 1 && outChannels == 2) {
            const double matrix[2] = {1.0, 1.0};
            swr_set_matrix(raw, matrix, 1);
        }
        if (int err = swr_init(raw); err < 0) return FromAv(err);
        return MMSYSERR_NOERROR;
    };
    // Dither only where bits are dropped. Where nothing but the depth changes, a
    // stretch of samples that already fits the smaller depth is converted without
    // dither, so a widened signal narrows back exactly.
    if (MMRESULT r = make(dither, &swr_); r != 0) return r;
    if (dither && rate == static_cast<int>(dst_.rate) && sameLayout) {
        if (MMRESULT r = make(false, &swrExact_); r != 0) return r;
    }
    converterReady_ = true;
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::Convert(std::span<const std::uint8_t> source, std::span<std::uint8_t> destination, bool end,
                         std::size_t* destinationUsed) {
    out_ = destination.data();
    outCap_ = destination.size();
    outUsed_ = 0;
    *destinationUsed = 0;
    if (drained_ && !source.empty()) return ACMERR_NOTPOSSIBLE;

    // What the last pass could not hand over goes first.
    if (pendingPos_ < pending_.size()) {
        const std::size_t n = std::min(outCap_, pending_.size() - pendingPos_);
        if (n > 0) std::memcpy(out_, pending_.data() + pendingPos_, n);
        outUsed_ = n;
        pendingPos_ += n;
    }
    if (pendingPos_ == pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    } else if (pendingPos_ > pending_.size() / 2) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_));
        pendingPos_ = 0;
    }

    MMRESULT r = MMSYSERR_NOERROR;
    if (!source.empty()) r = decoder_ ? FeedDecoder(source) : FeedRaw(source);
    if (r == MMSYSERR_NOERROR && end && !drained_) {
        r = Drain();
        drained_ = true;
    }
    *destinationUsed = outUsed_;
    out_ = nullptr;
    return r;
}

void Stream::Emit(const std::uint8_t* bytes, std::size_t size) {
    if (pendingPos_ == pending_.size() && outUsed_ < outCap_) {
        const std::size_t n = std::min(size, outCap_ - outUsed_);
        std::memcpy(out_ + outUsed_, bytes, n);
        outUsed_ += n;
        bytes += n;
        size -= n;
    }
    if (size > 0) pending_.insert(pending_.end(), bytes, bytes + size);
}

// Tops up the partial block carried from the last pass with the start of source
// (which loses what was taken); true when a whole block is now carried.
bool Stream::TopUpCarry(std::span<const std::uint8_t>& source) {
    const std::size_t align = src_.blockAlign;
    const std::size_t take = std::min(align - carry_.size(), source.size());
    carry_.insert(carry_.end(), source.begin(), source.begin() + static_cast<std::ptrdiff_t>(take));
    source = source.subspan(take);
    return carry_.size() == align;
}

MMRESULT Stream::FeedRaw(std::span<const std::uint8_t> source) {
    const std::size_t align = src_.blockAlign;
    if (!carry_.empty()) {
        if (!TopUpCarry(source)) return MMSYSERR_NOERROR;
        if (MMRESULT r = ProcessRaw(carry_.data(), 1); r != 0) return r;
        carry_.clear();
    }
    const std::size_t frames = source.size() / align;
    if (passthrough_) {
        Emit(source.data(), frames * align);
    } else {
        for (std::size_t done = 0; done < frames;) {
            const std::size_t n = std::min(kChunkFrames, frames - done);
            if (MMRESULT r = ProcessRaw(source.data() + done * align, n); r != 0) return r;
            done += n;
        }
    }
    carry_.assign(source.begin() + static_cast<std::ptrdiff_t>(frames * align), source.end());
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::ProcessRaw(const std::uint8_t* bytes, std::size_t frames) {
    if (passthrough_) {
        Emit(bytes, frames * src_.blockAlign);
        return MMSYSERR_NOERROR;
    }
    const std::uint8_t* plane = bytes;
    if (unpack24_) {
        // Three-byte samples widen to 32 bits, keeping full scale.
        const std::size_t samples = frames * src_.channels;
        scratch_.resize(samples * 4);
        auto* out = reinterpret_cast<std::int32_t*>(scratch_.data());
        for (std::size_t i = 0; i < samples; ++i) {
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
    return Process(planes, static_cast<int>(frames));
}

MMRESULT Stream::FeedDecoder(std::span<const std::uint8_t> source) {
    if (parser_) {
        // Parsers read up to AV_INPUT_BUFFER_PADDING_SIZE bytes beyond their input.
        parseBuffer_.assign(source.begin(), source.end());
        parseBuffer_.resize(source.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
        const std::uint8_t* data = parseBuffer_.data();
        std::size_t size = source.size();
        while (size > 0) {
            std::uint8_t* out = nullptr;
            int outSize = 0;
            const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
            const int used = av_parser_parse2(parser_.get(), decoder_.get(), &out, &outSize, data, chunk,
                                              AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
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
    const std::size_t align = src_.blockAlign;
    if (!carry_.empty()) {
        if (!TopUpCarry(source)) return MMSYSERR_NOERROR;
        if (MMRESULT r = DecodePacket(carry_.data(), carry_.size()); r != 0) return r;
        carry_.clear();
    }
    std::size_t whole = source.size() / align * align;
    std::size_t done = 0;
    while (done < whole) {
        const std::size_t n = std::min(packetBytes_, whole - done);
        if (MMRESULT r = DecodePacket(source.data() + done, n); r != 0) return r;
        done += n;
    }
    carry_.assign(source.begin() + static_cast<std::ptrdiff_t>(whole), source.end());
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::DecodePacket(const std::uint8_t* bytes, std::size_t size) {
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
        // A damaged packet is skipped, as players do; the rest of the stream still plays.
        break;
    }
    return ReceiveFrames();
}

MMRESULT Stream::ReceiveFrames() {
    AVFrame* frame = frame_.get();
    for (;;) {
        const int err = avcodec_receive_frame(decoder_.get(), frame);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return MMSYSERR_NOERROR;
        if (err == AVERROR(ENOMEM)) return MMSYSERR_NOMEM;
        if (err < 0) return MMSYSERR_NOERROR;
        const auto format = static_cast<AVSampleFormat>(frame->format);
        const int channels = frame->ch_layout.nb_channels;
        AVChannelLayout layout{};
        NormalisedLayout(frame->ch_layout, channels, &layout);
        const bool changed = !converterReady_ || format != inFormat_ || frame->sample_rate != inRate_ ||
                             av_channel_layout_compare(&layout, &inLayout_) != 0;
        MMRESULT r = MMSYSERR_NOERROR;
        if (changed) {
            r = FlushResampler();
            const unsigned depth = decoder_->bits_per_raw_sample > 0
                                       ? static_cast<unsigned>(decoder_->bits_per_raw_sample)
                                       : FormatDepth(format);
            if (r == 0) r = SetUpConversion(format, frame->sample_rate, layout, depth);
        }
        av_channel_layout_uninit(&layout);
        if (r == 0 && channels > 0) r = Process(frame->extended_data, frame->nb_samples);
        av_frame_unref(frame);
        if (r != 0) return r;
    }
}

MMRESULT Stream::Process(const std::uint8_t* const* planes, int samples) {
    if (samples <= 0) return MMSYSERR_NOERROR;
    planes = ClipFloats(planes, samples);
    if (direct_) return Deliver(planes, samples);
    if (!swr_) return ACMERR_NOTPOSSIBLE;
    const int capacity = swr_get_out_samples(swr_.get(), samples);
    if (capacity < 0) return ACMERR_NOTPOSSIBLE;
    const int channels = dstLayout_.nb_channels;
    const int bytes = av_samples_get_buffer_size(nullptr, channels, std::max(capacity, 1), targetFormat_, 1);
    if (bytes < 0) return ACMERR_NOTPOSSIBLE;
    if (work_.size() < static_cast<std::size_t>(bytes)) work_.resize(static_cast<std::size_t>(bytes));
    std::uint8_t* out[kMaxChannels] = {};
    av_samples_fill_arrays(out, nullptr, work_.data(), channels, std::max(capacity, 1), targetFormat_, 1);
    SwrContext* swr = swrExact_ && FitsTargetDepth(planes, samples) ? swrExact_.get() : swr_.get();
    const int got = swr_convert(swr, out, capacity, const_cast<const std::uint8_t**>(planes), samples);
    if (got < 0) return FromAv(got);
    return Deliver(out, got);
}

// Float samples that are not numbers become silence and those beyond full scale
// clip, before anything else sees them: the resampler would spread them, and
// some encoders abort on such input.
const std::uint8_t* const* Stream::ClipFloats(const std::uint8_t* const* planes, int samples) {
    const AVSampleFormat packed = av_get_packed_sample_fmt(inFormat_);
    if (packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL) return planes;
    const bool planar = av_sample_fmt_is_planar(inFormat_) != 0;
    const int planeCount = planar ? inLayout_.nb_channels : 1;
    const std::size_t perPlane = static_cast<std::size_t>(samples) * (planar ? 1 : inLayout_.nb_channels);
    const std::size_t width = packed == AV_SAMPLE_FMT_FLT ? sizeof(float) : sizeof(double);
    const auto load = [packed](const std::uint8_t* p) -> double {
        if (packed == AV_SAMPLE_FMT_FLT) {
            float f;
            std::memcpy(&f, p, sizeof f);
            return f;
        }
        double d;
        std::memcpy(&d, p, sizeof d);
        return d;
    };
    const auto outside = [](double x) { return !(x >= -1.0 && x <= 1.0); };
    bool any = false;
    for (int p = 0; p < planeCount && !any; ++p)
        for (std::size_t i = 0; i < perPlane && !any; ++i) any = outside(load(planes[p] + i * width));
    if (!any) return planes;

    clipped_.resize(static_cast<std::size_t>(planeCount) * perPlane * width);
    clippedPlanes_.assign(static_cast<std::size_t>(planeCount), nullptr);
    for (int p = 0; p < planeCount; ++p) {
        std::uint8_t* out = clipped_.data() + static_cast<std::size_t>(p) * perPlane * width;
        for (std::size_t i = 0; i < perPlane; ++i) {
            double x = load(planes[p] + i * width);
            x = std::isnan(x) ? 0.0 : std::clamp(x, -1.0, 1.0);
            if (packed == AV_SAMPLE_FMT_FLT) {
                const float f = static_cast<float>(x);
                std::memcpy(out + i * width, &f, sizeof f);
            } else {
                std::memcpy(out + i * width, &x, sizeof x);
            }
        }
        clippedPlanes_[static_cast<std::size_t>(p)] = out;
    }
    return clippedPlanes_.data();
}

bool Stream::FitsTargetDepth(const std::uint8_t* const* planes, int samples) const {
    const AVSampleFormat packed = av_get_packed_sample_fmt(inFormat_);
    const bool planar = av_sample_fmt_is_planar(inFormat_) != 0;
    const int channels = inLayout_.nb_channels;
    const std::size_t perPlane = static_cast<std::size_t>(samples) * (planar ? 1 : channels);
    const int planeCount = planar ? channels : 1;
    const unsigned depth = targetDepth_;
    for (int p = 0; p < planeCount; ++p) {
        const std::uint8_t* plane = planes[p];
        switch (packed) {
        case AV_SAMPLE_FMT_S16: {
            if (depth >= 16) return true;
            const auto mask = static_cast<std::uint16_t>((1u << (16 - depth)) - 1);
            const auto* v = reinterpret_cast<const std::int16_t*>(plane);
            for (std::size_t i = 0; i < perPlane; ++i)
                if ((static_cast<std::uint16_t>(v[i]) & mask) != 0) return false;
            break;
        }
        case AV_SAMPLE_FMT_S32: {
            if (depth >= 32) return true;
            const std::uint32_t mask = (1u << (32 - depth)) - 1;
            const auto* v = reinterpret_cast<const std::int32_t*>(plane);
            for (std::size_t i = 0; i < perPlane; ++i)
                if ((static_cast<std::uint32_t>(v[i]) & mask) != 0) return false;
            break;
        }
        case AV_SAMPLE_FMT_FLT:
        case AV_SAMPLE_FMT_DBL: {
            const double scale = std::ldexp(1.0, static_cast<int>(depth) - 1);
            for (std::size_t i = 0; i < perPlane; ++i) {
                const double x = packed == AV_SAMPLE_FMT_FLT ? reinterpret_cast<const float*>(plane)[i]
                                                              : reinterpret_cast<const double*>(plane)[i];
                const double scaled = x * scale;
                if (!(scaled >= -scale && scaled < scale) || scaled != std::nearbyint(scaled)) return false;
            }
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

MMRESULT Stream::FlushResampler() {
    if (!swr_ || direct_) return MMSYSERR_NOERROR;
    const int channels = dstLayout_.nb_channels;
    constexpr int kFlushFrames = 4096;
    const int bytes = av_samples_get_buffer_size(nullptr, channels, kFlushFrames, targetFormat_, 1);
    if (bytes < 0) return ACMERR_NOTPOSSIBLE;
    if (work_.size() < static_cast<std::size_t>(bytes)) work_.resize(static_cast<std::size_t>(bytes));
    std::uint8_t* out[kMaxChannels] = {};
    av_samples_fill_arrays(out, nullptr, work_.data(), channels, kFlushFrames, targetFormat_, 1);
    for (;;) {
        const int got = swr_convert(swr_.get(), out, kFlushFrames, nullptr, 0);
        if (got < 0) return FromAv(got);
        if (got == 0) return MMSYSERR_NOERROR;
        if (MMRESULT r = Deliver(out, got); r != 0) return r;
    }
}

MMRESULT Stream::Deliver(const std::uint8_t* const* planes, int samples) {
    if (samples <= 0) return MMSYSERR_NOERROR;
    if (encoder_) {
        if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(const_cast<std::uint8_t**>(planes)),
                                samples) < samples)
            return MMSYSERR_NOMEM;
        return Encode(false);
    }
    const std::size_t values = static_cast<std::size_t>(samples) * dst_.channels;
    if (!pack24_) {
        Emit(planes[0], values * dst_.containerBytes);
        return MMSYSERR_NOERROR;
    }
    // 32-bit samples round to the 24 bits kept, clipped at full scale.
    scratch_.resize(values * 3);
    const auto* in = reinterpret_cast<const std::int32_t*>(planes[0]);
    std::uint8_t* out = scratch_.data();
    for (std::size_t i = 0; i < values; ++i) {
        const std::int64_t v = std::min<std::int64_t>((static_cast<std::int64_t>(in[i]) + 128) >> 8, 0x7FFFFF);
        out[3 * i] = static_cast<std::uint8_t>(v);
        out[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        out[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
    }
    Emit(scratch_.data(), values * 3);
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::Encode(bool flush) {
    AVCodecContext* enc = encoder_.get();
    const bool variable = enc->frame_size == 0;
    const int frameSize = variable ? 1024 : enc->frame_size;
    const bool smallLast = variable || (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        if (available == 0 || (available < frameSize && !flush)) break;
        const int take = std::min(available, frameSize);
        FramePtr frame(av_frame_alloc());
        if (!frame) return MMSYSERR_NOMEM;
        // The last partial frame is padded with silence where the codec takes only whole frames.
        frame->nb_samples = take < frameSize && !smallLast ? frameSize : take;
        frame->format = enc->sample_fmt;
        frame->sample_rate = enc->sample_rate;
        if (av_channel_layout_copy(&frame->ch_layout, &enc->ch_layout) < 0) return MMSYSERR_NOMEM;
        if (av_frame_get_buffer(frame.get(), 0) < 0) return MMSYSERR_NOMEM;
        if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->extended_data), take) < take)
            return ACMERR_NOTPOSSIBLE;
        if (frame->nb_samples > take)
            av_samples_set_silence(frame->extended_data, take, frame->nb_samples - take, enc->ch_layout.nb_channels,
                                   enc->sample_fmt);
        frame->pts = nextPts_;
        nextPts_ += frame->nb_samples;
        if (int err = avcodec_send_frame(enc, frame.get()); err < 0) return FromAv(err);
        if (MMRESULT r = ReceivePackets(); r != 0) return r;
    }
    if (flush) {
        if (int err = avcodec_send_frame(enc, nullptr); err < 0 && err != AVERROR_EOF) return FromAv(err);
        return ReceivePackets();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT Stream::ReceivePackets() {
    PacketPtr packet(av_packet_alloc());
    if (!packet) return MMSYSERR_NOMEM;
    for (;;) {
        const int err = avcodec_receive_packet(encoder_.get(), packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return MMSYSERR_NOERROR;
        if (err < 0) return FromAv(err);
        Emit(packet->data, static_cast<std::size_t>(packet->size));
        av_packet_unref(packet.get());
    }
}

MMRESULT Stream::Drain() {
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
    if (MMRESULT r = FlushResampler(); r != 0) return r;
    if (encoder_) return Encode(true);
    return MMSYSERR_NOERROR;
}

double Stream::SourceFramesFor(std::uint64_t bytes) const {
    const FormatInfo& s = src_;
    if (s.IsLinear()) return static_cast<double>(bytes / s.blockAlign);
    const double blocks = s.blockAlign != 0 ? std::ceil(static_cast<double>(bytes) / s.blockAlign) : 0;
    const TagFacts* facts = FindTagFacts(s.codingTag);
    const BlockFamily family = facts != nullptr ? facts->family : BlockFamily::Other;
    switch (family) {
    case BlockFamily::ImaAdpcm:
    case BlockFamily::MsAdpcm: {
        // The larger of the stated samples per block and what the block size gives.
        const unsigned align = std::max(s.blockAlign, BlockHeaderBytes(family, s.channels));
        const unsigned given = family == BlockFamily::MsAdpcm ? MsSamplesPerBlock(align, s.channels)
                                                               : ImaSamplesPerBlock(align, s.channels);
        return blocks * std::max(SamplesPerBlockField(s), given);
    }
    case BlockFamily::Gsm:
        return blocks * 320;
    case BlockFamily::G711:
        return static_cast<double>(bytes / s.channels);
    case BlockFamily::Mpeg: {
        // MPEG frames may be smaller than the stated rate says (variable bit rate): count
        // with the lowest bit rate of the MPEG version, 32 kbit/s or 8 kbit/s.
        const double lowestBitRate = s.rate >= 32000 ? 32000 : 8000;
        return static_cast<double>(bytes) * 8 * s.rate / lowestBitRate;
    }
    default:
        break;
    }
    // Other codecs: from the stated byte rate, with a margin for a rate stated low.
    if (s.avgBytesPerSec != 0) return static_cast<double>(bytes) * s.rate / s.avgBytesPerSec * 1.25;
    if (s.bitsPerSample != 0) return static_cast<double>(bytes) * 8 / (s.bitsPerSample * s.channels);
    return static_cast<double>(bytes) * 16;
}

std::uint64_t Stream::DestinationBytesForFrames(double sourceFrames) const {
    // Averaged over passes the resampler gives exactly the rate ratio; what it holds
    // back and later releases in a burst waits for the next pass.
    const double frames = std::ceil(src_.rate == dst_.rate ? sourceFrames : sourceFrames * dst_.rate / src_.rate);
    if (!encoder_) return static_cast<std::uint64_t>(frames) * dst_.blockAlign;
    const AVCodecContext* enc = encoder_.get();
    if (enc->frame_size == 0) return static_cast<std::uint64_t>(frames) * dst_.blockAlign;
    const double encoderFrames = std::ceil(frames / enc->frame_size);
    if (dst_.codingTag == WAVE_FORMAT_MPEGLAYER3) {
        // Frames the encoder held back may come out with this pass's own.
        const double frameBytes = std::ceil(static_cast<double>(enc->bit_rate) / 8 * enc->frame_size / enc->sample_rate) + 1;
        return static_cast<std::uint64_t>((encoderFrames + 2) * frameBytes);
    }
    return static_cast<std::uint64_t>(encoderFrames) * dst_.blockAlign;
}

DWORD Stream::SourceBytesFor(DWORD destinationBytes) const {
    const std::uint64_t align = std::max<unsigned>(src_.blockAlign, 1);
    std::uint64_t lo = 1, hi = 0xFFFFFFFFull / align;
    if (DestinationBytesForFrames(SourceFramesFor(align)) > destinationBytes) return static_cast<DWORD>(align);
    while (lo < hi) {
        const std::uint64_t mid = lo + (hi - lo + 1) / 2;
        if (DestinationBytesForFrames(SourceFramesFor(mid * align)) <= destinationBytes)
            lo = mid;
        else
            hi = mid - 1;
    }
    return static_cast<DWORD>(lo * align);
}

DWORD Stream::DestinationBytesFor(DWORD sourceBytes) const {
    return static_cast<DWORD>(std::min<std::uint64_t>(DestinationBytesForFrames(SourceFramesFor(sourceBytes)),
                                                      0xFFFFFFFFull));
}

}  // namespace acm
