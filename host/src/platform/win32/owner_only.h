#pragma once
// Files made owner-only on Windows, for the Win32 implementations: files.cpp builds the
// protected access list that grants the user, SYSTEM and Administrators alone.

#include <windows.h>

#include <string>

#include "platform/win32/handle.h"

namespace zaf::platform {

// CreateFileW for a file made owner-only (the list applies only when the call makes the file);
// on failure the handle is invalid and GetLastError() tells why.
Handle CreateOwnerOnlyFile(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                           DWORD flags);

}  // namespace zaf::platform
