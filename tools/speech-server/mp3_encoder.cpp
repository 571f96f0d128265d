#include "mp3_encoder.h"

#include <lame/lame.h>

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

struct LameCloser {
    void operator()(lame_global_flags* flags) const { lame_close(flags); }
};

// LAME fills shared tables on its first set-up; only the set-up is serialised.
std::mutex& SetupMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::string Mp3Encoder::Encode(const std::vector<std::int16_t>& samples, int sampleRate) {
    std::unique_ptr<lame_global_flags, LameCloser> lame;
    {
        std::lock_guard lock(SetupMutex());
        lame.reset(lame_init());
        if (!lame)
            return {};
        lame_set_num_channels(lame.get(), 1);
        lame_set_mode(lame.get(), MONO);
        lame_set_in_samplerate(lame.get(), sampleRate);
        lame_set_out_samplerate(lame.get(), sampleRate);
        lame_set_VBR(lame.get(), vbr_off);
        lame_set_brate(lame.get(), kBitrateKbps);
        lame_set_quality(lame.get(), 5);
        lame_set_bWriteVbrTag(lame.get(), 1);
        lame_set_write_id3tag_automatic(lame.get(), 0);
        if (lame_init_params(lame.get()) < 0)
            return {};
    }
    // An empty text still gives a playable file: a tenth of a second of silence.
    std::vector<std::int16_t> silence;
    const std::vector<std::int16_t>* input = &samples;
    if (samples.empty()) {
        silence.assign(static_cast<std::size_t>(sampleRate / 10), 0);
        input = &silence;
    }

    constexpr std::size_t kChunk = 8192;
    std::vector<unsigned char> buffer(kChunk * 5 / 4 + 7200);
    std::string out;
    for (std::size_t offset = 0; offset < input->size(); offset += kChunk) {
        const auto count = static_cast<int>(std::min(kChunk, input->size() - offset));
        // Mono: LAME reads the left channel only.
        const short* pcm = input->data() + offset;
        const int written =
            lame_encode_buffer(lame.get(), pcm, pcm, count, buffer.data(), static_cast<int>(buffer.size()));
        if (written < 0)
            return {};
        out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(written));
    }
    const int flushed = lame_encode_flush(lame.get(), buffer.data(), static_cast<int>(buffer.size()));
    if (flushed < 0)
        return {};
    out.append(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(flushed));

    const std::size_t tagSize = lame_get_lametag_frame(lame.get(), buffer.data(), buffer.size());
    if (tagSize > 0 && tagSize <= buffer.size() && tagSize <= out.size())
        std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(tagSize), out.begin());
    return out;
}
