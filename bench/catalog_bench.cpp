// Message lookup: every title of the plug-in's catalog through the plug-in's GetMessage, and
// the first read of the catalog that a process pays once.

#include <benchmark/benchmark.h>

#include <fstream>
#include <string>
#include <vector>

#include "host/zaf_host.h"
#include "test_support.h"
#include "testable_plugin.h"

namespace {

// The keys of the plug-in's message catalog that end in `suffix` (all when empty), in file
// order.
std::vector<ZAFString> CatalogKeys(const std::string& suffix) {
  std::ifstream catalog(std::string(qimtest::kSourceCatalogDirectory) + "/QimSetupPlugIn.cat");
  std::vector<ZAFString> keys;
  for (std::string line; std::getline(catalog, line);) {
    const std::size_t equals = line.find('=');
    if (line.empty() || line[0] == '#' || equals == std::string::npos) {
      continue;
    }
    std::string key = line.substr(0, equals);
    key.erase(key.find_last_not_of(" \t") + 1);
    key.erase(0, key.find_first_not_of(" \t"));
    if (key.size() >= suffix.size() &&
        key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0) {
      keys.emplace_back(key);
    }
  }
  return keys;
}

// Looks every key up once per iteration, with one parameter (texts have a %1).
void LookUpEvery(benchmark::State& state, const std::vector<ZAFString>& keys) {
  if (keys.empty()) {
    state.SkipWithError("no such keys in the catalog");
    return;
  }
  qimtest::TestablePlugIn plugin;
  ZAFUnicodeString text;
  ZAFUnicodeString parameter = "C:\\QIM\\intel_a";
  for (auto _ : state) {
    std::size_t length = 0;
    for (const ZAFString& key : keys) {
      plugin.GetMessage(key, text, &parameter, 1);
      length += text.str().size();
    }
    benchmark::DoNotOptimize(length);
  }
  state.counters["keys"] = static_cast<double>(keys.size());
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(keys.size()));
}

// Every title of the form and of the messages (the keys ending in ".Title").
void BM_CatalogAllTitles(benchmark::State& state) {
  qimtest::ScopedHost host;
  host.CountDiagnostics();
  LookUpEvery(state, CatalogKeys(".Title"));
}
BENCHMARK(BM_CatalogAllTitles);

// Every key of the catalog: the titles and the message texts.
void BM_CatalogAllKeys(benchmark::State& state) {
  qimtest::ScopedHost host;
  host.CountDiagnostics();
  LookUpEvery(state, CatalogKeys(""));
}
BENCHMARK(BM_CatalogAllKeys);

// Setting the catalog folder forgets the catalogs read so far, so each iteration reads and
// parses the plug-in's catalog afresh for its first message.
void BM_CatalogFirstMessage(benchmark::State& state) {
  qimtest::ScopedHost host;
  host.CountDiagnostics();
  qimtest::TestablePlugIn plugin;
  ZAFUnicodeString text;
  for (auto _ : state) {
    zaf::SetCatalogDirectory(qimtest::kSourceCatalogDirectory);
    plugin.GetMessage("QIMSetupPage.Title", text, nullptr, 0);
    benchmark::DoNotOptimize(text.str().data());
  }
}
BENCHMARK(BM_CatalogFirstMessage)->Unit(benchmark::kMicrosecond);

}  // namespace
