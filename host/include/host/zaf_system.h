#pragma once
// Environment, path, file and directory services of the host.

#include <cstdio>

#include "zaf_api.h"

using ZAFFILE = std::FILE*;

// What ZAFOpenDirectory reports about a directory. It holds no operating-system handle, so
// nothing needs to be closed.
struct ZAFDIR {
  int isOpen = 0;
};

// The value of the environment variable, or null when it is not defined. The pointer belongs
// to the process environment: the caller never releases it.
ZAF_API const char* ZAFGetEnv(const char* name);

// 0 when the variable is defined: *value is then a malloc'ed copy that the caller releases
// with free. Otherwise a negative code and *value is null.
ZAF_API int ZAFGetEnvValue(const char* name, char** value);

// Joins `directory` and `name` with the host's directory separator (zaf::SetPathSeparator,
// '/' by default) and points *path at the result. The result belongs to the host: it stays
// valid for the next 64 joins of the same thread, long enough to be copied, and the caller
// never releases it. The join:
//   - puts no second separator after a directory that already ends with one;
//   - with an empty directory gives `name` alone (never a path from the root);
//   - with an empty name gives the directory followed by one separator.
// Returns 0, or a negative code (and *path null) when an argument is null.
ZAF_API int ZAFMakePath(const char* directory, const char* name, char** path);

// Opens a file with fopen's `mode`: 0 and *file set, or a negative code. While the host records
// a dry run (zaf::SetRecording) only reading is allowed. On Windows the file is opened in binary
// mode whatever `mode` says.
ZAF_API int ZAFFOpen(const char* path, const char* mode, ZAFFILE* file);
ZAF_API int ZAFFClose(ZAFFILE file);

// Copies the file `from` onto `to`: 0, or a negative code. With `overwrite` 1 an existing
// `to` is replaced; with 0 it is kept and the copy fails. The copy is written beside `to`
// and renamed over it, so `to` is never left half written. While the host records a dry run
// the copy is recorded instead of made (zaf::SetRecording).
ZAF_API int ZAFFCopy(const char* from, const char* to, int overwrite);

// 0 when `path` names a directory that can be opened, else a negative code.
ZAF_API int ZAFOpenDirectory(const char* path, ZAFDIR* directory);
