// Wide strings at the edges: UTF-8 for the file system and libraries, and
// copies handed out through the stand-in interfaces.
// Pure functions; any thread.
#pragma once

#include <string>

std::string ToUtf8(const std::wstring &text);

// A new[]-allocated, null-terminated copy; the caller deletes it with delete[].
wchar_t *NewWideCopy(const std::wstring &text);
