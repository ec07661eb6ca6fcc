// The catalog service: each catalog file is read once per process (until the catalog folder
// changes) and its entries kept; lookups fall back as the callers expect.

#include "host/zaf_catalog.h"

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog_file.h"
#include "host/platform/files.h"
#include "host/zaf_host.h"
#include "host_state.h"

namespace zaf {

namespace {

// Null when the catalog is missing or unusable; a catalog is looked at only once either way.
using CachedCatalog = std::shared_ptr<const CatalogEntries>;

std::mutex catalogMutex;
std::map<std::string, CachedCatalog, std::less<>> catalogCache;

std::string CatalogPath(const std::string& name) {
  const std::string directory = GetCatalogDirectory();
  std::string fileName = name + ".cat";
  if (directory.empty()) {
    return fileName;
  }
  return directory.back() == '/' ? directory + fileName : directory + "/" + fileName;
}

// The bytes of the file at `path`; nothing when it is missing (silently) or cannot be read
// (with one warning).
std::optional<std::string> ReadCatalogFile(const std::string& path) {
  platform::FileContent content = platform::ReadRegularFile(path, kMaxCatalogFileBytes);
  switch (content.status) {
    case platform::FileContent::Status::kRead:
      return std::move(content.bytes);
    case platform::FileContent::Status::kMissing:
      break;
    case platform::FileContent::Status::kLink:
    case platform::FileContent::Status::kFolder:
    case platform::FileContent::Status::kNotRegular:
      ReportDiagnostic(path + ": cannot read the catalog: it is not a regular file");
      break;
    case platform::FileContent::Status::kTooLarge:
      ReportDiagnostic(path + ": ignored: the catalog is larger than " +
                       std::to_string(kMaxCatalogFileBytes >> 20) + " MiB");
      break;
    case platform::FileContent::Status::kFailed:
      ReportDiagnostic(path + ": cannot read the catalog: " + content.reason);
      break;
  }
  return std::nullopt;
}

// The first warnings of a file, then how many more there were: a file that is mostly not a
// catalog must not bury the operator's screen.
void ReportCatalogWarnings(const std::vector<std::string>& warnings, const std::string& path) {
  constexpr std::size_t kShownWarnings = 5;
  for (std::size_t index = 0; index < warnings.size() && index < kShownWarnings; ++index) {
    ReportDiagnostic(warnings[index]);
  }
  if (warnings.size() > kShownWarnings) {
    ReportDiagnostic(path + ": " + std::to_string(warnings.size() - kShownWarnings) +
                     " more lines ignored");
  }
}

CachedCatalog LoadCatalog(const std::string& name) {
  if (name.empty()) {
    return nullptr;
  }
  const std::string path = CatalogPath(name);
  const std::optional<std::string> content = ReadCatalogFile(path);
  if (!content) {
    return nullptr;
  }
  ParsedCatalog parsed = ParseCatalog(*content, path);
  ReportCatalogWarnings(parsed.warnings, path);
  if (!parsed.isCatalog) {
    return nullptr;
  }
  if (parsed.entries.empty() && parsed.warnings.empty()) {
    ReportDiagnostic(path + ": the catalog holds no entries");
  }
  return std::make_shared<const CatalogEntries>(std::move(parsed.entries));
}

// The entries of catalog `name`, read on first use. The file is read without holding the
// lock, so that a diagnostic sink may itself build messages.
CachedCatalog FindCatalog(const std::string& name) {
  {
    std::lock_guard<std::mutex> lock(catalogMutex);
    const auto known = catalogCache.find(name);
    if (known != catalogCache.end()) {
      return known->second;
    }
  }
  CachedCatalog catalog = LoadCatalog(name);
  std::lock_guard<std::mutex> lock(catalogMutex);
  return catalogCache.emplace(name, std::move(catalog)).first->second;
}

// The text of `key` in catalog `name`, or null when either is missing.
const std::string_view* FindEntry(const CachedCatalog& catalog, const std::string& key) {
  return catalog ? catalog->Find(key) : nullptr;
}

}  // namespace

void ClearCatalogCache() {
  std::lock_guard<std::mutex> lock(catalogMutex);
  catalogCache.clear();
}

}  // namespace zaf

ZAFUnicodeString ZAFMsgCatalog::BuildMessage(const ZAFString& catalog, const ZAFString& key,
                                             const ZAFUnicodeString* parameters, int count,
                                             const ZAFUnicodeString& fallback) {
  const zaf::CachedCatalog entries = zaf::FindCatalog(catalog.str());
  const std::string_view* text = zaf::FindEntry(entries, key.str());
  if (text == nullptr) {
    return fallback;
  }
  return ZAFUnicodeString(zaf::FillPlaceholders(*text, parameters, count));
}

int ZAFRscCatalog::LoadRscCatalog(const ZAFString& name, void* /*reserved*/) {
  name_ = name;
  loaded_ = zaf::FindCatalog(name.str()) != nullptr;
  return loaded_ ? 1 : 0;
}

int ZAFRscCatalog::GetCatalogRsc(const ZAFString& key, ZAFString& value, void* /*reserved*/,
                                 int /*flags*/) {
  if (!loaded_) {
    return -1;
  }
  const zaf::CachedCatalog catalog = zaf::FindCatalog(name_.str());
  const std::string_view* text = zaf::FindEntry(catalog, key.str());
  if (text == nullptr) {
    return -2;
  }
  value = ZAFString(std::string(*text));
  return 0;
}
