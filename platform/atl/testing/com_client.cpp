#include "com_client.h"

#include <sstream>

#include "command.h"

Call::~Call() {
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrHelpFile);
}

void Invoke(IDispatch* object, DISPID id, WORD flags, std::vector<VARIANT> args, Call* call) {
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & DISPATCH_PROPERTYPUT) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  call->hr = object->Invoke(id, IID_NULL, 0, flags, &params, call->result.Out(), &call->exception, &call->argError);
}

RegKeys RegTree(const std::string& key) { return ParseRegQuery(RunCommand("reg.exe query \"" + key + "\" /s").output); }

RegKeys ParseRegQuery(const std::string& output) {
  RegKeys tree;
  std::istringstream lines(output);
  std::string line, current;
  while (std::getline(lines, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line.rfind("HKEY_CLASSES_ROOT\\", 0) == 0) {
      current = line.substr(18);
      tree[current];
      continue;
    }
    size_t type = line.find("    REG_SZ    ");
    if (type == std::string::npos || current.empty()) continue;
    tree[current][line.substr(4, type - 4)] = line.substr(type + 14);
  }
  return tree;
}

DWORD Regsvr32(const std::string& dll, bool unregister) {
  return RunCommand(std::string("regsvr32.exe /s ") + (unregister ? "/u " : "") + "\"" + dll + "\"").exitCode;
}

bool HkcrKeyExists(const std::string& key) { return RunCommand("reg.exe query \"HKCR\\" + key + "\"").exitCode == 0; }
