#include "maintenance/update_exe.h"

#include "core/logger.h"
#include "core/paths.h"
#include "platform/file_ops.h"

#include <string>

namespace PubUtils {

void StartUpdateExe(platform::ProcessStarter& starter) {
    Log(Info, "PubUtils::StartUpdateExe", "start update app");
    const std::string source = GetExeDir() + "/AutoUpdate";
    const std::string copy = GetExeDir() + "/AutoUpdateTmp";
    // The updater replaces files of the installation, its own among them, so it runs from a copy.
    platform::SpawnRequest request;
    request.program = platform::CopyFileReplacing(source, copy) ? copy : source;
    // A console of its own on the original platform: none of this process's output.
    request.output = platform::OutputRouting::ToNull;
    starter.StartDetached(request);
}

}  // namespace PubUtils
