// The installation defaults a first run starts from: the resource catalog "QimDefaults"
// shipped with the product, the environment variable "JAVA_HOME", and the application server
// settings the host knows.

#include <cstdlib>

#include "QimSetupPlugIn.h"
#include "host/zaf_system.h"

namespace {

// One default of the catalog. The four directories have a resource of their own per platform
// and share one setting key; every other resource name is its own setting key.
struct CatalogDefault {
  const char* windowsResource;
  const char* unixResource;
  const char* settingKey;
};

// In the order the defaults are appended.
constexpr CatalogDefault kCatalogDefaults[] = {
    {"enablePlugIn", "enablePlugIn", "enablePlugIn"},
    {"enableCT", "enableCT", "enableCT"},
    {"enableRS", "enableRS", "enableRS"},
    {"databaseName", "databaseName", "databaseName"},
    {"databaseHost", "databaseHost", "databaseHost"},
    {"databasePort", "databasePort", "databasePort"},
    {"databaseUser", "databaseUser", "databaseUser"},
    {"databasePassword", "databasePassword", "databasePassword"},
    {"jndiName", "jndiName", "jndiName"},
    {"qimwindir", "qimunxdir", "qimdir"},
    {"mqswindir", "mqsunxdir", "mqsdir"},
    {"mqwfwindir", "mqwfunxdir", "mqwfdir"},
    {"nuvwindir", "nuvunxdir", "nuvdir"},
    {"mqscfg", "mqscfg", "mqscfg"},
    {"waittime", "waittime", "waittime"},
    {"mquser", "mquser", "mquser"},
    {"qimmq", "qimmq", "qimmq"},
    {"qimdlq", "qimdlq", "qimdlq"},
    {"qimport", "qimport", "qimport"},
    {"nuvmq", "nuvmq", "nuvmq"},
    {"nuvdlq", "nuvdlq", "nuvdlq"},
    {"nuvmqport", "nuvmqport", "nuvmqport"},
    {"fmcport", "fmcport", "fmcport"},
};

// The variable's text, or the empty text when it is not defined.
ZAFUnicodeString EnvironmentText(const char* name) {
  char* copy = nullptr;
  ZAFUnicodeString text;
  if (ZAFGetEnvValue(name, &copy) == 0 && copy != nullptr) {
    text = copy;
  }
  std::free(copy);
  return text;
}

// A missing or empty resource still yields its setting, as one blank: an unchecked box, or an
// editor that shows a blank which the form strips away when it reads the fields.
ZAFUnicodeString ResourceValue(ZAFRscCatalog& catalog, const char* resource) {
  ZAFString value;
  catalog.GetCatalogRsc(resource, value, nullptr, 0);
  return value.GetLengthInChar() > 0 ? ZAFUnicodeString(value) : ZAFUnicodeString(" ");
}

void AppendCatalogDefaults(ZAFRscCatalog& catalog, bool windows, ZAFListValZAFUnicodeString& keys,
                           ZAFListValZAFUnicodeString& values) {
  for (const CatalogDefault& entry : kCatalogDefaults) {
    const char* resource = windows ? entry.windowsResource : entry.unixResource;
    keys.Append(entry.settingKey);
    values.Append(ResourceValue(catalog, resource));
  }
}

}  // namespace

// Appends to the lists without emptying them. Without the catalog only the three defaults
// from outside it are appended; those three are appended as they are, even when empty.
// The platform comes by value: that is the signature the exported class has always had.
// NOLINTBEGIN(performance-unnecessary-value-param)
void QimSetupPlugIn::ReadDefaults(ZAFListValZAFUnicodeString& keys,
                                  ZAFListValZAFUnicodeString& values, ZAFUnicodeString platform) {
  // NOLINTEND(performance-unnecessary-value-param)
  const ZAFUnicodeString javaHome = EnvironmentText("JAVA_HOME");

  WASServerSettings server;
  if (Host != nullptr) {
    Host->GetServerSettings(server);
  }

  // Only the exact text "windows" selects the Windows directories.
  const bool windows = platform == "windows";
  ZAFRscCatalog catalog;
  if (catalog.LoadRscCatalog("QimDefaults", nullptr) != 0) {
    AppendCatalogDefaults(catalog, windows, keys, values);
  }

  keys.Append("javahome");
  values.Append(javaHome);
  keys.Append("wasdir");
  values.Append(server.InstallDirectory);
  keys.Append("nuvservlet");
  values.Append(server.NuvServlet);
}
