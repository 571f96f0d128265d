#pragma once
// Hands the installation over to the separate updater: starts a fresh copy "AutoUpdateTmp" of
// "AutoUpdate" from the installation folder (the original when no copy can be made), detached in
// a session of its own, and returns at once. Failures are not reported.

#include "platform/process.h"

namespace PubUtils {

void StartUpdateExe(platform::ProcessStarter& starter = platform::DefaultProcessStarter());

}  // namespace PubUtils
