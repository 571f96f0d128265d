#include "app/data.h"

#include "core/logger.h"
#include "core/paths.h"
#include "core/settings.h"
#include "maintenance/crash_dump_handler.h"

const KeyPair CData::kBuiltInKey{"Qw7ZtRbx3KmaVe2HupYc9sDn", "T4vNq8LsWe6ZyBd0HjRu3KcMa5PgXo7F"};

CData::CData() : updateChecker_(std::make_unique<UpdateChecker>()) {}

CData& CData::Instance() {
    static CData* instance = new CData;
    return *instance;
}

int CData::GetAudioType() {
    if (audioType_ == 0)
        audioType_ = ReadConfigInt(L"AudioType", 1);
    return audioType_;
}

void CData::SetAudioType(int type) {
    audioType_ = type;
    WriteConfigInt(L"AudioType", type);
}

void CData::AddKey(std::vector<KeyPair> keys) {
    bool empty = false;
    {
        std::lock_guard lock(keyMutex_);
        keys_ = std::move(keys);
        empty = keys_.empty();
    }
    if (empty)
        Log(Warning, "CData::AddKey", "get ServerKey size is null");
}

KeyPair CData::GetKey() {
    std::lock_guard lock(keyMutex_);
    if (keys_.empty())
        return kBuiltInKey;
    if (++keyIndex_ >= static_cast<int>(keys_.size()))
        keyIndex_ = 0;
    return keys_[static_cast<size_t>(keyIndex_)];
}

void CData::PostAppExit() {
    Log(Info, "CData::PostAppExit", "app exit");
    CrashDumpHandler::Detach();
    PubUtils::ClearTempDir();
    platform::PostMessage(GetMainWindow(), platform::WM_SYSCOMMAND, platform::SC_CLOSE);
}
