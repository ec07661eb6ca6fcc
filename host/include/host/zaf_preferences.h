#pragma once
// The host's preference repository: named arrays of integers or of texts, kept between runs.

#include "zaf_api.h"
#include "zaf_string.h"

class ZAF_API ZAFSysPreferenceRepository {
 public:
  virtual ~ZAFSysPreferenceRepository();

  // The repository `name`, owned by the host, or null when it cannot be had.
  static ZAFSysPreferenceRepository* GetPreferenceRepository(const ZAFString& name);

  // Each returns 0 on success and a negative code on failure. A read copies up to `count`
  // stored elements into the caller's array (through the pointers for texts); it fails when
  // the preference is missing, holds the other kind, or holds fewer than `count` elements
  // (the elements it has are still copied, the rest are left as they were).
  virtual int ReadPreference(const ZAFString& name, int* values, int count) = 0;
  virtual int ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) = 0;
  // A write replaces the preference with `count` elements; it is lasting after SaveRepository.
  virtual int WritePreference(const ZAFString& name, const int* values, int count) = 0;
  virtual int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                              int count) = 0;
  // Makes the writes lasting. `reserved` is unused (null).
  virtual int SaveRepository(void* reserved) = 0;
};
