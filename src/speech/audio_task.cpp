#include "speech/audio_task.h"

#include "app/data.h"
#include "core/logger.h"
#include "core/text_convert.h"
#include "platform/clock.h"
#include "speech/speech_client.h"

void CAudioTask::SetCallback(TaskCallback callback, void* owner, std::uint64_t pieceId,
                             std::shared_ptr<void> keepAlive) {
    callback_ = callback;
    owner_ = owner;
    pieceId_ = pieceId;
    keepAlive_ = std::move(keepAlive);
}

bool CAudioTask::StartTask(SynthesisParams params) {
    if (params.text.empty())
        return false;
    params_ = std::move(params);
    return Start();
}

int CAudioTask::VoiceToPer(int voice) {
    switch (voice) {
        case 2:
            return 1;
        case 3:
            return 4;
        case 4:
            return 3;
        default:
            return 0;
    }
}

void CAudioTask::Run() {
    const std::string text = WideToUtf8(params_.text);
    const KeyPair key = CData::Instance().GetKey();
    {
        SpeechClient client(std::to_string(platform::TickCount()), key.apiKey, key.secretKey);
        client.SetConnectTimeout(kConnectTimeoutMs);
        client.SetTimeout(kRequestTimeoutMs);
        const ParamMap options{{"per", std::to_string(VoiceToPer(params_.voice))}};
        const Json::Value result = client.Text2Audio(text, options, audio);
        if (result.isNull()) {
            code = 0;
            Log(Info, "CAudioTask::Run", "text2audio text: %d to audio: %d", static_cast<int>(text.size()),
                static_cast<int>(audio.size()));
        } else {
            code = -1;
            audio.clear();
            error = result.toStyledString();
            Log(Warning, "CAudioTask::Run", "text2audio error: %s", error.c_str());
        }
    }
    // The callback may destroy this task: nothing of it is touched afterwards.
    if (TaskCallback callback = callback_)
        callback(this, owner_);
}
