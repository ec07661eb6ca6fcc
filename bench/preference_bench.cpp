// The preference file store: a save and a load of the plug-in's settings through the host's
// repository in a temporary folder, and the file text's writing and reading alone.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "host/zaf_host.h"
#include "preference_store.h"
#include "test_support.h"
#include "testable_plugin.h"

namespace {

// The plug-in's settings as a fresh form holds them (the installation defaults).
struct Settings {
  ZAFListValZAFUnicodeString keys;
  ZAFListValZAFUnicodeString values;
};

Settings DefaultSettings() {
  qimtest::NullRepository repository;
  qimtest::ScopedHost host;
  host.UseRepository(&repository);
  host.CountDiagnostics();
  qimtest::ComposingHost setupHost;
  auto container = std::make_unique<ZAFDlgTabContainer>();
  qimtest::TestablePlugIn plugin;
  plugin.SetHost(&setupHost);
  plugin.BuildUserInterface(container.get());
  Settings settings;
  plugin.GetUserInterfaceFields(settings.keys, settings.values);
  return settings;
}

// Writes the settings as the plug-in does: "count", "Keys" and "Values".
void WriteSettings(ZAFSysPreferenceRepository& repository, const Settings& settings) {
  const int count = settings.keys.Size();
  std::vector<const ZAFUnicodeString*> keys(static_cast<std::size_t>(count));
  std::vector<const ZAFUnicodeString*> values(static_cast<std::size_t>(count));
  settings.keys.Array(keys.data());
  settings.values.Array(values.data());
  repository.WritePreference("count", &count, 1);
  repository.WritePreference("Keys", keys.data(), count);
  repository.WritePreference("Values", values.data(), count);
}

// Saves the settings once per iteration. With `changeEachTime` one value alternates between
// two texts, so every save writes the file and flushes it and its folder to disk; without, the
// file already holds the settings and the store leaves it as it is.
void MeasureSave(benchmark::State& state, bool changeEachTime) {
  Settings settings = DefaultSettings();
  const qimtest::TempDir folder;
  qimtest::ScopedHost host(qimtest::kSourceCatalogDirectory, folder.path());
  host.CountDiagnostics();
  ZAFSysPreferenceRepository* repository = zaf::OpenHostRepository("QIMSetup");
  int round = 0;
  for (auto _ : state) {
    if (changeEachTime) {
      settings.values[1] = (++round % 2 == 0) ? "C:\\QIM" : "D:\\QIM";
    }
    WriteSettings(*repository, settings);
    if (repository->SaveRepository(nullptr) != 0) {
      state.SkipWithError("the save failed");
      return;
    }
  }
  state.counters["settings"] = settings.keys.Size();
}

void BM_PreferenceSave_Changed(benchmark::State& state) {
  MeasureSave(state, true);
}
BENCHMARK(BM_PreferenceSave_Changed)->Unit(benchmark::kMicrosecond);

void BM_PreferenceSave_Unchanged(benchmark::State& state) {
  MeasureSave(state, false);
}
BENCHMARK(BM_PreferenceSave_Unchanged)->Unit(benchmark::kMicrosecond);

// A fresh repository object per iteration, as a new run of the tool has: the first read loads
// and parses the file; then every setting is read.
void BM_PreferenceLoad(benchmark::State& state) {
  const Settings settings = DefaultSettings();
  const qimtest::TempDir folder;
  qimtest::ScopedHost host(qimtest::kSourceCatalogDirectory, folder.path());
  host.CountDiagnostics();
  ZAFSysPreferenceRepository* repository = zaf::OpenHostRepository("QIMSetup");
  WriteSettings(*repository, settings);
  if (repository->SaveRepository(nullptr) != 0) {
    state.SkipWithError("the save failed");
    return;
  }
  ZAFListValZAFUnicodeString keys = settings.keys;
  ZAFListValZAFUnicodeString values = settings.values;
  std::vector<ZAFUnicodeString*> keyPointers(static_cast<std::size_t>(keys.Size()));
  std::vector<ZAFUnicodeString*> valuePointers(static_cast<std::size_t>(values.Size()));
  keys.Array(keyPointers.data());
  values.Array(valuePointers.data());
  for (auto _ : state) {
    zaf::SetPreferenceDirectory(folder.path());  // closes the repository objects
    repository = zaf::OpenHostRepository("QIMSetup");
    int count = 0;
    if (repository->ReadPreference("count", &count, 1) != 0 ||
        repository->ReadPreference("Keys", keyPointers.data(), count) != 0 ||
        repository->ReadPreference("Values", valuePointers.data(), count) != 0) {
      state.SkipWithError("the load failed");
      return;
    }
  }
}
BENCHMARK(BM_PreferenceLoad)->Unit(benchmark::kMicrosecond);

zaf::PreferenceMap SettingsAsPreferences(const Settings& settings) {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  for (int position = 1; position <= settings.keys.Size(); ++position) {
    keys.push_back(settings.keys[position].str());
    values.push_back(settings.values[position].str());
  }
  return {{"count", std::vector<int>{settings.keys.Size()}},
          {"Keys", std::move(keys)},
          {"Values", std::move(values)}};
}

void BM_PreferenceTextWrite(benchmark::State& state) {
  const zaf::PreferenceMap preferences = SettingsAsPreferences(DefaultSettings());
  for (auto _ : state) {
    benchmark::DoNotOptimize(zaf::SerializePreferences(preferences));
  }
}
BENCHMARK(BM_PreferenceTextWrite);

void BM_PreferenceTextRead(benchmark::State& state) {
  const std::string text = zaf::SerializePreferences(SettingsAsPreferences(DefaultSettings()));
  std::string error;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zaf::ParsePreferences(text, error));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_PreferenceTextRead);

}  // namespace
