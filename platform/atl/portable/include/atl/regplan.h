// The registry keys of an in-process COM server, planned from its class
// table: what registering writes under HKEY_CLASSES_ROOT and which key trees
// unregistering deletes. No Windows header: the plan is checked natively and
// written by the Windows side (atl/registry.h). Texts are UTF-8.
#pragma once

#include <string>
#include <vector>

namespace atl {

enum class ThreadingModel { Apartment, Both, Free };

const char* ThreadingModelName(ThreadingModel model);

// One class as the registry shows it. GUIDs are in braces
// ("{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"); empty texts are left out.
struct ClassKeys {
  std::string clsid;
  std::string name;  // friendly name, the class key's default value
  std::string progId;  // "Library.Class.1"
  std::string versionIndependentProgId;  // "Library.Class", with CurVer
  ThreadingModel threading = ThreadingModel::Apartment;
  std::string typeLib;  // the module's type library, when it has one
  std::string appId;
  bool programmable = false;
  // An ActiveX control: the "Control" key, and its OLEMISC bits for the
  // content aspect under "MiscStatus\\1" (hosts read them before creating it).
  bool control = false;
  unsigned long miscStatus = 0;
};

struct RegValue {
  std::string name;  // empty: the key's default value
  std::string data;  // always a string (REG_SZ)
  bool operator==(const RegValue&) const = default;
};

struct RegKey {
  std::string path;  // below HKEY_CLASSES_ROOT
  std::vector<RegValue> values;
  bool operator==(const RegKey&) const = default;
};

struct RegPlan {
  // Created in this order; a parent comes before its subkeys.
  std::vector<RegKey> writes;
  // Key trees deleted by unregistering, each one a key the plan created
  // whole; shared parents ("CLSID", "AppID") are never among them.
  std::vector<std::string> removals;
};

// Plans the keys of a module's classes. `modulePath` is the server's full
// path (InprocServer32) and `moduleName` the AppID key's default value.
// Answers an empty text, or why the table cannot be registered (then the
// plan is left empty): a malformed GUID, ProgID or path, or two classes
// claiming the same CLSID or ProgID.
std::string PlanModule(const std::vector<ClassKeys>& classes, const std::string& modulePath,
                       const std::string& moduleName, RegPlan* plan);

// Checks on single texts, used by the plan.
bool IsGuidText(const std::string& text);
// 1 to 39 characters, a letter first, then letters, digits and periods.
bool IsProgId(const std::string& text);

}  // namespace atl
