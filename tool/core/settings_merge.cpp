#include "core/settings_merge.h"

#include <algorithm>
#include <map>
#include <set>
#include <string_view>

namespace wassetup {

namespace {

constexpr const char* kCount = "count";
constexpr const char* kKeys = "Keys";
constexpr const char* kValues = "Values";

// The texts of preference `name`, or null when it is missing or holds integers.
const std::vector<std::string>* Texts(const zaf::PreferenceMap& stored, const char* name) {
  const auto found = stored.find(name);
  return found == stored.end() ? nullptr : std::get_if<std::vector<std::string>>(&found->second);
}

// The value of `key` in `settings`, or null.
const std::string* ValueOf(const SettingPairs& settings, const std::string& key) {
  const auto found = std::find_if(settings.begin(), settings.end(),
                                  [&key](const auto& setting) { return setting.first == key; });
  return found == settings.end() ? nullptr : &found->second;
}

// The first key that an earlier one repeats, or null. The form's few dozen keys are compared
// pairwise, which costs less than a set of strings; a long list, which only a damaged or
// hostile file holds, goes through the set.
const std::string* FirstRepeated(const std::vector<std::string>& keys) {
  constexpr std::size_t kPairwiseLimit = 64;
  if (keys.size() <= kPairwiseLimit) {
    for (std::size_t later = 1; later < keys.size(); ++later) {
      for (std::size_t earlier = 0; earlier < later; ++earlier) {
        if (keys[earlier] == keys[later]) {
          return &keys[later];
        }
      }
    }
    return nullptr;
  }
  std::set<std::string_view> seen;
  for (const std::string& key : keys) {
    if (!seen.insert(key).second) {
      return &key;
    }
  }
  return nullptr;
}

}  // namespace

std::string SettingsLayoutProblem(const zaf::PreferenceMap& stored) {
  const bool any = stored.count(kCount) + stored.count(kKeys) + stored.count(kValues) > 0;
  if (!any) {
    return "";
  }
  const auto count = stored.find(kCount);
  const auto* numbers =
      count == stored.end() ? nullptr : std::get_if<std::vector<int>>(&count->second);
  if (numbers == nullptr || numbers->size() != 1) {
    return "the settings' \"count\" is not one integer";
  }
  const auto* keys = Texts(stored, kKeys);
  const auto* values = Texts(stored, kValues);
  if (keys == nullptr || values == nullptr) {
    return "the settings lack their \"Keys\" or \"Values\" texts";
  }
  const int n = numbers->front();
  if (n < 0 || static_cast<std::size_t>(n) != keys->size() ||
      static_cast<std::size_t>(n) != values->size()) {
    return "the settings' count " + std::to_string(n) + " disagrees with their " +
           std::to_string(keys->size()) + " keys and " + std::to_string(values->size()) + " values";
  }
  if (const std::string* repeated = FirstRepeated(*keys)) {
    return "the setting '" + *repeated + "' is listed twice";
  }
  return "";
}

SettingPairs StoredSettings(const zaf::PreferenceMap& stored) {
  SettingPairs settings;
  const auto* keys = Texts(stored, kKeys);
  const auto* values = Texts(stored, kValues);
  if (!SettingsLayoutProblem(stored).empty() || keys == nullptr || values == nullptr) {
    return settings;
  }
  for (std::size_t index = 0; index < keys->size(); ++index) {
    settings.emplace_back((*keys)[index], (*values)[index]);
  }
  return settings;
}

void PutSettings(zaf::PreferenceMap& stored, const SettingPairs& settings) {
  std::vector<std::string> keys;
  std::vector<std::string> values;
  for (const auto& [key, value] : settings) {
    keys.push_back(key);
    values.push_back(value);
  }
  stored[kCount] = std::vector<int>{static_cast<int>(settings.size())};
  stored[kKeys] = std::move(keys);
  stored[kValues] = std::move(values);
}

SettingPairs ChangedSettings(const SettingPairs& loaded, const SettingPairs& saving) {
  SettingPairs changed;
  for (const auto& setting : saving) {
    const std::string* before = ValueOf(loaded, setting.first);
    if (before == nullptr || *before != setting.second) {
      changed.push_back(setting);
    }
  }
  return changed;
}

bool AnyChangedSetting(const SettingPairs& loaded, const std::vector<std::string>& keys,
                       const std::vector<std::string>& values) {
  for (std::size_t index = 0; index < keys.size() && index < values.size(); ++index) {
    const std::string* before = ValueOf(loaded, keys[index]);
    if (before == nullptr || *before != values[index]) {
      return true;
    }
  }
  return false;
}

SettingsMerge MergeSettings(const SettingPairs& current, const SettingPairs& loaded,
                            const SettingPairs& saving) {
  SettingsMerge merge;
  if (current.empty()) {
    merge.settings = saving;
    return merge;
  }
  merge.settings = current;
  std::map<std::string, std::size_t> position;
  for (std::size_t index = 0; index < merge.settings.size(); ++index) {
    position.emplace(merge.settings[index].first, index);
  }
  const SettingPairs changed = ChangedSettings(loaded, saving);
  for (const auto& [key, value] : saving) {
    const bool mine = ValueOf(changed, key) != nullptr;
    const auto found = position.find(key);
    if (found == position.end()) {
      position.emplace(key, merge.settings.size());
      merge.settings.emplace_back(key, value);
      continue;
    }
    std::string& stored = merge.settings[found->second].second;
    if (!mine || stored == value) {
      continue;
    }
    const std::string* before = ValueOf(loaded, key);
    if (before != nullptr && stored != *before) {
      merge.overridden.push_back(key);
    }
    stored = value;
  }
  return merge;
}

}  // namespace wassetup
