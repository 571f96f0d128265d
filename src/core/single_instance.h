#pragma once
// One instance per user session. The first caller keeps the instance lock for the rest of the
// process; a later process asks it to bring its window forward and is refused.

#include <string>

namespace PubUtils {

// True when this process is the first instance. False when another runs, after that instance
// was asked to post WM_ACTIVATE_REQUEST to its window of class windowClassName.
bool CheckSingleInstance(const std::wstring& mutexName, const std::wstring& windowClassName);

// Test support: gives the lock up again.
void ReleaseSingleInstanceForTesting();

}  // namespace PubUtils
