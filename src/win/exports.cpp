// The collection enumeration under its exported name. Outside callers hold
// their slots in a SAFEARRAY of VARIANT; the program's own query steps call
// EnumerateCollection directly.
#include "automation/com.h"
#include "wmi/query.h"

extern "C" LONG WINAPI WBEMCOLLECTION_ENUMERATE(ULONG_PTR source, SAFEARRAY** slots) {
  if (slots == nullptr || *slots == nullptr) return 0;
  SAFEARRAY* const array = *slots;
  if (SafeArrayGetDim(array) != 1) return 0;

  // The slots are written as VARIANTs: anything else would be overrun.
  if (SafeArrayGetElemsize(array) != sizeof(VARIANT)) return 0;
  VARTYPE type = VT_EMPTY;
  if (SUCCEEDED(SafeArrayGetVartype(array, &type)) && type != VT_VARIANT) return 0;

  LONG lower = 0;
  LONG upper = 0;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) ||
      FAILED(SafeArrayGetUBound(array, 1, &upper))) {
    return 0;
  }
  if (upper < lower) return 0;  // no elements: nothing to enumerate into

  void* data = nullptr;
  if (FAILED(SafeArrayAccessData(array, &data))) return 0;
  const LONG result =
      kelvarin::EnumerateCollection(source, static_cast<VARIANT*>(data), lower, upper);
  SafeArrayUnaccessData(array);
  return result;
}
