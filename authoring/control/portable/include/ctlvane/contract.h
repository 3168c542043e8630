// The authoring control's dispatch contract: every property, method and
// event of `_DScrivelControl` and `_DScrivelControlEvents` with its dispatch
// id, name, type and parameters. The control's type library must match it
// row for row; the authoring application calls the control by it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ctlvane {

enum class MemberKind : uint8_t { kProperty, kMethod, kEvent };

// Types are one letter each: s short, l long, f float, b BOOL
// (VARIANT_BOOL), t BSTR, v VARIANT, c OLE_COLOR, u IUnknown*, e SCODE,
// 0 nothing. In a parameter list a '*' before the letter marks an out
// parameter (passed by reference).
struct ContractMember {
  int32_t dispid;
  const char* name;
  MemberKind kind;
  char type;  // the property's type or the method's result
  const char* params;
};

extern const ContractMember kDispatchContract[];
extern const size_t kDispatchContractSize;
extern const ContractMember kEventContract[];
extern const size_t kEventContractSize;

}  // namespace ctlvane
