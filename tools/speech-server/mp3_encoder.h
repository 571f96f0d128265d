#pragma once
// Mono 16-bit samples to a complete MP3 file through LAME: constant bit rate, no ID3 tags, and
// the leading Info frame filled in after the flush so that decoders know the exact length.

#include <cstdint>
#include <string>
#include <vector>

class Mp3Encoder {
public:
    static constexpr int kBitrateKbps = 48;

    // Empty when LAME refuses the sample rate.
    static std::string Encode(const std::vector<std::int16_t>& samples, int sampleRate);
};
