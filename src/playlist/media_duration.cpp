#include "playlist/media_duration.h"

#include "core/text_convert.h"

#include <dlfcn.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <optional>

namespace {

constexpr char kLibraryName[] = "libmediainfo.so.0";

// Everything the library's own loading header resolves: a library that lacks one of them is not
// the one this code was written against, and counts as absent.
constexpr const char* kEntryPoints[] = {
    "MediaInfo_New",
    "MediaInfo_Delete",
    "MediaInfo_Open",
    "MediaInfo_Open_Buffer_Init",
    "MediaInfo_Open_Buffer_Continue",
    "MediaInfo_Open_Buffer_Continue_GoTo_Get",
    "MediaInfo_Open_Buffer_Finalize",
    "MediaInfo_Open_NextPacket",
    "MediaInfo_Close",
    "MediaInfo_Inform",
    "MediaInfo_GetI",
    "MediaInfo_Get",
    "MediaInfo_Output_Buffer_Get",
    "MediaInfo_Output_Buffer_GetI",
    "MediaInfo_Option",
    "MediaInfo_State_Get",
    "MediaInfo_Count_Get",
    "MediaInfoList_New",
    "MediaInfoList_Delete",
    "MediaInfoList_Open",
    "MediaInfoList_Close",
    "MediaInfoList_Inform",
    "MediaInfoList_GetI",
    "MediaInfoList_Get",
    "MediaInfoList_Option",
    "MediaInfoList_State_Get",
    "MediaInfoList_Count_Get",
    "MediaInfoList_Count_Get_Files",
};

// The library's C interface, wide-character form.
using NewFn = void* (*)();
using OpenFn = std::size_t (*)(void*, const wchar_t*);
using GetFn = const wchar_t* (*)(void*, int streamKind, std::size_t streamNumber, const wchar_t* parameter,
                                 int kindOfInfo, int kindOfSearch);
using HandleFn = void (*)(void*);

constexpr int kStreamAudio = 2;
constexpr int kInfoText = 1;
constexpr int kInfoName = 0;

struct MediaInfoApi {
    NewFn create = nullptr;
    OpenFn open = nullptr;
    GetFn get = nullptr;
    HandleFn close = nullptr;
    HandleFn destroy = nullptr;
};

std::mutex g_mutex;
std::string g_libraryName = kLibraryName;
std::optional<MediaInfoApi> g_api;

template <class Fn>
Fn Resolve(void* module, const char* name) {
    return reinterpret_cast<Fn>(::dlsym(module, name));
}

// The loaded interface; a failed load is tried again at the next call.
std::optional<MediaInfoApi> LoadMediaInfo() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_api)
        return g_api;
    void* module = ::dlopen(g_libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return std::nullopt;
    const bool complete =
        std::all_of(std::begin(kEntryPoints), std::end(kEntryPoints),
                    [module](const char* name) { return ::dlsym(module, name) != nullptr; });
    if (!complete) {
        ::dlclose(module);
        return std::nullopt;
    }
    // Never unloaded: handles of other threads may still be in use.
    g_api =
        MediaInfoApi{Resolve<NewFn>(module, "MediaInfo_New"), Resolve<OpenFn>(module, "MediaInfo_Open"),
                     Resolve<GetFn>(module, "MediaInfo_Get"), Resolve<HandleFn>(module, "MediaInfo_Close"),
                     Resolve<HandleFn>(module, "MediaInfo_Delete")};
    return g_api;
}

}  // namespace

int GetMediaDuration(const std::wstring& path) {
    const std::optional<MediaInfoApi> api = LoadMediaInfo();
    if (!api)
        return 0;
    void* handle = api->create();
    if (!handle)
        return 0;
    api->open(handle, path.c_str());
    const wchar_t* text = api->get(handle, kStreamAudio, 0, L"Duration", kInfoText, kInfoName);
    // Milliseconds, possibly with a fraction ("3024.000"): the integer at the start counts.
    const std::string narrow = WideToAnsi(text ? text : L"");
    const long milliseconds = std::strtol(narrow.c_str(), nullptr, 10);
    api->close(handle);
    api->destroy(handle);
    return static_cast<int>(std::clamp<long>(milliseconds / 1000, INT_MIN, INT_MAX));
}

void SetMediaInfoLibraryForTesting(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_libraryName = name.empty() ? kLibraryName : name;
    g_api.reset();
}
