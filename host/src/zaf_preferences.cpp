// The host's own preference repositories: one object per name, kept in memory when no
// preference folder is set, else backed by "<folder>/<name>.prefs" (see preference_store.h).
// While the host records a dry run, writes are dropped and a save is recorded, not made.

#include "host/zaf_preferences.h"

#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "host/zaf_host.h"
#include "host_state.h"
#include "preference_file.h"

namespace zaf {

namespace {

constexpr int kMissing = -1;
constexpr int kOtherKind = -2;
constexpr int kBadArgument = -3;
constexpr int kTooFewElements = -4;
constexpr int kNotSaved = -5;

class HostRepository final : public ZAFSysPreferenceRepository {
 public:
  // With an empty `directory` the repository lives in memory only.
  HostRepository(const std::string& directory, const std::string& name) {
    if (!directory.empty()) {
      file_.emplace(directory, name);
    }
  }

  int ReadPreference(const ZAFString& name, int* values, int count) override {
    return CopyOut<std::vector<int>>(name, count, values != nullptr,
                                     [&](std::size_t index, int value) { values[index] = value; });
  }

  int ReadPreference(const ZAFString& name, ZAFUnicodeString** values, int count) override {
    return CopyOut<std::vector<std::string>>(name, count, values != nullptr,
                                             [&](std::size_t index, const std::string& value) {
                                               if (values[index] != nullptr) {
                                                 *values[index] = ZAFUnicodeString(value);
                                               }
                                             });
  }

  int WritePreference(const ZAFString& name, const int* values, int count) override {
    if (count < 0 || (values == nullptr && count > 0)) {
      return kBadArgument;
    }
    if (IsRecording()) {
      return 0;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Store(name.str(), std::vector<int>(values, values + count));
    return 0;
  }

  int WritePreference(const ZAFString& name, const ZAFUnicodeString* const* values,
                      int count) override {
    if (count < 0 || (values == nullptr && count > 0)) {
      return kBadArgument;
    }
    for (int index = 0; index < count; ++index) {
      if (values[index] == nullptr) {
        return kBadArgument;
      }
    }
    // A write the host only records keeps nothing: the texts are copied only to be kept.
    if (IsRecording()) {
      return 0;
    }
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(count));
    for (int index = 0; index < count; ++index) {
      texts.push_back(values[index]->str());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Store(name.str(), std::move(texts));
    return 0;
  }

  int SaveRepository(void* /*reserved*/) override { return Save(nullptr); }

  // Saves what `merge` makes of the file and the writes since the last save (see
  // SaveHostRepository); a null `merge` puts the writes over the file.
  int Save(const PreferenceMerge& merge) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (IsRecording()) {
      if (file_) {
        RecordChange({FileChange::Kind::kStorePreferences, "", file_->Path()});
      }
      return 0;
    }
    EnsureLoaded();
    PreferenceMap written;
    for (const std::string& name : written_) {
      written.emplace(name, preferences_.at(name));
    }
    const PreferenceFile::Update update = [&](PreferenceMap& stored) {
      if (merge) {
        merge(stored, written);
        return;
      }
      for (const auto& [name, value] : written) {
        stored[name] = value;
      }
    };
    if (!file_) {
      // In memory, what the last save kept stands for the file.
      update(saved_);
      preferences_ = saved_;
    } else if (std::optional<PreferenceMap> saved = file_->Save(update)) {
      preferences_ = std::move(*saved);
    } else {
      return kNotSaved;
    }
    written_.clear();
    return 0;
  }

 private:
  // Reads the file on first use, so that merely asking for a repository touches no disk.
  void EnsureLoaded() {
    if (!loaded_) {
      loaded_ = true;
      if (file_) {
        preferences_ = file_->Load();
      }
    }
  }

  void Store(const std::string& name, PreferenceValue value) {
    EnsureLoaded();
    preferences_[name] = std::move(value);
    written_.insert(name);
  }

  // Copies up to `count` stored elements of `name` through `put`; the result as
  // ReadPreference defines it.
  template <typename Elements, typename Put>
  int CopyOut(const ZAFString& name, int count, bool hasArray, Put put) {
    std::lock_guard<std::mutex> lock(mutex_);
    EnsureLoaded();
    const auto found = preferences_.find(name.str());
    if (found == preferences_.end()) {
      return kMissing;
    }
    const auto* stored = std::get_if<Elements>(&found->second);
    if (stored == nullptr) {
      return kOtherKind;
    }
    if (count < 0 || (count > 0 && !hasArray)) {
      return kBadArgument;
    }
    const std::size_t wanted = static_cast<std::size_t>(count);
    for (std::size_t index = 0; index < wanted && index < stored->size(); ++index) {
      put(index, (*stored)[index]);
    }
    return stored->size() < wanted ? kTooFewElements : 0;
  }

  std::mutex mutex_;
  std::optional<PreferenceFile> file_;
  bool loaded_ = false;
  PreferenceMap preferences_;
  PreferenceMap saved_;  // without a file: what the last save kept
  // The names written since the last load or save: what a save puts over the file.
  std::set<std::string> written_;
};

std::mutex repositoryMutex;
std::map<std::string, std::unique_ptr<HostRepository>> repositories;

// A name that makes a plain file name "<name>.prefs" in the preference folder.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

HostRepository* HostRepositoryNamed(const std::string& name) {
  if (!IsPlainName(name)) {
    return nullptr;
  }
  const std::string directory = GetPreferenceDirectory();
  std::lock_guard<std::mutex> lock(repositoryMutex);
  std::unique_ptr<HostRepository>& repository = repositories[name];
  if (!repository) {
    repository = std::make_unique<HostRepository>(directory, name);
  }
  return repository.get();
}

}  // namespace

ZAFSysPreferenceRepository* OpenHostRepository(const std::string& name) {
  return HostRepositoryNamed(name);
}

int SaveHostRepository(const std::string& name, const PreferenceMerge& merge) {
  HostRepository* repository = HostRepositoryNamed(name);
  return repository != nullptr ? repository->Save(merge) : kBadArgument;
}

void CloseRepositories() {
  std::map<std::string, std::unique_ptr<HostRepository>> closing;
  {
    std::lock_guard<std::mutex> lock(repositoryMutex);
    closing.swap(repositories);
  }
}

}  // namespace zaf

ZAFSysPreferenceRepository::~ZAFSysPreferenceRepository() = default;

ZAFSysPreferenceRepository* ZAFSysPreferenceRepository::GetPreferenceRepository(
    const ZAFString& name) {
  if (const zaf::RepositoryProvider provider = zaf::GetPreferenceRepositoryProvider()) {
    return provider(name.str());
  }
  return zaf::OpenHostRepository(name.str());
}
