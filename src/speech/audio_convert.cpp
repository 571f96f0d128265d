#include "speech/audio_convert.h"

#include "app/data.h"
#include "core/logger.h"
#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "speech/audio_task.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>

namespace {

constexpr int kMaxAttempts = 10;

std::atomic<std::uint64_t> g_nextPieceId{1};

bool IsPieceFileName(const char* name) {
    const std::string_view n(name);
    if (n == "audio.mp3")
        return true;
    if (n.size() <= 4 || n.substr(n.size() - 4) != ".mp3")
        return false;
    return std::all_of(n.begin(), n.end() - 4, [](char c) { return c >= '0' && c <= '9'; });
}

// Piece files of an earlier conversion of the same text would be joined into the new result.
void RemoveOldPieceFiles(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (dirent* entry = ::readdir(dir)) {
        if (IsPieceFileName(entry->d_name))
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

bool WritePieceFile(const std::string& path, const std::string& audio) {
    std::FILE* file = std::fopen(path.c_str(), "wb+e");
    if (!file)
        return false;
    const bool ok = std::fwrite(audio.data(), 1, audio.size(), file) == audio.size();
    return std::fclose(file) == 0 && ok;
}

void PostStatus(const std::string& job) {
    platform::PostMessage(CData::Instance().GetMainWindow(), WM_CONVERT_STATUS, 0,
                          std::make_unique<platform::ValuePayload<std::string>>(job));
}

}  // namespace

// Lets completions reach the manager only while it lives, and lets the destructor wait for the
// completions already inside it. Tasks keep it alive.
struct CAudioConvert::Gate {
    std::mutex mutex;
    std::condition_variable idle;
    bool shutDown = false;
    int active = 0;
    CAudioConvert* owner = nullptr;

    static int OnTaskDone(CAudioTask* task, void* self) {
        auto* gate = static_cast<Gate*>(self);
        const std::shared_ptr<void> keep = task->KeepAlive();  // the task holds the last reference
        {
            std::lock_guard lock(gate->mutex);
            if (gate->shutDown) {
                delete task;
                return 0;
            }
            ++gate->active;
        }
        gate->owner->OnAudioCallBack(task);
        {
            std::lock_guard lock(gate->mutex);
            --gate->active;
        }
        gate->idle.notify_all();
        return 0;
    }
};

CAudioConvert::CAudioConvert() : gate_(std::make_shared<Gate>()) {
    gate_->owner = this;
}

CAudioConvert::~CAudioConvert() {
    {
        std::unique_lock lock(gate_->mutex);
        gate_->shutDown = true;
        gate_->idle.wait(lock, [this] { return gate_->active == 0; });
    }
    std::lock_guard lock(mutex_);
    queue_.clear();
    pieces_.clear();
    jobs_.clear();
}

bool CAudioConvert::StartJob(std::string source, PubUtils::TextError* error) {
    const std::string copy = PubUtils::GetCopyByFile(source, error);
    if (copy.empty())
        return false;
    std::string text;
    if (!PubUtils::GetFileContext(copy, text, error))
        return false;
    PubUtils::ToUtf8Text(text);
    // Zero bytes cannot be spoken and would cut a piece's text short.
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    std::vector<std::string> texts;
    if (!PubUtils::SplitText(text, texts)) {
        if (error)
            *error = text.empty() ? PubUtils::TextError::Empty : PubUtils::TextError::NoBreakMark;
        return false;
    }
    if (error)
        *error = PubUtils::TextError::None;
    std::string().swap(text);  // the pieces hold every byte now

    const std::string folder = copy.substr(0, copy.find_last_of('/') + 1);
    RemoveJob(source);
    RemoveOldPieceFiles(folder);
    const int count = static_cast<int>(texts.size());
    const int voice = CData::Instance().GetAudioType();
    Job job;
    job.count = count;
    job.pieces.reserve(texts.size());
    for (int i = 0; i < count; ++i) {
        auto piece = std::make_shared<AudioPiece>();
        piece->job = source;
        piece->count = count;
        piece->index = i;
        piece->voice = voice;
        piece->text = std::move(texts[static_cast<size_t>(i)]);
        piece->id = g_nextPieceId++;
        piece->file = folder + std::to_string(i + 1) + ".mp3";
        job.pieces.push_back(std::move(piece));
    }
    {
        std::lock_guard lock(mutex_);
        for (const auto& piece : job.pieces) {
            queue_.emplace(piece->index, piece);
            pieces_.emplace(piece->id, piece);
        }
        jobs_[source] = std::move(job);
    }
    StartNextTask();
    return true;
}

void CAudioConvert::StartNextTask() {
    std::shared_ptr<AudioPiece> piece;
    {
        std::lock_guard lock(mutex_);
        if (running_ >= CData::Instance().GetMaxTaskCount() || queue_.empty())
            return;
        ++running_;
        piece = queue_.begin()->second;
        queue_.erase(queue_.begin());
        ++piece->attempts;
        auto* task = new CAudioTask;
        task->SetCallback(&Gate::OnTaskDone, gate_.get(), piece->id, gate_);
        if (task->StartTask({AnsiToWide(piece->text), piece->voice}))
            return;  // the task is on its own now
        delete task;
        --running_;
    }
    // No thread: the piece ends without audio rather than holding its slot for ever.
    FinishPiece(piece, -1, "the synthesis could not be started", 0);
}

void CAudioConvert::OnAudioCallBack(CAudioTask* task) {
    std::shared_ptr<AudioPiece> piece;
    {
        std::lock_guard lock(mutex_);
        auto it = pieces_.find(task->PieceId());
        if (it != pieces_.end())
            piece = it->second;
    }
    if (!piece) {
        Log(Warning, "CAudioConvert::OnAudioCallBack", "app exit. OnAudioCallBack no  PostMessage");
    } else {
        // A success without audio would never count as finished: it is a failed attempt.
        const bool failed = task->code != 0 || task->audio.empty();
        if (failed && piece->attempts < kMaxAttempts) {
            const std::string& why = task->error.empty() ? std::string("empty reply") : task->error;
            Log(Warning, "CAudioConvert::OnAudioCallBack",
                "speech task failed. %s, code:%d, err:%s, retry:%d", piece->file.c_str(), task->code,
                why.c_str(), piece->attempts);
            std::lock_guard lock(mutex_);
            if (pieces_.count(piece->id))
                queue_.emplace(piece->index, piece);
        } else {
            // Written before the piece counts as finished, so a join never meets a half file. A file
            // that cannot be written leaves the piece finished with audio; the join skips it.
            if (!failed)
                WritePieceFile(piece->file, task->audio);
            const std::size_t bytes = failed ? 0 : task->audio.size();
            std::string().swap(task->audio);
            FinishPiece(piece, failed ? -1 : 0, failed ? task->error : std::string(), bytes);
        }
    }
    {
        std::lock_guard lock(mutex_);
        --running_;
    }
    delete task;
}

bool CAudioConvert::RecordFinal(const std::shared_ptr<AudioPiece>& piece, int code, std::string error,
                                std::size_t bytes, bool* removed) {
    std::lock_guard lock(mutex_);
    ++piece->attempts;
    piece->code = code;
    piece->error = std::move(error);
    piece->audioBytes = bytes;
    std::string().swap(piece->text);
    piece->finished = true;
    auto job = jobs_.find(piece->job);
    *removed = !pieces_.count(piece->id) || job == jobs_.end();
    if (*removed)
        return false;
    return ++job->second.finished == job->second.count;
}

void CAudioConvert::FinishPiece(const std::shared_ptr<AudioPiece>& piece, int code, std::string error,
                                std::size_t bytes) {
    bool removed = false;
    const bool complete = RecordFinal(piece, code, std::move(error), bytes, &removed);
    if (removed)
        return;
    if (complete)
        PubUtils::JoinPieces(GetFinishedPieces(piece->job), *piece);
    PostStatus(piece->job);
}

PieceList CAudioConvert::GetFinishedPieces(const std::string& job) {
    PieceList finished;
    std::lock_guard lock(mutex_);
    auto it = jobs_.find(job);
    if (it == jobs_.end())
        return finished;
    for (const auto& piece : it->second.pieces) {
        if (piece->finished)
            finished.push_back(piece);
    }
    return finished;
}

void CAudioConvert::RemoveJob(std::string job) {
    std::lock_guard lock(mutex_);
    for (auto it = queue_.begin(); it != queue_.end();)
        it = it->second->job == job ? queue_.erase(it) : std::next(it);
    auto found = jobs_.find(job);
    if (found == jobs_.end())
        return;
    for (const auto& piece : found->second.pieces)
        pieces_.erase(piece->id);
    jobs_.erase(found);
}

int CAudioConvert::RunningCount() {
    std::lock_guard lock(mutex_);
    return running_;
}

int CAudioConvert::PieceCount(const std::string& job) {
    std::lock_guard lock(mutex_);
    auto it = jobs_.find(job);
    return it == jobs_.end() ? 0 : it->second.count;
}

std::vector<std::pair<std::string, int>> CAudioConvert::WaitingPieces() {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::string, int>> waiting;
    for (const auto& [index, piece] : queue_)
        waiting.emplace_back(piece->job, index);
    return waiting;
}
