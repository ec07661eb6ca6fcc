#pragma once
// The settings as the plug-in stores them in its repository: the preference "count" (one
// integer n) and the parallel text lists "Keys" and "Values" of n entries each. The tool looks
// at them as key and value pairs, to refuse a file whose lists disagree and to merge a save
// into what other processes saved meanwhile, one setting at a time.

#include <string>
#include <utility>
#include <vector>

#include "host/zaf_host.h"

namespace wassetup {

// Settings in list order: each a key and its value.
using SettingPairs = std::vector<std::pair<std::string, std::string>>;

// Why the stored preferences are no whole settings, or empty when they are (or hold no
// settings at all): "count" must be one integer equal to the number of "Keys" and of
// "Values", and no key may be listed twice. A file that breaks this would give the form blank
// or missing settings, which the next save would then store over the real ones.
std::string SettingsLayoutProblem(const zaf::PreferenceMap& stored);

// The settings `stored` holds, in list order; none when it holds no whole settings.
SettingPairs StoredSettings(const zaf::PreferenceMap& stored);

// Puts `settings` into `stored` as "count", "Keys" and "Values".
void PutSettings(zaf::PreferenceMap& stored, const SettingPairs& settings);

// The settings of `saving` whose value differs from `loaded` (or that `loaded` lacks).
SettingPairs ChangedSettings(const SettingPairs& loaded, const SettingPairs& saving);
// Whether ChangedSettings would find any, for settings given as parallel lists of keys and
// values (the longer list's extra entries are ignored), without making the pairs.
bool AnyChangedSetting(const SettingPairs& loaded, const std::vector<std::string>& keys,
                       const std::vector<std::string>& values);

struct SettingsMerge {
  SettingPairs settings;  // what to store
  // Keys this save changed that another process had changed too since `loaded`: the value
  // saved now replaces theirs.
  std::vector<std::string> overridden;
};

// What to store when this process read `loaded`, now saves `saving`, and the file holds
// `current`: the file's settings in their order with the settings this process changed put
// over them, and the settings the file lacks added from `saving`. A file without settings
// takes `saving` whole.
SettingsMerge MergeSettings(const SettingPairs& current, const SettingPairs& loaded,
                            const SettingPairs& saving);

}  // namespace wassetup
