#include "ikpubx/module.h"

#include <atomic>
#include <deque>
#include <new>
#include <utility>

#include "module_lock.h"
#include "vellix/formats/ascii.h"

namespace ikpubx {
namespace {

// Objects alive plus explicit locks. Objects live on one thread, but a
// counter that cannot tear costs nothing.
std::atomic<long>& LockCount() {
  static std::atomic<long> count{0};
  return count;
}

// A deque, so that the entries FindClass hands out stay where they are
// when later classes register.
std::deque<ClassEntry>& Registry() {
  static std::deque<ClassEntry> classes;
  return classes;
}

const ClassEntry* FindByProgId(const std::string& prog_id) {
  for (const ClassEntry& entry : Registry())
    if (!entry.prog_id.empty() && entry.prog_id == prog_id) return &entry;
  return nullptr;
}

}  // namespace

namespace internal {
void AdjustObjectCount(long delta) { LockCount() += delta; }
}  // namespace internal

void RegisterClass(ClassEntry entry) {
  for (ClassEntry& existing : Registry()) {
    if (vellix::formats::EqualsIgnoringAsciiCase(existing.class_id, entry.class_id)) {
      existing = std::move(entry);
      return;
    }
  }
  Registry().push_back(std::move(entry));
}

const ClassEntry* FindClass(const std::string& name) {
  if (name.empty()) return nullptr;
  for (const ClassEntry& entry : Registry())
    if (vellix::formats::EqualsIgnoringAsciiCase(entry.class_id, name)) return &entry;
  if (const ClassEntry* entry = FindByProgId(name)) return entry;
  // The version-independent name stands for the version its CurVer names.
  for (const ClassEntry& entry : Registry())
    if (!entry.version_independent_prog_id.empty() && entry.version_independent_prog_id == name)
      return FindByProgId(entry.prog_id);
  return nullptr;
}

HRESULT CreateObject(const std::string& name, std::shared_ptr<ComObject>* object) {
  if (!object) return E_POINTER;
  object->reset();
  try {
    const ClassEntry* entry = FindClass(name);
    if (!entry || !entry->factory) return REGDB_E_CLASSNOTREG;
    std::shared_ptr<ComObject> created = entry->factory();
    if (!created) return E_FAIL;
    *object = std::move(created);
    return S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

long ModuleLockCount() { return LockCount().load(); }

void LockModule(bool lock) { LockCount() += lock ? 1 : -1; }

HRESULT CanUnloadNow() { return ModuleLockCount() == 0 ? S_OK : S_FALSE; }

std::string LoadStringResource(int id) {
  switch (id) {
    case 100:
      return "ScrivelX";
    case 101:
      return "OEB Check Complete.";
    default:
      return "";
  }
}

}  // namespace ikpubx
