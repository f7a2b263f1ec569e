// A scriptable WMI: locator, services, security object, object sets,
// enumerators and items that behave as a scenario says and log every call
// made through IDispatch.
#pragma once

#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "automation/com_ptr.h"
#include "wmi_standin/com_server.h"

namespace kelvarin::testing {

// An object's properties by upper-case name (nullopt is NULL); other names
// are unknown to it.
using FakeItem = std::map<std::string, std::optional<std::string>>;

// What goes wrong with a class. NoSet answers the query with text in place
// of the set; NextFails and Refuses strike at the second item; TextFirst
// delivers text ("42") before the items and a number (42) after them.
// clang-format off
enum class Fault { None, QueryFails, NoSet, NoEnumerator, NotEnumerator, ResetFails, NextFails,
                   Refuses, TextFirst };
// clang-format on

struct FakeClass {
  std::vector<FakeItem> items;
  Fault fault = Fault::None;
  std::optional<LONG> count = {};  // what Count answers, when not the number of items
};

struct FakeScenario {
  std::optional<HRESULT> creation = S_OK;  // the class factory's answer; none: not registered
  HRESULT connect = S_OK;                  // ConnectServer's answer; services come with any success
  std::set<std::string> missing = {};      // members no object knows, e.g. "SECURITY_"
  bool securityByMethodOnly = false;       // SECURITY_ read as a property fails
  std::map<std::string, FakeClass> classes = {};  // by the query's last word
};

// One scenario at a time, as there is one class registry; objects read it live.
inline FakeScenario g_scenario;
// One line per Invoke: role, member, dispatch kind, the arguments as passed
// (named ones as `ID=value`), and ` noresult` when there was no place for one,
// e.g. `security.IMPERSONATIONLEVEL 4 [-3=I4:3] noresult`; each ends in '|'.
inline std::string g_log;

inline std::string Describe(const VARIANT& v) {
  if (v.vt == (VT_BYREF | VT_VARIANT)) return "ref " + Describe(*v.pvarVal);
  if (v.vt == VT_I4) return "I4:" + std::to_string(v.lVal);
  if (v.vt == VT_R8) return "R8:" + std::to_string(v.dblVal);
  if (v.vt != VT_BSTR) return "VT" + std::to_string(v.vt);
  return v.bstrVal == nullptr ? "BSTR:null" : "BSTR:\"" + VariantToText(v) + "\"";
}

// Hands a new object out through the empty `result`, keeping no reference of its own.
inline HRESULT Hand(VARIANT* result, IUnknown* object, VARTYPE vt = VT_DISPATCH) {
  result->vt = vt, result->punkVal = object;
  return S_OK;
}

using Answer = std::function<HRESULT(WORD kind, const DISPPARAMS& params, VARIANT* result)>;

// A dispatch object whose members are answers; every Invoke is logged.
class Node final : public com::DispatchBase<> {
 public:
  Node(std::string role, std::map<std::string, Answer> members)
      : role_(std::move(role)), members_(std::move(members)) {}

 protected:
  DISPID FindMember(com::MemberName wide) override {
    const std::string name = UpperCase(std::string(wide.begin(), wide.end()));
    const auto at = members_.find(name);
    if (at == members_.end() || g_scenario.missing.contains(name)) return DISPID_UNKNOWN;
    return static_cast<DISPID>(std::distance(members_.begin(), at));
  }
  HRESULT InvokeMember(DISPID id, WORD kind, const DISPPARAMS& params, VARIANT* result) override {
    const auto& [name, answer] = *std::next(members_.begin(), id);
    g_log += role_ + "." + name + " " + std::to_string(kind) + " [";
    for (UINT i = 0; i < params.cArgs; ++i) {
      g_log += i > 0 ? ", " : "";
      g_log += i < params.cNamedArgs ? std::to_string(params.rgdispidNamedArgs[i]) + "=" : "";
      g_log += Describe(params.rgvarg[i]);
    }
    g_log += result == nullptr ? "] noresult|" : "]|";
    return answer(kind, params, result);
  }

 private:
  std::string role_;
  std::map<std::string, Answer> members_;
};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(const FakeClass& c) : class_(c) {}
  // One item at a time, as the program asks.
  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* item, ULONG* fetched) override {
    const Fault fault = class_.fault;
    const std::size_t at = next_++ - (fault == Fault::TextFirst ? 1 : 0);
    const bool extra = fault == Fault::TextFirst && (at == SIZE_MAX || at == class_.items.size());
    *fetched = wanted == 1 && (at < class_.items.size() || extra) ? 1 : 0;
    if (at == SIZE_MAX) TextToVariant("42", *item);
    if (extra && at != SIZE_MAX) item->vt = VT_I4, item->lVal = 42;
    if (extra || *fetched == 0) return *fetched == 1 ? S_OK : S_FALSE;
    if (at == 1 && fault == Fault::NextFails) return E_FAIL;
    if (at == 1 && fault == Fault::Refuses) return Hand(item, new Enumerator(class_), 13);
    std::map<std::string, Answer> members;
    for (const auto& [name, value] : class_.items[at]) {
      members[name] = [&value = value](WORD, const DISPPARAMS&, VARIANT* result) {
        com::SetTextResult(result, value);
        return S_OK;
      };
    }
    return Hand(item, new Node("item", std::move(members)));
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return class_.fault == Fault::ResetFails ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return class_.fault != Fault::NotEnumerator && IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  const FakeClass& class_;
  std::size_t next_ = 0;
};

class ObjectSet final : public com::ObjectSetBase {
 public:
  explicit ObjectSet(const FakeClass& c) : class_(c) {}
  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** unknown) override {
    *unknown = class_.fault == Fault::NoEnumerator ? nullptr : new Enumerator(class_);
    return *unknown == nullptr ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = class_.count.value_or(static_cast<LONG>(class_.items.size()));
    return S_OK;
  }

 private:
  const FakeClass& class_;
};

// Registers the scenario under "WbemScripting.SWbemLocator" and clears the log.
inline void InstallFakeWmi(const FakeScenario& scenario) {
  g_scenario = scenario;
  g_log.clear();
  posix_com::UnregisterClass(u"WbemScripting.SWbemLocator");
  const Answer query = [](WORD, const DISPPARAMS& params, VARIANT* result) {
    const std::string wql = VariantToText(*com::PositionalArgument(params, 0));
    const FakeClass& c = g_scenario.classes[wql.substr(wql.rfind(' ') + 1)];
    if (c.fault == Fault::QueryFails) return MakeHresult(0x80041017U);  // invalid query
    if (c.fault == Fault::NoSet) TextToVariant(wql, *result);
    return c.fault == Fault::NoSet ? S_OK : Hand(result, new ObjectSet(c));
  };
  const Answer level = [](auto...) { return E_FAIL; };  // which the program never looks at
  const Answer security = [=](WORD kind, const DISPPARAMS&, VARIANT* result) {
    if (g_scenario.securityByMethodOnly && kind != DISPATCH_METHOD) return E_FAIL;
    return Hand(result, new Node("security", {{"IMPERSONATIONLEVEL", level}}));
  };
  const Answer connect = [=](WORD, const DISPPARAMS&, VARIANT* result) {
    if (g_scenario.connect >= 0)
      Hand(result, new Node("services", {{"EXECQUERY", query}, {"SECURITY_", security}}));
    return g_scenario.connect;
  };
  if (!scenario.creation) return;
  posix_com::RegisterClass(u"WbemScripting.SWbemLocator", [=](REFIID iid, void** object) {
    if (*g_scenario.creation != S_OK) return *g_scenario.creation;
    return ComPtr<IDispatch>::Attach(new Node("locator", {{"CONNECTSERVER", connect}}))
        ->QueryInterface(iid, object);
  });
}

}  // namespace kelvarin::testing
