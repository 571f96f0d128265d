#pragma once
// The application state that several subsystems share: the main window's handle, the credential
// pool and its rotation (safe from any thread), the chosen voice, the task limit, the update-on-
// exit flag, and the first step of shutting down. One object for the run, CData::Instance().

#include "maintenance/update_checker.h"
#include "platform/message.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct KeyPair {
    std::string apiKey;
    std::string secretKey;
    bool operator==(const KeyPair&) const = default;
};

class CData {
public:
    // The built-in pair, used while the pool is empty.
    static const KeyPair kBuiltInKey;

    // The one object of the run. It is never destroyed: worker threads may still ask it for
    // credentials while the process exits.
    static CData& Instance();

    CData();
    CData(const CData&) = delete;
    CData& operator=(const CData&) = delete;

    void SetMainWindow(platform::WindowHandle window) { mainWindow_.store(window); }
    platform::WindowHandle GetMainWindow() const { return mainWindow_.load(); }

    // The run's one update check; its settings are read when the state is made.
    UpdateChecker& GetUpdateChecker() { return *updateChecker_; }
    // A fresh checker that reads its settings anew, for tests that change them.
    void ResetUpdateCheckerForTesting() { updateChecker_ = std::make_unique<UpdateChecker>(); }

    void SetUpdateOnExit(bool update) { updateOnExit_.store(update); }
    bool IsUpdateOnExit() const { return updateOnExit_.load(); }

    // The voice 1 to 4, read from the settings the first time (while the stored value is not 0).
    int GetAudioType();
    void SetAudioType(int type);
    // Uses this voice for the rest of the run without storing it (the headless converter).
    void SetAudioTypeForRun(int type) { audioType_ = type; }

    // Replaces the credential pool; the rotation index carries over.
    void AddKey(std::vector<KeyPair> keys);
    // The next pair of the pool in rotation, or the built-in pair when the pool is empty.
    KeyPair GetKey();

    int GetMaxTaskCount() const { return 10; }

    // Logs "app exit", moves the work folder away and posts SC_CLOSE to the main window.
    void PostAppExit();

private:
    std::atomic<platform::WindowHandle> mainWindow_{platform::WindowHandle::Null};
    std::unique_ptr<UpdateChecker> updateChecker_;
    std::atomic<bool> updateOnExit_{false};
    std::mutex keyMutex_;
    std::vector<KeyPair> keys_;
    int keyIndex_ = 0;
    int audioType_ = 0;
};
