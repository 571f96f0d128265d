#include "speech_synthesizer.h"

#include <espeak-ng/speak_lib.h>

#include <algorithm>

namespace {

struct Voice {
    const char* variant;  // an espeak-ng voice variant; "" keeps the language's own voice
    int rate;             // words per minute at speed 5
    int pitch;            // 0..100 at pitch 5
    int range;            // pitch range 0..100: how lively the intonation is
};

// Indexed by person; 2 is not offered, as with the cloud service.
constexpr Voice kVoices[] = {
    {"+f2", 165, 60, 50}, {"+m3", 160, 40, 45}, {"", 0, 0, 0}, {"+m7", 200, 30, 95}, {"+f4", 180, 95, 75},
};

int Collect(short* wav, int count, espeak_EVENT* events) {
    auto* samples = static_cast<std::vector<std::int16_t>*>(events->user_data);
    if (wav && count > 0 && samples)
        samples->insert(samples->end(), wav, wav + count);
    return 0;
}

int Scale(int step, int atFive, int perStep, int low, int high) {
    return std::clamp(atFive + (step - 5) * perStep, low, high);
}

}  // namespace

bool SpeechSynthesizer::Start(std::string* error) {
    sampleRate_ = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 500, nullptr, espeakINITIALIZE_DONT_EXIT);
    if (sampleRate_ <= 0) {
        *error = "espeak-ng could not be initialised (is espeak-ng-data installed?)";
        return false;
    }
    started_ = true;
    espeak_SetSynthCallback(&Collect);
    for (const char* name : {"cmn", "zh"}) {
        if (espeak_SetVoiceByName(name) == EE_OK) {
            mandarinVoice_ = name;
            break;
        }
    }
    if (mandarinVoice_.empty()) {
        *error = "espeak-ng has neither the 'cmn' nor the 'zh' voice";
        return false;
    }
    if (espeak_SetVoiceByName("en-us") != EE_OK && espeak_SetVoiceByName("en") != EE_OK) {
        *error = "espeak-ng has no English voice";
        return false;
    }
    return true;
}

SpeechSynthesizer::~SpeechSynthesizer() {
    if (started_)
        espeak_Terminate();
}

bool SpeechSynthesizer::HasIdeographs(const std::string& utf8Text) {
    for (std::size_t i = 0; i < utf8Text.size();) {
        const auto lead = static_cast<unsigned char>(utf8Text[i]);
        std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        if (i + length > utf8Text.size())
            break;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k)
            code = (code << 6) | (static_cast<unsigned char>(utf8Text[i + k]) & 0x3F);
        if ((code >= 0x3400 && code <= 0x9FFF) || (code >= 0xF900 && code <= 0xFAFF) ||
            (code >= 0x20000 && code <= 0x3FFFF))
            return true;
        i += length;
    }
    return false;
}

bool SpeechSynthesizer::Synthesize(const std::string& utf8Text, const VoiceSettings& settings,
                                   std::vector<std::int16_t>& samples) {
    if (!IsValidPerson(settings.person))
        return false;
    const Voice& voice = kVoices[settings.person];
    const std::string language = HasIdeographs(utf8Text) ? mandarinVoice_ : std::string("en-us");
    std::lock_guard lock(mutex_);
    // Choosing a voice resets the parameters, so they follow it.
    if (espeak_SetVoiceByName((language + voice.variant).c_str()) != EE_OK &&
        espeak_SetVoiceByName(language.c_str()) != EE_OK)
        return false;
    const int rate = voice.rate * (5 + settings.speed) / 10;
    espeak_SetParameter(espeakRATE, std::clamp(rate, espeakRATE_MINIMUM, espeakRATE_MAXIMUM), 0);
    espeak_SetParameter(espeakPITCH, Scale(settings.pitch, voice.pitch, 5, 0, 100), 0);
    espeak_SetParameter(espeakRANGE, voice.range, 0);
    espeak_SetParameter(espeakVOLUME, Scale(settings.volume, 100, 12, 20, 200), 0);
    samples.clear();
    const espeak_ERROR result = espeak_Synth(utf8Text.c_str(), utf8Text.size() + 1, 0, POS_CHARACTER, 0,
                                             espeakCHARS_UTF8 | espeakENDPAUSE, nullptr, &samples);
    return result == EE_OK;
}
