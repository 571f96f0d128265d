#pragma once
// The settings of section "Parlatto" of the per-user "config.ini". Never cached: every read opens
// the file again. Every write goes to the per-user file and then to the mirror in the
// installation folder, when that folder exists.

#include <string>

int ReadConfigInt(const std::wstring& key, int defaultValue);
// At most capacity - 1 characters of the value (or of the default).
std::wstring ReadConfigString(const std::wstring& key, const std::wstring& defaultValue, int capacity);
void WriteConfigString(const std::wstring& key, const std::wstring& value);
void WriteConfigInt(const std::wstring& key, int value);
// The update checker's reader: the same file, found without resolving (or creating) the data folder.
std::wstring ReadUpdateConfigString(const std::wstring& key, const std::wstring& defaultValue, int capacity);

// The integer a stored text stands for: blanks, a sign and decimal digits; no digits read as 0.
int ParseConfigInt(const std::string& text);
