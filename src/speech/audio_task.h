#pragma once
// One synthesis request for one piece, on a thread of its own: the next credential pair, the voice
// mapped to the service's "per", long time-outs, the outcome in code/error/audio, and the owner's
// completion function as the very last action (it may destroy the task).

#include "speech/simple_thread.h"

#include <cstdint>
#include <memory>
#include <string>

class CAudioTask;

// Called on the task's thread; the return value is not used.
using TaskCallback = int (*)(CAudioTask* task, void* owner);

struct SynthesisParams {
    std::wstring text;
    int voice = 0;  // "AudioType" 1 to 4
};

class CAudioTask : public SimpleThread {
public:
    static constexpr int kConnectTimeoutMs = 60000;
    static constexpr int kRequestTimeoutMs = 600000;

    CAudioTask() = default;
    ~CAudioTask() override = default;

    // `keepAlive` is held by the task until it is destroyed, so that the owner's state reached
    // through `owner` outlives the callback.
    void SetCallback(TaskCallback callback, void* owner, std::uint64_t pieceId,
                     std::shared_ptr<void> keepAlive = nullptr);
    // False for an empty text or when no thread could be made; then nothing calls back.
    bool StartTask(SynthesisParams params);
    void Run() override;

    // The service's voice number for an "AudioType".
    static int VoiceToPer(int voice);

    std::uint64_t PieceId() const { return pieceId_; }
    const std::shared_ptr<void>& KeepAlive() const { return keepAlive_; }

    int code = -1;
    std::string error;
    std::string audio;

private:
    TaskCallback callback_ = nullptr;
    void* owner_ = nullptr;
    std::uint64_t pieceId_ = 0;
    SynthesisParams params_;
    std::shared_ptr<void> keepAlive_;
};
