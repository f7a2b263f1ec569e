#include "fake_wmi.h"

#include <functional>
#include <iterator>

#include "automation/com_ptr.h"
#include "wmi_standin/com_server.h"

namespace kelvarin::testing {
namespace {

// One scenario at a time, as there is one class registry; objects read it live.
FakeScenario g_scenario;
std::vector<std::string> g_log;

std::string Describe(const VARIANT& v) {
  if (v.vt == (VT_BYREF | VT_VARIANT)) return "ref " + Describe(*v.pvarVal);
  if (v.vt == VT_I4) return "I4:" + std::to_string(v.lVal);
  if (v.vt == VT_R8) return "R8:" + std::to_string(v.dblVal);
  if (v.vt == VT_BSTR && v.bstrVal == nullptr) return "BSTR:null";
  if (v.vt == VT_BSTR) return "BSTR:\"" + VariantToText(v) + "\"";
  return "vt=" + std::to_string(v.vt);
}

using Answer = std::function<HRESULT(WORD kind, const DISPPARAMS& params, VARIANT* result)>;

// Hands a new object out through `result`, keeping no reference of its own.
HRESULT Hand(VARIANT* result, IDispatch* object) {
  com::SetObjectResult(result, ComPtr<IDispatch>::Attach(object).get());
  return S_OK;
}

// A dispatch object whose members are answers; every Invoke is logged.
class Node final : public com::DispatchBase<> {
 public:
  Node(std::string role, std::map<std::string, Answer> members)
      : role_(std::move(role)), members_(std::move(members)) {}

 protected:
  DISPID FindMember(com::MemberName wide) override {
    std::string name;
    for (const char16_t c : wide) name += static_cast<char>(AsciiUpper(c));
    const auto at = members_.find(name);
    if (at == members_.end() || g_scenario.missing.contains(name)) return DISPID_UNKNOWN;
    return static_cast<DISPID>(std::distance(members_.begin(), at) + 1);
  }
  HRESULT InvokeMember(DISPID id, WORD kind, const DISPPARAMS& params, VARIANT* result) override {
    const auto& [name, answer] = *std::next(members_.begin(), id - 1);
    std::string line = role_ + "." + name + " " + std::to_string(kind) + " [";
    for (UINT i = 0; i < params.cArgs; ++i) {
      line += i > 0 ? ", " : "";
      line += i < params.cNamedArgs ? std::to_string(params.rgdispidNamedArgs[i]) + "=" : "";
      line += Describe(params.rgvarg[i]);
    }
    g_log.push_back(line + (result == nullptr ? "] noresult" : "]"));
    return answer(kind, params, result);
  }

 private:
  std::string role_;
  std::map<std::string, Answer> members_;
};

IDispatch* NewItem(const FakeItem& item) {
  std::map<std::string, Answer> members;
  for (const auto& [name, value] : item) {
    members[name] = [&value = value](WORD, const DISPPARAMS&, VARIANT* result) {
      com::SetTextResult(result, value);
      return S_OK;
    };
  }
  return new Node("item", std::move(members));
}

class Plain final : public com::ObjectBase<IUnknown> {};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(const FakeClass& c) : class_(c) {}
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* item, ULONG* fetched) override {
    *fetched = 0;
    const std::size_t at = next_++;
    const Fault fault = class_.fault;
    if (fault == Fault::EmptyFirst && at == 0) return *fetched = 1, S_OK;
    const std::size_t index = fault == Fault::EmptyFirst ? at - 1 : at;
    if (index >= class_.items.size()) return S_FALSE;
    if (index == 1 && fault == Fault::NextFails) return E_FAIL;
    *fetched = 1;
    item->vt = index == 1 && fault == Fault::Refuses ? VT_UNKNOWN : VT_DISPATCH;
    item->punkVal =
        item->vt == VT_UNKNOWN ? static_cast<IUnknown*>(new Plain()) : NewItem(class_.items[index]);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return class_.fault == Fault::ResetFails ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return class_.fault != Fault::NotAnEnumerator && IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  const FakeClass& class_;
  std::size_t next_ = 0;
};

class ObjectSet final : public com::DispatchBase<ISWbemObjectSet> {
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
  HRESULT STDMETHODCALLTYPE Item(BSTR, LONG, ISWbemObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Security_(ISWbemSecurity**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ItemIndex(LONG, ISWbemObject**) override { return E_NOTIMPL; }

 protected:
  DISPID FindMember(com::MemberName) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override { return E_FAIL; }

 private:
  const FakeClass& class_;
};

HRESULT ExecQuery(WORD, const DISPPARAMS& params, VARIANT* result) {
  const std::string wql = VariantToText(*com::PositionalArgument(params, 0));
  const FakeClass& c = g_scenario.classes[wql.substr(wql.rfind(' ') + 1)];
  if (c.fault == Fault::QueryFails) return MakeHresult(0x80041017U);  // invalid query
  return c.fault == Fault::NoObjectSet ? S_OK : Hand(result, new ObjectSet(c));
}

HRESULT Security(WORD kind, const DISPPARAMS&, VARIANT* result) {
  if (g_scenario.securityOnlyAsMethod && kind != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
  return Hand(result, new Node("security", {{"IMPERSONATIONLEVEL",
                                             [](auto...) { return g_scenario.impersonation; }}}));
}

HRESULT ConnectServer(WORD, const DISPPARAMS&, VARIANT* result) {
  if (g_scenario.connect < 0) return g_scenario.connect;
  Hand(result, new Node("services", {{"EXECQUERY", ExecQuery}, {"SECURITY_", Security}}));
  return g_scenario.connect;
}

}  // namespace

void InstallFakeWmi(const FakeScenario& scenario) {
  g_scenario = scenario;
  g_log.clear();
  UninstallFakeWmi();
  if (scenario.creation == REGDB_E_CLASSNOTREG) return;
  posix_com::RegisterClass(u"WbemScripting.SWbemLocator", [](REFIID iid, void** object) {
    if (g_scenario.creation != S_OK) return g_scenario.creation;
    return ComPtr<IDispatch>::Attach(new Node("locator", {{"CONNECTSERVER", ConnectServer}}))
        ->QueryInterface(iid, object);
  });
}

void UninstallFakeWmi() { posix_com::UnregisterClass(u"WbemScripting.SWbemLocator"); }

const std::vector<std::string>& FakeWmiLog() { return g_log; }

}  // namespace kelvarin::testing
