// The plug-in in process: building the form, and a whole deployment plan (the command tags,
// then the command of every tag) with the preference save taken out, with the host's own
// repository in memory, and with the real file store.

#include <benchmark/benchmark.h>

#include <memory>

#include "test_support.h"
#include "testable_plugin.h"

namespace {

using qimtest::ComposingHost;
using qimtest::NullRepository;
using qimtest::ScopedHost;
using qimtest::TestablePlugIn;

// A fresh tab container and plug-in, the form built on them, then both destroyed: what a host
// does once per run. No settings are stored, so the form takes the installation defaults.
void BM_BuildUserInterface(benchmark::State& state) {
  NullRepository repository;
  ScopedHost host;
  host.UseRepository(&repository);
  host.CountDiagnostics();
  ComposingHost setupHost;
  for (auto _ : state) {
    auto container = std::make_unique<ZAFDlgTabContainer>();
    TestablePlugIn plugin;
    plugin.SetHost(&setupHost);
    plugin.BuildUserInterface(container.get());
    benchmark::DoNotOptimize(container.get());
  }
}
BENCHMARK(BM_BuildUserInterface);

// One whole plan per iteration on a plug-in whose form is built once, outside the timing. With
// `changeEachTime`, the database port on the form changes before each plan (outside the
// timing), so that the settings the plan stores differ from those on disk.
void MeasurePlan(benchmark::State& state, bool changeEachTime = false) {
  ComposingHost setupHost;
  auto container = std::make_unique<ZAFDlgTabContainer>();
  TestablePlugIn plugin;
  plugin.SetHost(&setupHost);
  plugin.BuildUserInterface(container.get());
  ZAFRawCollPV tags;
  plugin.GetCommandTags(tags);
  auto* port = container->FindDescendantOfType<ZAFDlgEditor>("DatabasePortEditor");
  if (tags.Size() == 0 || port == nullptr) {
    state.SkipWithError("the plan is empty or the form has no database port");
    return;
  }
  int round = 0;
  for (auto _ : state) {
    if (changeEachTime) {
      state.PauseTiming();
      port->SetText(std::to_string(50000 + (++round % 2)), 1);
      state.ResumeTiming();
    }
    benchmark::DoNotOptimize(qimtest::RunPlan(plugin));
  }
  state.counters["commands"] = tags.Size();
}

// The save of the settings (the environment command stores them) goes to a repository that
// does nothing.
void BM_WholePlan_SaveStubbed(benchmark::State& state) {
  NullRepository repository;
  ScopedHost host;
  host.UseRepository(&repository);
  host.CountDiagnostics();
  MeasurePlan(state);
}
BENCHMARK(BM_WholePlan_SaveStubbed);

// The host's own repository, kept in memory (no preference folder).
void BM_WholePlan_MemoryRepository(benchmark::State& state) {
  ScopedHost host;
  host.CountDiagnostics();
  MeasurePlan(state);
}
BENCHMARK(BM_WholePlan_MemoryRepository);

// The host's file store in a temporary folder. Every plan saves the settings; when they are
// those on disk already (the usual run), the store leaves the file as it is.
void BM_WholePlan_FileStoreUnchanged(benchmark::State& state) {
  const qimtest::TempDir folder;
  ScopedHost host(qimtest::kSourceCatalogDirectory, folder.path());
  host.CountDiagnostics();
  MeasurePlan(state);
  if (host.Diagnostics() != 0) {
    state.SkipWithError("the file store reported problems");
  }
}
BENCHMARK(BM_WholePlan_FileStoreUnchanged)->Unit(benchmark::kMicrosecond);

// The same with a setting changed before each plan: every save writes the file and flushes it
// and its folder to disk.
void BM_WholePlan_FileStoreChanged(benchmark::State& state) {
  const qimtest::TempDir folder;
  ScopedHost host(qimtest::kSourceCatalogDirectory, folder.path());
  host.CountDiagnostics();
  MeasurePlan(state, true);
  if (host.Diagnostics() != 0) {
    state.SkipWithError("the file store reported problems");
  }
}
BENCHMARK(BM_WholePlan_FileStoreChanged)->Unit(benchmark::kMicrosecond);

}  // namespace
