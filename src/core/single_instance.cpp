#include "core/single_instance.h"

#include "core/paths.h"
#include "core/text_convert.h"
#include "platform/instance_lock.h"
#include "platform/message.h"
#include "platform/process_info.h"

#include <memory>
#include <mutex>

namespace PubUtils {
namespace {

struct Held {
    std::mutex mutex;
    std::unique_ptr<platform::InstanceLock> lock;
};

Held& TheHeld() {
    static Held* held = new Held;  // kept to the end: the kernel drops the lock at exit
    return *held;
}

std::string LockDir() {
    std::string dir = platform::UserRuntimeDir();
    return dir.empty() ? GetDataDir() : dir;
}

}  // namespace

bool CheckSingleInstance(const std::wstring& mutexName, const std::wstring& windowClassName) {
    const std::string name = WideToAnsi(mutexName);
    const std::string dir = LockDir();
    const std::string windowClass = WideToAnsi(windowClassName);
    Held& held = TheHeld();
    std::lock_guard guard(held.mutex);
    if (held.lock)
        return true;
    held.lock = platform::InstanceLock::TryAcquire(dir, name, [windowClass] {
        platform::PostMessage(platform::FindWindowByClass(windowClass), platform::WM_ACTIVATE_REQUEST);
    });
    if (held.lock)
        return true;
    platform::InstanceLock::RequestActivation(dir, name);
    return false;
}

void ReleaseSingleInstanceForTesting() {
    Held& held = TheHeld();
    std::lock_guard guard(held.mutex);
    held.lock.reset();
}

}  // namespace PubUtils
