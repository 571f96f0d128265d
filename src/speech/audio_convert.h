#pragma once
// Turns whole texts (jobs) into MP3 files: cuts each into pieces, feeds them to synthesis tasks
// (at most one new start per StartNextTask call, at most GetMaxTaskCount running), retries a
// failed piece up to its tenth attempt, writes piece files, joins a complete job into
// "audio.mp3", and posts WM_CONVERT_STATUS (payload: the job key) after every finished piece.
// Jobs are started, polled and removed on one thread; completions arrive on worker threads.
// Destruction waits for completion handlers already running, not for running syntheses.

#include "platform/message.h"
#include "speech/audio_join.h"
#include "speech/audio_piece.h"
#include "speech/text_loader.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

class CAudioTask;

inline constexpr std::uint32_t WM_CONVERT_STATUS = 4024;

class CAudioConvert {
public:
    CAudioConvert();
    ~CAudioConvert();
    CAudioConvert(const CAudioConvert&) = delete;
    CAudioConvert& operator=(const CAudioConvert&) = delete;

    // Loads, cuts and queues one text, then starts at most one task. False (with the reason when
    // asked) when the text could not be loaded or cut; nothing is queued then. A job of the same
    // key that is still known is replaced.
    bool StartJob(std::string source, PubUtils::TextError* error = nullptr);
    // Starts the first waiting piece (lowest index of all jobs) if a slot is free.
    void StartNextTask();
    // The completion of one task, on its thread; destroys the task.
    void OnAudioCallBack(CAudioTask* task);
    // The finished pieces of the job, by index.
    PieceList GetFinishedPieces(const std::string& job);
    // Forgets every piece of the job; its running tasks are ignored when they complete.
    void RemoveJob(std::string job);

    // The number of pieces of the job (0 for an unknown job).
    int PieceCount(const std::string& job);
    int RunningCount();
    // The waiting pieces in the order they will start: (job key, index).
    std::vector<std::pair<std::string, int>> WaitingPieces();

private:
    struct Job {
        int count = 0;
        int finished = 0;
        std::vector<std::shared_ptr<AudioPiece>> pieces;  // by index
    };
    struct Gate;

    // Records a final outcome; true when it completed the job (its caller then joins it).
    bool RecordFinal(const std::shared_ptr<AudioPiece>& piece, int code, std::string error, std::size_t bytes,
                     bool* removed);
    void FinishPiece(const std::shared_ptr<AudioPiece>& piece, int code, std::string error,
                     std::size_t bytes);

    std::recursive_mutex mutex_;
    std::multimap<int, std::shared_ptr<AudioPiece>> queue_;  // waiting pieces by index
    int running_ = 0;
    std::unordered_map<std::uint64_t, std::shared_ptr<AudioPiece>> pieces_;
    std::map<std::string, Job> jobs_;
    std::shared_ptr<Gate> gate_;
};
