#include "platform/acm/sink_stage.h"

#include "platform/acm/av_util.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace acm {

void PassOutput::Begin(std::span<std::uint8_t> destination) {
    out_ = destination.data();
    capacity_ = destination.size();
    used_ = 0;
    // What the last pass could not hand over goes first.
    if (pendingPos_ < pending_.size()) {
        const std::size_t n = std::min(capacity_, pending_.size() - pendingPos_);
        if (n > 0) std::memcpy(out_, pending_.data() + pendingPos_, n);
        used_ = n;
        pendingPos_ += n;
    }
    if (pendingPos_ == pending_.size()) {
        pending_.clear();
        pendingPos_ = 0;
    } else if (pendingPos_ > pending_.size() / 2) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(pendingPos_));
        pendingPos_ = 0;
    }
}

void PassOutput::Emit(const std::uint8_t* bytes, std::size_t size) {
    if (pendingPos_ == pending_.size() && used_ < capacity_) {
        const std::size_t n = std::min(size, capacity_ - used_);
        // Bytes already in their place (converted in place) are not moved.
        if (bytes != out_ + used_) std::memcpy(out_ + used_, bytes, n);
        used_ += n;
        bytes += n;
        size -= n;
    }
    if (size > 0) pending_.insert(pending_.end(), bytes, bytes + size);
}

std::size_t PassOutput::End() {
    out_ = nullptr;
    capacity_ = 0;
    return used_;
}

MMRESULT SinkStage::Open(const FormatInfo& destination) {
    dst_ = destination;
    if (const TagFacts* facts = FindTagFacts(dst_.codingTag)) family_ = facts->family;
    if (dst_.IsLinear()) {
        format_ = LinearFormat(dst_);
        depth_ = LinearDepth(dst_);
        pack24_ = dst_.containerBytes == 3;
        return MMSYSERR_NOERROR;
    }
    // Only a plain block of a tag with an encoder is written; the block must be
    // one the encoder writes exactly as described.
    const TagFacts* facts = dst_.tag == dst_.codingTag ? FindTagFacts(dst_.codingTag) : nullptr;
    const AVCodec* codec =
        facts != nullptr && facts->encoder != nullptr ? avcodec_find_encoder_by_name(facts->encoder) : nullptr;
    if (codec == nullptr || !RulesOf(family_).writes(dst_)) return ACMERR_NOTPOSSIBLE;
    return OpenEncoder(codec);
}

MMRESULT SinkStage::OpenEncoder(const AVCodec* codec) {
    encoder_.reset(avcodec_alloc_context3(codec));
    if (!encoder_) return MMSYSERR_NOMEM;
    AVCodecContext* enc = encoder_.get();
    enc->sample_rate = static_cast<int>(dst_.rate);
    enc->time_base = AVRational{1, enc->sample_rate};
    ChannelLayout layout;
    LayoutFor(dst_, layout);
    if (av_channel_layout_copy(&enc->ch_layout, &*layout) < 0) return MMSYSERR_NOMEM;
    enc->sample_fmt = codec->sample_fmts != nullptr ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    // Float input spares the MP3 encoder a requantisation.
    for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f)
        if (*f == AV_SAMPLE_FMT_FLTP) enc->sample_fmt = *f;
    const FamilyRules& rules = RulesOf(family_);
    if (rules.bitRateOption) enc->bit_rate = static_cast<std::int64_t>(dst_.avgBytesPerSec) * 8;
    if (rules.blockSizeOption) {
        if (int err = av_opt_set_int(enc->priv_data, "block_size", dst_.blockAlign, 0); err < 0)
            return FromAv(err, "av_opt_set_int block_size", codec);
    }
    if (int err = avcodec_open2(enc, codec, nullptr); err < 0) return FromAv(err, "avcodec_open2", codec);
    if (!rules.bytesByRate && enc->block_align != 0 && static_cast<unsigned>(enc->block_align) != dst_.blockAlign)
        return ACMERR_NOTPOSSIBLE;

    const bool variable = enc->frame_size == 0;
    frameSize_ = variable ? 1024 : enc->frame_size;
    smallLast_ = variable || (enc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    fifo_.reset(av_audio_fifo_alloc(enc->sample_fmt, enc->ch_layout.nb_channels, std::max(enc->frame_size, 1024)));
    frame_.reset(av_frame_alloc());
    packet_.reset(av_packet_alloc());
    if (!fifo_ || !frame_ || !packet_) return MMSYSERR_NOMEM;
    frame_->nb_samples = frameSize_;
    frame_->format = enc->sample_fmt;
    frame_->sample_rate = enc->sample_rate;
    if (av_channel_layout_copy(&frame_->ch_layout, &enc->ch_layout) < 0) return MMSYSERR_NOMEM;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) return MMSYSERR_NOMEM;
    format_ = enc->sample_fmt;
    depth_ = FormatDepth(enc->sample_fmt);
    return MMSYSERR_NOERROR;
}

void SinkStage::PutRaw(const std::uint8_t* bytes, std::size_t frames) {
    framesOut_ += frames;
    output_.Emit(bytes, frames * dst_.blockAlign);
}

MMRESULT SinkStage::Put(const std::uint8_t* const* planes, int samples) {
    if (samples <= 0) return MMSYSERR_NOERROR;
    framesOut_ += static_cast<std::uint64_t>(samples);
    if (encoder_) {
        if (av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(const_cast<std::uint8_t**>(planes)),
                                samples) < samples)
            return MMSYSERR_NOMEM;
        return Encode(false);
    }
    const std::size_t values = static_cast<std::size_t>(samples) * dst_.channels;
    if (!pack24_) {
        output_.Emit(planes[0], values * dst_.containerBytes);
        return MMSYSERR_NOERROR;
    }
    // 32-bit samples round to the 24 bits kept, clipped at full scale.
    packed_.resize(values * 3);
    const auto* in = reinterpret_cast<const std::int32_t*>(planes[0]);
    std::uint8_t* out = packed_.data();
    for (std::size_t i = 0; i < values; ++i) {
        const std::int64_t v = std::min<std::int64_t>((static_cast<std::int64_t>(in[i]) + 128) >> 8, 0x7FFFFF);
        out[3 * i] = static_cast<std::uint8_t>(v);
        out[3 * i + 1] = static_cast<std::uint8_t>(v >> 8);
        out[3 * i + 2] = static_cast<std::uint8_t>(v >> 16);
    }
    output_.Emit(packed_.data(), values * 3);
    return MMSYSERR_NOERROR;
}

MMRESULT SinkStage::Finish() { return encoder_ ? Encode(true) : MMSYSERR_NOERROR; }

MMRESULT SinkStage::Encode(bool flush) {
    for (;;) {
        const int available = av_audio_fifo_size(fifo_.get());
        if (available == 0 || (available < frameSize_ && !flush)) break;
        if (MMRESULT r = EncodeFrame(std::min(available, frameSize_)); r != 0) return r;
    }
    if (flush) {
        if (MMRESULT r = CompleteBlockGroup(); r != 0) return r;
        const int err = avcodec_send_frame(encoder_.get(), nullptr);
        if (err < 0 && err != AVERROR_EOF) return FromAv(err, "avcodec_send_frame", encoder_->codec);
        return ReceivePackets();
    }
    return MMSYSERR_NOERROR;
}

// Readers that take a family's blocks in groups (GSM 6.10 in pairs) drop or
// misread a last group left incomplete: frames of silence complete it. Each
// frame of such a codec is one block, and every frame is whole.
MMRESULT SinkStage::CompleteBlockGroup() {
    const unsigned group = BlocksPerGroup(family_);
    if (group <= 1 || smallLast_) return MMSYSERR_NOERROR;
    while ((nextPts_ / frameSize_) % group != 0) {
        if (MMRESULT r = EncodeFrame(0); r != 0) return r;
    }
    return MMSYSERR_NOERROR;
}

// Sends one frame of take samples from the FIFO, reusing the one frame: the
// encoder may still hold its last buffer, which is then replaced, not written.
MMRESULT SinkStage::EncodeFrame(int take) {
    AVFrame* frame = frame_.get();
    frame->nb_samples = frameSize_;
    if (av_frame_make_writable(frame) < 0) return MMSYSERR_NOMEM;
    // The last partial frame is padded with silence where the codec takes only whole frames.
    frame->nb_samples = take < frameSize_ && !smallLast_ ? frameSize_ : take;
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->extended_data), take) < take)
        return ACMERR_NOTPOSSIBLE;
    if (frame->nb_samples > take)
        av_samples_set_silence(frame->extended_data, take, frame->nb_samples - take, frame->ch_layout.nb_channels,
                               static_cast<AVSampleFormat>(frame->format));
    frame->pts = nextPts_;
    nextPts_ += frame->nb_samples;
    if (int err = avcodec_send_frame(encoder_.get(), frame); err < 0)
        return FromAv(err, "avcodec_send_frame", encoder_->codec);
    return ReceivePackets();
}

MMRESULT SinkStage::ReceivePackets() {
    AVPacket* packet = packet_.get();
    for (;;) {
        const int err = avcodec_receive_packet(encoder_.get(), packet);
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return MMSYSERR_NOERROR;
        if (err < 0) return FromAv(err, "avcodec_receive_packet", encoder_->codec);
        output_.Emit(packet->data, static_cast<std::size_t>(packet->size));
        av_packet_unref(packet);
    }
}

std::uint64_t SinkStage::BytesFor(double frames) const {
    if (!encoder_) return static_cast<std::uint64_t>(frames) * dst_.blockAlign;
    const AVCodecContext* enc = encoder_.get();
    if (enc->frame_size == 0) return static_cast<std::uint64_t>(frames) * dst_.blockAlign;
    const double encoderFrames = std::ceil(frames / enc->frame_size);
    if (RulesOf(family_).bytesByRate) {
        // Frames the encoder held back may come out with this pass's own.
        const double frameBytes =
            std::ceil(static_cast<double>(dst_.avgBytesPerSec) * enc->frame_size / enc->sample_rate) + 1;
        return static_cast<std::uint64_t>((encoderFrames + 2) * frameBytes);
    }
    return static_cast<std::uint64_t>(encoderFrames) * dst_.blockAlign;
}

}  // namespace acm
