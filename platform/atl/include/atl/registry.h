// Writes and removes a registration plan under HKEY_CLASSES_ROOT, and the
// text conversions the plan needs.
#pragma once

#include <windows.h>

#include <string>

#include "atl/regplan.h"

namespace atl {

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& text);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::string GuidText(const GUID& guid);

// Creates each key and sets its string values; stops at the first failure
// and answers it (as an HRESULT).
HRESULT WriteRegPlan(const RegPlan& plan);
// Deletes each removal's key tree; a key that is not there is skipped.
HRESULT RemoveRegPlan(const RegPlan& plan);
bool ClassesKeyExists(const std::string& path);

}  // namespace atl
