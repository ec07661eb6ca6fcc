#pragma once
// Message and resource catalogs. A catalog named N is the file "N.cat" in the host's catalog
// folder (see zaf_host.h); its syntax is described in catalog_file.h. Each catalog is read
// once and kept in memory.

#include "zaf_api.h"
#include "zaf_string.h"

class ZAF_API ZAFMsgCatalog {
 public:
  // The message `key` of catalog `catalog` with its placeholders %1 to %9 replaced by the
  // first `count` entries of `parameters`, or `fallback` when the catalog or the key is
  // missing. A placeholder without a parameter stays as it stands.
  static ZAFUnicodeString BuildMessage(const ZAFString& catalog, const ZAFString& key,
                                       const ZAFUnicodeString* parameters, int count,
                                       const ZAFUnicodeString& fallback);
};

class ZAF_API ZAFRscCatalog {
 public:
  // Nonzero when the catalog `name` could be loaded; `reserved` is unused (null).
  int LoadRscCatalog(const ZAFString& name, void* reserved);
  // Puts the text of resource `key` into `value`; leaves `value` unchanged and returns a
  // negative code when there is no such resource or no catalog loaded. `reserved` and
  // `flags` are unused.
  int GetCatalogRsc(const ZAFString& key, ZAFString& value, void* reserved, int flags);

 private:
  ZAFString name_;
  bool loaded_ = false;
};
