// A small COM Automation runtime for systems without Windows. It declares the
// types, interfaces and calls that the program uses under their Windows names
// and with their Windows layout (interface tables in the same slot order), so
// that the bridge and the WMI logic compile unchanged on both platforms.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#define STDMETHODCALLTYPE
#define WINAPI

using HRESULT = std::int32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using USHORT = std::uint16_t;
using SHORT = std::int16_t;
using UINT = unsigned int;
using INT = int;
using BOOL = int;
using BYTE = std::uint8_t;
using CHAR = char;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;
using LCID = std::uint32_t;
using DISPID = std::int32_t;
using SCODE = std::int32_t;
using VARTYPE = std::uint16_t;
using VARIANT_BOOL = std::int16_t;
using DATE = double;
using OLECHAR = char16_t;
using BSTR = OLECHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;

union CY {
  LONGLONG int64;
};

struct GUID {
  std::uint32_t Data1;
  std::uint16_t Data2;
  std::uint16_t Data3;
  std::uint8_t Data4[8];
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;
using REFGUID = const GUID&;

bool operator==(const GUID& a, const GUID& b) noexcept;
inline bool IsEqualGUID(REFGUID a, REFGUID b) noexcept { return a == b; }

inline constexpr HRESULT MakeHresult(std::uint32_t v) noexcept { return static_cast<HRESULT>(v); }
inline constexpr HRESULT S_OK = 0;
inline constexpr HRESULT S_FALSE = 1;
inline constexpr HRESULT E_NOTIMPL = MakeHresult(0x80004001U);
inline constexpr HRESULT E_NOINTERFACE = MakeHresult(0x80004002U);
inline constexpr HRESULT E_FAIL = MakeHresult(0x80004005U);
inline constexpr HRESULT CO_E_CLASSSTRING = MakeHresult(0x800401F3U);
inline constexpr HRESULT CO_E_NOTINITIALIZED = MakeHresult(0x800401F0U);
inline constexpr HRESULT DISP_E_MEMBERNOTFOUND = MakeHresult(0x80020003U);
inline constexpr HRESULT DISP_E_UNKNOWNNAME = MakeHresult(0x80020006U);

enum VARENUM : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I2 = 2,
  VT_I4 = 3,
  VT_R4 = 4,
  VT_R8 = 5,
  VT_CY = 6,
  VT_DATE = 7,
  VT_BSTR = 8,
  VT_DISPATCH = 9,
  VT_ERROR = 10,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_UNKNOWN = 13,
  VT_I1 = 16,
  VT_UI1 = 17,
  VT_UI2 = 18,
  VT_UI4 = 19,
  VT_I8 = 20,
  VT_UI8 = 21,
  VT_HRESULT = 25,
  VT_PTR = 26,
  VT_VECTOR = 0x1000,
  VT_ARRAY = 0x2000,
  VT_BYREF = 0x4000,
  VT_RESERVED = 0x8000,
};

struct IUnknown;
struct IDispatch;
struct ITypeInfo;
struct VARIANT;

struct VariantRecord {
  void* pvRecord;
  void* pRecInfo;
};

// The Windows VARIANT: a tag, three reserved words and a payload that is as
// wide as two pointers (the record form), so 16 bytes on 32-bit and 24 on 64-bit.
struct VARIANT {
  VARTYPE vt;
  WORD wReserved1;
  WORD wReserved2;
  WORD wReserved3;
  union {
    LONGLONG llVal;
    LONG lVal;
    BYTE bVal;
    SHORT iVal;
    float fltVal;
    double dblVal;
    VARIANT_BOOL boolVal;
    SCODE scode;
    CY cyVal;
    DATE date;
    BSTR bstrVal;
    IUnknown* punkVal;
    IDispatch* pdispVal;
    CHAR cVal;
    USHORT uiVal;
    ULONG ulVal;
    ULONGLONG ullVal;
    INT intVal;
    UINT uintVal;
    BSTR* pbstrVal;
    IUnknown** ppunkVal;
    IDispatch** ppdispVal;
    VARIANT* pvarVal;
    void* byref;
    VariantRecord record;
  };
};
static_assert(offsetof(VARIANT, llVal) == 8);
static_assert(sizeof(VARIANT) == 8 + 2 * sizeof(void*));

struct DISPPARAMS {
  VARIANT* rgvarg;
  DISPID* rgdispidNamedArgs;
  UINT cArgs;
  UINT cNamedArgs;
};

struct EXCEPINFO {
  WORD wCode;
  WORD wReserved;
  BSTR bstrSource;
  BSTR bstrDescription;
  BSTR bstrHelpFile;
  DWORD dwHelpContext;
  void* pvReserved;
  HRESULT (*pfnDeferredFillIn)(EXCEPINFO*);
  SCODE scode;
};

inline constexpr WORD DISPATCH_METHOD = 1;
inline constexpr WORD DISPATCH_PROPERTYGET = 2;
inline constexpr DISPID DISPID_UNKNOWN = -1;
inline constexpr DISPID DISPID_PROPERTYPUT = -3;
inline constexpr LCID LOCALE_SYSTEM_DEFAULT = 0x0800;
inline constexpr DWORD CLSCTX_INPROC_SERVER = 1;
inline constexpr DWORD CLSCTX_LOCAL_SERVER = 4;
inline constexpr UINT CP_ACP = 0;
inline constexpr UINT CP_UTF8 = 65001;  // the same as CP_ACP here
inline constexpr DWORD MB_PRECOMPOSED = 1;

// Interfaces. No virtual destructors: a destructor would take table slots
// and shift every method away from its COM position.
// NOLINTBEGIN(cppcoreguidelines-virtual-class-destructor)
struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;

 protected:
  IUnknown() = default;
  ~IUnknown() = default;
  IUnknown(const IUnknown&) = default;
  IUnknown& operator=(const IUnknown&) = default;
};

struct IDispatch : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                  LCID lcid, DISPID* ids) = 0;
  virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID riid, LCID lcid, WORD flags,
                                           DISPPARAMS* params, VARIANT* result,
                                           EXCEPINFO* excepInfo, UINT* argErr) = 0;

 protected:
  IDispatch() = default;
  ~IDispatch() = default;
  IDispatch(const IDispatch&) = default;
  IDispatch& operator=(const IDispatch&) = default;
};

struct IEnumVARIANT : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) = 0;
  virtual HRESULT STDMETHODCALLTYPE Skip(ULONG count) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
  virtual HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) = 0;

 protected:
  IEnumVARIANT() = default;
  ~IEnumVARIANT() = default;
  IEnumVARIANT(const IEnumVARIANT&) = default;
  IEnumVARIANT& operator=(const IEnumVARIANT&) = default;
};

struct ISWbemObject;
struct ISWbemSecurity;

// The WMI object set's dual interface: _NewEnum at slot 7, Item at 8, Count at 9.
struct ISWbemObjectSet : IDispatch {
  virtual HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** unknown) = 0;
  virtual HRESULT STDMETHODCALLTYPE Item(BSTR path, LONG flags, ISWbemObject** object) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Count(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE get_Security_(ISWbemSecurity** security) = 0;
  virtual HRESULT STDMETHODCALLTYPE ItemIndex(LONG index, ISWbemObject** object) = 0;

 protected:
  ISWbemObjectSet() = default;
  ~ISWbemObjectSet() = default;
  ISWbemObjectSet(const ISWbemObjectSet&) = default;
  ISWbemObjectSet& operator=(const ISWbemObjectSet&) = default;
};
// NOLINTEND(cppcoreguidelines-virtual-class-destructor)

extern const IID IID_NULL;
extern const IID IID_IUnknown;
extern const IID IID_IDispatch;
extern const IID IID_IEnumVARIANT;

// Strings: length-prefixed UTF-16 with a terminating zero character.
BSTR SysAllocStringByteLen(const char* bytes, UINT byteCount);
BSTR SysAllocStringLen(const OLECHAR* chars, UINT charCount);
void SysFreeString(BSTR text);
UINT SysStringByteLen(BSTR text);

void VariantInit(VARIANT* value);
HRESULT VariantClear(VARIANT* value);
HRESULT VariantCopy(VARIANT* target, const VARIANT* source);

HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid,
                         void** object);
HRESULT CoCreateGuid(GUID* guid);

// The ANSI code page of this platform is UTF-8: every character survives the
// round trip. An invalid UTF-8 byte widens to U+FFFD. The signatures are
// Windows's; the program calls each with a count of at least 1, first to
// measure (no room), then with the room measured, and asks no report of the
// default character's use.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int byteCount, OLECHAR* wide,
                        int wideCount);
int WideCharToMultiByte(UINT codePage, DWORD flags, const OLECHAR* wide, int wideCount, char* text,
                        int byteCount, const char* defaultChar, BOOL* usedDefault);

namespace kelvarin::posix_com {

// What CoCreateInstance asks of a registered class.
using ClassFactoryFn = std::function<HRESULT(REFIID riid, void** object)>;

// Registers (or replaces) a class under a ProgID; CLSIDFromProgID and
// CoCreateInstance then find it. Returns the class identifier assigned to it.
CLSID RegisterClass(const std::u16string& progId, ClassFactoryFn factory);
void UnregisterClass(const std::u16string& progId);

// Strings allocated and not yet freed, so tests can prove that none leaked.
long LiveStringCount() noexcept;

}  // namespace kelvarin::posix_com
