// The toolkit module: its identity (library, class and interface
// identifiers, chosen once and never changed, since clients bind to them;
// program identifiers), the class registry that creates objects by program
// or class identifier, the module's lock count and its string resources.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ikpubx/com.h"

namespace ikpubx {

inline constexpr char kTypeLibraryName[] = "IKPUBXLib";
inline constexpr char kTypeLibraryHelp[] = "IKPubX 1.0 Type Library";
inline constexpr char kTypeLibraryVersion[] = "1.0";
inline constexpr char kLibraryId[] = "{1C115AFD-9C8A-441F-A3FF-7D3A69DDEBFC}";

inline constexpr char kProjectClassId[] = "{764EAEB5-1D6C-4304-95F9-F30FC95E8F6B}";
inline constexpr char kIProjectId[] = "{B82FF5EF-E651-4E9D-9D44-D9E1CBEDA16D}";
inline constexpr char kBuilderClassId[] = "{1C01FB7C-160F-43E9-9C78-98F822B1CF84}";
inline constexpr char kIBuilderId[] = "{98AFCF2D-0FA7-4850-ACCF-31C5C7507E46}";
inline constexpr char kIBuilderEventsId[] = "{215F66FA-6084-450F-A898-BA829DCE3CA0}";
inline constexpr char kViewerClassId[] = "{60B5E9ED-A11D-4E08-9921-6A752A066F71}";
inline constexpr char kIViewerId[] = "{7ACFB222-B4A9-4F90-8329-B02D905D4576}";
inline constexpr char kIViewerEventsId[] = "{BC22F083-D5D8-43C8-8460-BFAFBE5CB0E3}";

inline constexpr char kProjectProgId[] = "IKPublisher.Project.1";
inline constexpr char kProjectIndependentProgId[] = "IKPublisher.Project";
inline constexpr char kBuilderProgId[] = "IKPublisher.Builder.1";
inline constexpr char kBuilderIndependentProgId[] = "IKPublisher.Builder";
inline constexpr char kViewerProgId[] = "IKPublisher.Viewer.1";
inline constexpr char kViewerIndependentProgId[] = "IKPublisher.Viewer";

inline constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);

// One creatable class.
struct ClassEntry {
  std::string class_id;
  std::string name;                         // "Project Class"
  std::string prog_id;                      // versioned: "IKPublisher.Project.1"
  std::string version_independent_prog_id;  // "IKPublisher.Project", whose CurVer is prog_id
  std::function<std::shared_ptr<ComObject>()> factory;
};

// Registers a class (the toolkit's own register themselves; a later entry
// with the same class identifier replaces the earlier one).
void RegisterClass(ClassEntry entry);
// The entry for a class identifier or either program identifier; null when
// none is registered. Names are compared exactly, identifiers ignoring case.
const ClassEntry* FindClass(const std::string& name);

// Creates an object by class identifier or program identifier:
// REGDB_E_CLASSNOTREG for an unknown name, E_OUTOFMEMORY when memory runs
// out, E_POINTER for a null `object`.
HRESULT CreateObject(const std::string& name, std::shared_ptr<ComObject>* object);

// The same, asking the new object for interface I: E_NOINTERFACE when it
// does not have it.
template <typename I>
HRESULT CreateObject(const std::string& name, std::shared_ptr<I>* object) {
  if (!object) return E_POINTER;
  std::shared_ptr<ComObject> created;
  HRESULT hr = CreateObject(name, &created);
  if (Failed(hr)) return hr;
  *object = std::dynamic_pointer_cast<I>(created);
  return *object ? S_OK : E_NOINTERFACE;
}

// Objects alive, plus locks taken with LockModule.
long ModuleLockCount();
void LockModule(bool lock);
// S_OK when nothing holds the module, else S_FALSE.
HRESULT CanUnloadNow();

// String resources: 100 "ScrivelX" (the module's name) and 101
// "OEB Check Complete."; "" for any other id.
std::string LoadStringResource(int id);

}  // namespace ikpubx
