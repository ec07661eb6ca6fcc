// The settings in the host's preference repository "QIMSetup": "count" holds the number of
// settings n, "Keys" and "Values" hold n texts each, position i of both forming one setting.

#include <algorithm>
#include <vector>

#include "QimSetupPlugIn.h"

namespace {

// The most settings a stored count is taken to describe; far above the 33 the plug-in stores,
// so that a store written by a later version with more settings still reads whole.
constexpr int kMaxStoredSettings = 1024;

// Pointers to the list's own elements, in list order, so a repository can write through them
// straight into the list.
std::vector<ZAFUnicodeString*> ElementPointers(ZAFListValZAFUnicodeString& list) {
  std::vector<ZAFUnicodeString*> pointers(static_cast<std::size_t>(list.Size()));
  list.Array(pointers.data());
  return pointers;
}

std::vector<const ZAFUnicodeString*> ElementPointers(const ZAFListValZAFUnicodeString& list) {
  std::vector<const ZAFUnicodeString*> pointers(static_cast<std::size_t>(list.Size()));
  list.Array(pointers.data());
  return pointers;
}

// Writes the whole list as the text preference `name`; negative on failure.
int WriteList(ZAFSysPreferenceRepository& repository, const char* name,
              const ZAFListValZAFUnicodeString& list) {
  const std::vector<const ZAFUnicodeString*> pointers = ElementPointers(list);
  return repository.WritePreference(name, pointers.data(), list.Size());
}

// Makes `list` hold `count` empty texts and reads the text preference `name` into them. What
// the repository cannot supply stays empty, so the read's result is of no interest.
void ReadList(ZAFSysPreferenceRepository& repository, const char* name, int count,
              ZAFListValZAFUnicodeString& list) {
  list.RemoveAll();
  for (int position = 0; position < count; ++position) {
    list.Append(ZAFUnicodeString());
  }
  std::vector<ZAFUnicodeString*> pointers = ElementPointers(list);
  repository.ReadPreference(name, pointers.data(), count);
}

}  // namespace

// Each step returns at its first failure, so a failed write never saves the repository and
// the preferences written before it stay unsaved.
long QimSetupPlugIn::WritePrefToRepository(const ZAFListValZAFUnicodeString& keys,
                                           const ZAFListValZAFUnicodeString& values) {
  Trace("Inside WritePrefToRepository");
  ZAFSysPreferenceRepository* repository = GetPreferenceRepository();
  if (repository == nullptr) {
    return QIM_E_FAIL;
  }
  const int count = keys.Size();
  if (count == 0 || values.Size() != count) {
    return QIM_E_FAIL;
  }
  if (repository->WritePreference("count", &count, 1) < 0) {
    return QIM_E_FAIL;
  }
  if (WriteList(*repository, "Keys", keys) < 0) {
    return QIM_E_FAIL;
  }
  if (WriteList(*repository, "Values", values) < 0) {
    return QIM_E_FAIL;
  }
  repository->SaveRepository(nullptr);
  Trace("Returning RC ");
  return QIM_S_OK;
}

// Nothing stored (no count, or a count that is not positive) is a failure that leaves the
// caller's lists as they were: the form then keeps the installation defaults it already has.
// A count above kMaxStoredSettings is read as that many: the plug-in stores 33 settings, and a
// damaged or hand-edited count must not make the lists ask for billions of entries (which ends
// the host with bad_alloc). The settings the repository does hold are still read.
long QimSetupPlugIn::ReadPrefFromRepository(ZAFListValZAFUnicodeString& keys,
                                            ZAFListValZAFUnicodeString& values) {
  Trace("Inside ReadPrefFromRepository");
  ZAFSysPreferenceRepository* repository = GetPreferenceRepository();
  if (repository == nullptr) {
    return QIM_E_FAIL;
  }
  int count = 0;
  if (repository->ReadPreference("count", &count, 1) < 0 || count <= 0) {
    return QIM_E_FAIL;
  }
  count = std::min(count, kMaxStoredSettings);
  ReadList(*repository, "Keys", count, keys);
  ReadList(*repository, "Values", count, values);
  Trace("Returning S_OK");
  return QIM_S_OK;
}
