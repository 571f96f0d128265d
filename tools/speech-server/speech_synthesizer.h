#pragma once
// Speech from text through the espeak-ng library: Mandarin for text holding CJK ideographs,
// English otherwise, in one of four voices. espeak-ng keeps global state, so there is one
// instance per process and Synthesize is serialised; callers encode the samples in parallel.

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct VoiceSettings {
    int person = 0;  // 0 female, 1 male, 3 expressive male, 4 child
    int speed = 5;   // 0..15, 5 normal
    int pitch = 5;   // 0..15, 5 normal
    int volume = 5;  // 0..15, 5 normal
};

class SpeechSynthesizer {
public:
    // Initialises espeak-ng; false with *error set when it or both Mandarin voices are missing.
    bool Start(std::string* error);
    ~SpeechSynthesizer();

    int SampleRate() const { return sampleRate_; }
    const std::string& MandarinVoice() const { return mandarinVoice_; }

    // Mono 16-bit samples at SampleRate(); false when espeak-ng reports an error. espeak-ng keeps
    // state between calls, so equal requests give slightly different samples.
    bool Synthesize(const std::string& utf8Text, const VoiceSettings& voice,
                    std::vector<std::int16_t>& samples);

    static bool IsValidPerson(int person) { return person == 0 || person == 1 || person == 3 || person == 4; }
    static bool HasIdeographs(const std::string& utf8Text);

private:
    std::mutex mutex_;
    bool started_ = false;
    int sampleRate_ = 0;
    std::string mandarinVoice_;
};
