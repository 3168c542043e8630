// Included by the headers widl makes from IDL that imports
// automation_base.idl: the real declarations are the platform's.
#pragma once
#include <oaidl.h>
#include <ocidl.h>
