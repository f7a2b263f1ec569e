#include "fake_wmi.h"

#include <functional>
#include <iterator>

#include "automation/com_object.h"
#include "automation/com_ptr.h"

namespace kelvarin::testing {
namespace {

// One scenario at a time, as there is one class registry; objects read it live.
FakeScenario g_scenario;
std::vector<std::string> g_log;

std::string Describe(const VARIANT& v) {
  switch (v.vt) {
    case VT_BYREF | VT_VARIANT:
      return "ref " + Describe(*v.pvarVal);
    case VT_I4:
      return "I4:" + std::to_string(v.lVal);
    case VT_R8:
      return "R8:" + std::to_string(v.dblVal);
    case VT_BSTR:
      return v.bstrVal == nullptr ? "BSTR:null" : "BSTR:\"" + VariantToText(v) + "\"";
    default:
      return "vt=" + std::to_string(v.vt);
  }
}

using Answer = std::function<HRESULT(WORD kind, const DISPPARAMS& params, VARIANT* result)>;

// A dispatch object whose members are answered by functions; every Invoke is logged.
class Node final : public com::DispatchBase<> {
 public:
  Node(std::string role, std::map<std::string, Answer> members)
      : role_(std::move(role)), members_(std::move(members)) {}

 protected:
  DISPID FindMember(const std::string& name) override {
    const auto at = members_.find(name);
    if (at == members_.end() || g_scenario.missing.count(name) != 0) return DISPID_UNKNOWN;
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

// Hands a new object out through `result`, keeping no reference of our own.
HRESULT Hand(VARIANT* result, IDispatch* object) {
  const auto held = ComPtr<IDispatch>::Attach(object);
  com::SetObjectResult(result, held.get());
  return S_OK;
}

void Store(const std::string& text, VARIANT& v) { TextToVariant(text, v); }
void Store(std::nullptr_t, VARIANT& v) { v.vt = VT_NULL; }
void Store(LONG number, VARIANT& v) { v.vt = VT_I4, v.lVal = number; }
void Store(bool flag, VARIANT& v) { v.vt = VT_BOOL, v.boolVal = flag ? -1 : 0; }

IDispatch* NewItem(const FakeItem& item) {
  std::map<std::string, Answer> members;
  for (const auto& [name, value] : item) {
    members[name] = [&value = value](WORD, const DISPPARAMS&, VARIANT* result) {
      VariantClear(result);
      std::visit([result](const auto& v) { Store(v, *result); }, value);
      return S_OK;
    };
  }
  return new Node("item", std::move(members));
}

class RefusingItem final : public com::ObjectBase<IUnknown> {};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(const FakeClass& c) : class_(c) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG wanted, VARIANT* items, ULONG* fetched) override {
    ULONG done = 0;
    if (fetched != nullptr) *fetched = 0;
    for (; done < wanted && next_ < class_.items.size(); ++done, ++next_) {
      const bool second = next_ == 1;
      if (second && class_.fault == Fault::NextFails) return E_FAIL;
      if (second && class_.fault == Fault::Refuses) {
        items[done].vt = VT_UNKNOWN;
        items[done].punkVal = new RefusingItem();
      } else {
        items[done].vt = VT_DISPATCH;
        items[done].pdispVal = NewItem(class_.items[next_]);
      }
    }
    if (fetched != nullptr) *fetched = done;
    return done == wanted ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    next_ = 0;
    return class_.fault == Fault::ResetFails ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IEnumVARIANT);
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
  DISPID FindMember(const std::string&) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override { return E_FAIL; }

 private:
  const FakeClass& class_;
};

HRESULT ExecQuery(WORD, const DISPPARAMS& params, VARIANT* result) {
  const VARIANT* query = com::PositionalArgument(params, 0);
  const std::string wql = query == nullptr ? "" : VariantToText(*query);
  const FakeClass& c = g_scenario.classes[wql.substr(wql.rfind(' ') + 1)];
  if (c.fault == Fault::QueryFails) return MakeHresult(0x80041017U);  // invalid query
  if (c.fault == Fault::NoObjectSet) return S_OK;
  return Hand(result, new ObjectSet(c));
}

HRESULT GetSecurity(WORD kind, const DISPPARAMS&, VARIANT* result) {
  if (g_scenario.securityOnlyAsMethod && kind != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
  return Hand(result, new Node("security", {{"IMPERSONATIONLEVEL",
                                             [](auto...) { return g_scenario.impersonation; }}}));
}

HRESULT ConnectServer(WORD, const DISPPARAMS&, VARIANT* result) {
  if (g_scenario.connect < 0) return g_scenario.connect;
  Hand(result, new Node("services", {{"EXECQUERY", ExecQuery}, {"SECURITY_", GetSecurity}}));
  return g_scenario.connect;
}

constexpr const char16_t* kProgId = u"WbemScripting.SWbemLocator";

}  // namespace

void InstallFakeWmi(const FakeScenario& scenario) {
  g_scenario = scenario;
  g_log.clear();
  if (scenario.creation == REGDB_E_CLASSNOTREG) return UninstallFakeWmi();
  posix_com::RegisterClass(kProgId, [](REFIID iid, void** object) -> HRESULT {
    if (g_scenario.creation != S_OK) return g_scenario.creation;
    const auto locator =
        ComPtr<IDispatch>::Attach(new Node("locator", {{"CONNECTSERVER", ConnectServer}}));
    return locator->QueryInterface(iid, object);
  });
}

void UninstallFakeWmi() { posix_com::UnregisterClass(kProgId); }

const std::vector<std::string>& FakeWmiLog() { return g_log; }

}  // namespace kelvarin::testing
