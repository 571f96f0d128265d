#include "support/media_info.h"

#include "platform/text_codec.h"

#include <dlfcn.h>

#include <cstdlib>

namespace testenv {
namespace {

using NewFn = void* (*)();
using OpenFn = std::size_t (*)(void*, const wchar_t*);
using GetFn = const wchar_t* (*)(void*, int, std::size_t, const wchar_t*, int, int);
using HandleFn = void (*)(void*);

constexpr int kStreamGeneral = 0;
constexpr int kInfoText = 1;
constexpr int kInfoName = 0;

}  // namespace

long long MediaDurationMs(const std::string& path) {
    static void* library = ::dlopen("libmediainfo.so.0", RTLD_NOW);
    if (!library)
        return -1;
    auto create = reinterpret_cast<NewFn>(::dlsym(library, "MediaInfo_New"));
    auto open = reinterpret_cast<OpenFn>(::dlsym(library, "MediaInfo_Open"));
    auto get = reinterpret_cast<GetFn>(::dlsym(library, "MediaInfo_Get"));
    auto close = reinterpret_cast<HandleFn>(::dlsym(library, "MediaInfo_Close"));
    auto destroy = reinterpret_cast<HandleFn>(::dlsym(library, "MediaInfo_Delete"));
    if (!create || !open || !get || !close || !destroy)
        return -1;
    void* handle = create();
    long long ms = -1;
    if (open(handle, platform::Utf8ToWide(path).c_str()) != 0) {
        const wchar_t* text = get(handle, kStreamGeneral, 0, L"Duration", kInfoText, kInfoName);
        if (text && *text)
            ms = std::wcstoll(text, nullptr, 10);
        close(handle);
    }
    destroy(handle);
    return ms;
}

}  // namespace testenv
