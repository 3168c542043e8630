#include "atl/regplan.h"

#include <set>

namespace atl {

namespace {

bool IsHex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

// Key paths and texts may not hold characters the registry or the default
// values would misread.
bool IsPlainText(const std::string& text, size_t maxLength) {
  if (text.size() > maxLength) return false;
  for (unsigned char c : text)
    if (c < 0x20) return false;
  return true;
}

std::string CheckClass(const ClassKeys& c) {
  if (!IsGuidText(c.clsid)) return "the class id \"" + c.clsid + "\" is not a GUID in braces";
  if (!IsPlainText(c.name, 255)) return "the name of class " + c.clsid + " is too long or holds control characters";
  if (!c.progId.empty() && !IsProgId(c.progId)) return "\"" + c.progId + "\" is not a valid ProgID";
  if (!c.versionIndependentProgId.empty()) {
    if (c.progId.empty()) return "class " + c.clsid + " has a version-independent ProgID but no ProgID";
    if (!IsProgId(c.versionIndependentProgId))
      return "\"" + c.versionIndependentProgId + "\" is not a valid ProgID";
    if (c.versionIndependentProgId == c.progId)
      return "the version-independent ProgID of class " + c.clsid + " equals its ProgID";
  }
  if (!c.typeLib.empty() && !IsGuidText(c.typeLib)) return "the type library id \"" + c.typeLib + "\" is not a GUID";
  if (!c.appId.empty() && !IsGuidText(c.appId)) return "the AppID \"" + c.appId + "\" is not a GUID";
  return "";
}

}  // namespace

const char* ThreadingModelName(ThreadingModel model) {
  switch (model) {
    case ThreadingModel::Apartment: return "Apartment";
    case ThreadingModel::Both: return "Both";
    case ThreadingModel::Free: return "Free";
  }
  return "Apartment";
}

bool IsGuidText(const std::string& text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != '-' : !IsHex(text[i])) return false;
  }
  return true;
}

bool IsProgId(const std::string& text) {
  if (text.empty() || text.size() > 39 || !IsAsciiLetter(text[0])) return false;
  for (char c : text)
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '.') return false;
  return true;
}

std::string PlanModule(const std::vector<ClassKeys>& classes, const std::string& modulePath,
                       const std::string& moduleName, RegPlan* plan) {
  *plan = RegPlan();
  if (modulePath.empty() || !IsPlainText(modulePath, 32767)) return "the module path is empty or malformed";
  if (!IsPlainText(moduleName, 255)) return "the module name is malformed";
  std::set<std::string> clsids, progIds;
  for (const ClassKeys& c : classes) {
    std::string why = CheckClass(c);
    if (!why.empty()) return why;
    if (!clsids.insert(c.clsid).second) return "class " + c.clsid + " is listed twice";
    for (const std::string* id : {&c.progId, &c.versionIndependentProgId})
      if (!id->empty() && !progIds.insert(*id).second) return "the ProgID \"" + *id + "\" is claimed twice";
  }

  RegPlan out;
  std::set<std::string> appIds;
  for (const ClassKeys& c : classes) {
    const std::string key = "CLSID\\" + c.clsid;
    RegKey classKey{key, {{"", c.name}}};
    if (!c.appId.empty()) classKey.values.push_back({"AppID", c.appId});
    out.writes.push_back(classKey);
    out.writes.push_back({key + "\\InprocServer32",
                          {{"", modulePath}, {"ThreadingModel", ThreadingModelName(c.threading)}}});
    if (!c.progId.empty()) out.writes.push_back({key + "\\ProgID", {{"", c.progId}}});
    if (!c.versionIndependentProgId.empty())
      out.writes.push_back({key + "\\VersionIndependentProgID", {{"", c.versionIndependentProgId}}});
    if (c.programmable) out.writes.push_back({key + "\\Programmable", {}});
    if (!c.typeLib.empty()) out.writes.push_back({key + "\\TypeLib", {{"", c.typeLib}}});
    if (c.control) {
      out.writes.push_back({key + "\\Control", {}});
      out.writes.push_back({key + "\\MiscStatus", {{"", "0"}}});
      out.writes.push_back({key + "\\MiscStatus\\1", {{"", std::to_string(c.miscStatus)}}});
    }
    out.removals.push_back(key);

    if (!c.progId.empty()) {
      out.writes.push_back({c.progId, {{"", c.name}}});
      out.writes.push_back({c.progId + "\\CLSID", {{"", c.clsid}}});
      out.removals.push_back(c.progId);
    }
    if (!c.versionIndependentProgId.empty()) {
      out.writes.push_back({c.versionIndependentProgId, {{"", c.name}}});
      out.writes.push_back({c.versionIndependentProgId + "\\CLSID", {{"", c.clsid}}});
      out.writes.push_back({c.versionIndependentProgId + "\\CurVer", {{"", c.progId}}});
      out.removals.push_back(c.versionIndependentProgId);
    }
    if (!c.appId.empty() && appIds.insert(c.appId).second) {
      out.writes.push_back({"AppID\\" + c.appId, {{"", moduleName}}});
      out.removals.push_back("AppID\\" + c.appId);
    }
  }
  *plan = std::move(out);
  return "";
}

}  // namespace atl
