#pragma once
// Finds out once per run, on a detached thread, whether the update server offers a newer version
// than the installed one and whether an update is compulsory; reports to the notify window with
// WM_UPDATE_STATUS. Downloads nothing. The answers may be queried from any thread at any time.

#include "platform/message.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

inline constexpr std::uint32_t WM_UPDATE_STATUS = 2048;

// wParam of WM_UPDATE_STATUS.
enum UpdateStatus : std::uintptr_t {
    UPDATE_SCANNING = 0,   // notice: the folder being scanned
    UPDATE_VERSION = 1,    // notice: the latest version
    UPDATE_FAILED = 2,     // notice with an empty text
    UPDATE_NONE = 3,       // no payload
    UPDATE_AVAILABLE = 4,  // no payload
};

// The text some WM_UPDATE_STATUS messages carry, as a platform::ValuePayload<UpdateNotice>.
struct UpdateNotice {
    std::string text;
};

// Used when the settings name no update server.
inline constexpr char kDefaultUpdateUrl[] = "http://update.parlatto.example:19999";

struct UpdateFileEntry {
    std::string localPath;  // installation folder + "/" + path
    std::string path;       // relative to the installation folder
    std::uint32_t size = 0;
    std::array<std::uint8_t, 20> digest{};  // SHA-1 of the content
};

class UpdateChecker {
public:
    // Reads "UpdateUrl" and "AppName" from the settings, once.
    UpdateChecker();
    ~UpdateChecker();
    UpdateChecker(const UpdateChecker&) = delete;
    UpdateChecker& operator=(const UpdateChecker&) = delete;

    void SetNotifyWindow(platform::WindowHandle window);
    // Starts the check on a thread nobody waits for; the thread may outlive the checker.
    bool StartCheck();

    bool HasRemoteVersion() const;
    bool HasNewerVersion() const;  // local version < latest version
    bool MustUpdate() const;       // local version < minimum required version

    struct State;

private:
    std::shared_ptr<State> state_;
};
