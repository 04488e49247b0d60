#include "StreamEncoder.h"

#include <lame/lame.h>
#include <opusenc.h>

#include <vector>

namespace tw {
namespace {

class Mp3Encoder : public StreamEncoder {
  public:
    ~Mp3Encoder() override {
        if (lame_) lame_close(lame_);
    }
    bool Open(int rate, int channels, int kbps, std::string& why) {
        lame_ = lame_init();
        if (!lame_) {
            why = "LAME could not start";
            return false;
        }
        channels_ = channels;
        lame_set_in_samplerate(lame_, rate);
        lame_set_num_channels(lame_, channels);
        lame_set_mode(lame_, channels == 1 ? MONO : JOINT_STEREO);
        lame_set_brate(lame_, kbps);
        lame_set_quality(lame_, 5);
        if (lame_init_params(lame_) < 0) {
            why =
                "LAME refuses " + std::to_string(kbps) + " kb/s at " + std::to_string(rate) + " Hz";
            return false;
        }
        return true;
    }
    bool Encode(const int16_t* pcm, int frames, std::string& out) override {
        // The size LAME asks for: 1.25 times the samples, and 7200 bytes.
        buffer_.resize(static_cast<size_t>(frames) * 5 / 4 + 7200);
        const int n =
            channels_ == 1
                ? lame_encode_buffer(lame_, pcm, nullptr, frames, buffer_.data(),
                                     static_cast<int>(buffer_.size()))
                : lame_encode_buffer_interleaved(lame_, const_cast<int16_t*>(pcm), frames,
                                                 buffer_.data(), static_cast<int>(buffer_.size()));
        if (n < 0) return false;
        out.append(reinterpret_cast<const char*>(buffer_.data()), static_cast<size_t>(n));
        return true;
    }

  private:
    lame_global_flags* lame_ = nullptr;
    int channels_ = 1;
    std::vector<unsigned char> buffer_;
};

class OpusStreamEncoder : public StreamEncoder {
  public:
    ~OpusStreamEncoder() override {
        if (encoder_) ope_encoder_destroy(encoder_);
        if (comments_) ope_comments_destroy(comments_);
    }
    bool Open(int rate, int channels, int kbps, std::string& why) {
        comments_ = ope_comments_create();
        if (!comments_) {
            why = "the Opus encoder could not start";
            return false;
        }
        ope_comments_add(comments_, "ENCODER", "Tonewell");
        static const OpusEncCallbacks callbacks = {&OpusStreamEncoder::Write,
                                                   &OpusStreamEncoder::Close};
        int error = 0;
        encoder_ =
            ope_encoder_create_callbacks(&callbacks, this, comments_, rate, channels, 0, &error);
        if (!encoder_) {
            why = std::string("the Opus encoder refuses the format (") + ope_strerror(error) + ")";
            return false;
        }
        if (ope_encoder_ctl(encoder_, OPUS_SET_BITRATE(kbps * 1000)) != OPE_OK) {
            why = "the Opus encoder refuses " + std::to_string(kbps) + " kb/s";
            return false;
        }
        // Pages at least every 200 ms, so a listener hears the stream without a wait.
        ope_encoder_ctl(encoder_, OPE_SET_MUXING_DELAY(9600));
        return true;
    }
    bool Encode(const int16_t* pcm, int frames, std::string& out) override {
        out_ = &out;
        const bool ok = ope_encoder_write(encoder_, pcm, frames) == OPE_OK;
        out_ = nullptr;
        return ok;
    }

  private:
    static int Write(void* self, const unsigned char* data, opus_int32 length) {
        auto* encoder = static_cast<OpusStreamEncoder*>(self);
        if (encoder->out_) encoder->out_->append(reinterpret_cast<const char*>(data), length);
        return 0;
    }
    static int Close(void*) { return 0; }

    OggOpusComments* comments_ = nullptr;
    OggOpusEnc* encoder_ = nullptr;
    std::string* out_ = nullptr;
};

}  // namespace

std::unique_ptr<StreamEncoder> StreamEncoder::Make(const std::string& format, int rate,
                                                   int channels, int kbps, std::string& why) {
    if (format == "mp3") {
        auto encoder = std::make_unique<Mp3Encoder>();
        if (encoder->Open(rate, channels, kbps, why)) return encoder;
    } else if (format == "opus") {
        auto encoder = std::make_unique<OpusStreamEncoder>();
        if (encoder->Open(rate, channels, kbps, why)) return encoder;
    } else {
        why = "unknown stream format " + format + " (mp3 or opus)";
    }
    return nullptr;
}

}  // namespace tw
