// The one place that decides where COM comes from: the Windows runtime, or
// the program's own layer on other systems. Everything above includes this.
#pragma once

#ifdef _WIN32
// windows.h first: the COM headers rely on what it defines.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <wbemdisp.h>
// clang-format on

// An HRESULT from its documented bits, as the POSIX layer spells it too.
inline constexpr HRESULT MakeHresult(unsigned long bits) noexcept {
  return static_cast<HRESULT>(bits);
}
#else
#include "automation/posix/com_api.h"
#endif
