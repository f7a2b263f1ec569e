#include "fake_wmi.h"

#include <memory>
#include <sstream>

#include "automation/com_object.h"
#include "automation/com_ptr.h"

namespace kelvarin::testing {
namespace {

std::vector<std::string>& Log() {
  static std::vector<std::string> log;
  return log;
}

std::string DescribeArgs(const DISPPARAMS& params) {
  std::string out = "args=[";
  for (UINT i = 0; i < params.cArgs; ++i) {
    const VARIANT& v = params.rgvarg[i];
    if (i > 0) out += ", ";
    // Positional arguments arrive by reference: show the tag and what it points at.
    if (v.vt == (VT_BYREF | VT_VARIANT)) {
      out += "ref " + (v.pvarVal == nullptr ? std::string("null") : DescribeVariant(*v.pvarVal));
    } else {
      out += DescribeVariant(v);
    }
  }
  out += "] named=[";
  for (UINT i = 0; i < params.cNamedArgs; ++i) {
    out += (i > 0 ? ", " : "") + std::to_string(params.rgdispidNamedArgs[i]);
  }
  return out + "]";
}

// A dispatch object whose members are a fixed list of names; each call is
// logged under the object's role, then answered by `Answer`.
class LoggedObject : public com::DispatchBase<> {
 public:
  LoggedObject(std::string role, std::vector<std::string> members)
      : role_(std::move(role)), members_(std::move(members)) {}

 protected:
  DISPID FindMember(const std::string& upperName) override {
    Log().push_back(role_ + ".GetIDsOfNames " + upperName);
    for (std::size_t i = 0; i < members_.size(); ++i) {
      if (members_[i] == upperName) return static_cast<DISPID>(i + 1);
    }
    return DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    const std::string& name = members_.at(static_cast<std::size_t>(id - 1));
    Log().push_back(role_ + ".Invoke " + name + " kind=" + std::to_string(flags) + " " +
                    DescribeArgs(params) + (result == nullptr ? " noresult" : ""));
    return Answer(name, flags, params, result);
  }
  virtual HRESULT Answer(const std::string& name, WORD flags, const DISPPARAMS& params,
                         VARIANT* result) = 0;

 private:
  std::string role_;
  std::vector<std::string> members_;
};

class Item final : public LoggedObject {
 public:
  Item(const FakeItem& item, std::string role)
      : LoggedObject(std::move(role), Names(item)), item_(item) {}

 protected:
  HRESULT Answer(const std::string& name, WORD, const DISPPARAMS&, VARIANT* result) override {
    if (result == nullptr) return E_POINTER;
    const FakeValue& value = item_.properties.at(name);
    VariantClear(result);
    switch (value.kind) {
      case FakeValue::Kind::Text:
        TextToVariant(value.text, *result);
        break;
      case FakeValue::Kind::Null:
        result->vt = VT_NULL;
        break;
      case FakeValue::Kind::Number:
        result->vt = VT_I4;
        result->lVal = 42;
        break;
      case FakeValue::Kind::Boolean:
        result->vt = VT_BOOL;
        result->boolVal = -1;
        break;
      case FakeValue::Kind::Empty:
        break;
    }
    return S_OK;
  }

 private:
  static std::vector<std::string> Names(const FakeItem& item) {
    std::vector<std::string> names;
    for (const auto& [name, value] : item.properties) names.push_back(name);
    return names;
  }
  FakeItem item_;
};

// Items hand out IDispatch unless the scenario says they refuse it.
class RefusingItem final : public com::ObjectBase<IUnknown> {};

struct ClassRun {
  std::string name;
  FakeClass data;
};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(std::shared_ptr<const ClassRun> run) : run_(std::move(run)) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    Log().push_back(run_->name + ".enum.Next " + std::to_string(count));
    ULONG done = 0;
    if (fetched != nullptr) *fetched = 0;
    while (done < count && position_ < run_->data.items.size()) {
      if (run_->data.nextFailsAfter && position_ >= *run_->data.nextFailsAfter) return E_FAIL;
      const FakeItem& item = run_->data.items[position_];
      const std::string role = run_->name + "[" + std::to_string(position_) + "]";
      ++position_;
      VariantInit(&items[done]);
      if (item.refusesDispatch) {
        items[done].vt = VT_UNKNOWN;
        items[done].punkVal = new RefusingItem();
      } else {
        items[done].vt = VT_DISPATCH;
        items[done].pdispVal = new Item(item, role);
      }
      ++done;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    Log().push_back(run_->name + ".enum.Reset");
    if (run_->data.resetFails) return E_FAIL;
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
    if (copy != nullptr) *copy = nullptr;
    return E_NOTIMPL;
  }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  std::shared_ptr<const ClassRun> run_;
  std::size_t position_ = 0;
};

class ObjectSet final : public com::DispatchBase<ISWbemObjectSet> {
 public:
  explicit ObjectSet(std::shared_ptr<const ClassRun> run) : run_(std::move(run)) {}

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** unknown) override {
    Log().push_back(run_->name + ".set._NewEnum");
    *unknown = run_->data.noEnumerator ? nullptr : new Enumerator(run_);
    return run_->data.noEnumerator ? E_FAIL : S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(BSTR, LONG, ISWbemObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Security_(ISWbemSecurity**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE ItemIndex(LONG, ISWbemObject**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    Log().push_back(run_->name + ".set.Count");
    *count = run_->data.announcedCount.value_or(static_cast<LONG>(run_->data.items.size()));
    return S_OK;
  }

 protected:
  DISPID FindMember(const std::string&) override { return DISPID_UNKNOWN; }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS&, VARIANT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  std::shared_ptr<const ClassRun> run_;
};

class Security final : public LoggedObject {
 public:
  explicit Security(HRESULT answer)
      : LoggedObject("security", {"IMPERSONATIONLEVEL"}), answer_(answer) {}

 protected:
  HRESULT Answer(const std::string&, WORD, const DISPPARAMS&, VARIANT*) override { return answer_; }

 private:
  HRESULT answer_;
};

class Services final : public LoggedObject {
 public:
  explicit Services(std::shared_ptr<const FakeScenario> scenario)
      : LoggedObject("services", scenario->securityMissing
                                     ? std::vector<std::string>{"EXECQUERY"}
                                     : std::vector<std::string>{"EXECQUERY", "SECURITY_"}),
        scenario_(std::move(scenario)) {}

 protected:
  HRESULT Answer(const std::string& name, WORD flags, const DISPPARAMS& params,
                 VARIANT* result) override {
    if (name == "SECURITY_") {
      if (scenario_->securityOnlyAsMethod && flags != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
      const auto security = ComPtr<IDispatch>::Attach(new Security(scenario_->impersonationResult));
      com::SetObjectResult(result, security.get());
      return S_OK;
    }
    const VARIANT* query = com::PositionalArgument(params, 0);
    const std::string wql = query == nullptr ? "" : VariantToText(*query);
    const std::string cls = wql.substr(wql.rfind(' ') + 1);
    const auto found = scenario_->classes.find(cls);
    if (found == scenario_->classes.end()) return MakeHresult(0x80041010U);
    if (found->second.execQueryResult != S_OK) return found->second.execQueryResult;
    if (found->second.execReturnsNothing) return S_OK;
    auto run = std::make_shared<const ClassRun>(ClassRun{cls, found->second});
    const auto set = ComPtr<IDispatch>::Attach(new ObjectSet(std::move(run)));
    com::SetObjectResult(result, set.get());
    return S_OK;
  }

 private:
  std::shared_ptr<const FakeScenario> scenario_;
};

class Locator final : public LoggedObject {
 public:
  explicit Locator(std::shared_ptr<const FakeScenario> scenario)
      : LoggedObject("locator", scenario->connectLookupFails
                                    ? std::vector<std::string>{}
                                    : std::vector<std::string>{"CONNECTSERVER"}),
        scenario_(std::move(scenario)) {}

 protected:
  HRESULT Answer(const std::string&, WORD, const DISPPARAMS&, VARIANT* result) override {
    if (scenario_->connectResult < 0) return scenario_->connectResult;
    const auto services = ComPtr<IDispatch>::Attach(new Services(scenario_));
    com::SetObjectResult(result, services.get());
    return scenario_->connectResult;
  }

 private:
  std::shared_ptr<const FakeScenario> scenario_;
};

constexpr const char16_t* kProgId = u"WbemScripting.SWbemLocator";

}  // namespace

void InstallFakeWmi(const FakeScenario& scenario) {
  Log().clear();
  if (!scenario.locatorRegistered) {
    posix_com::UnregisterClass(kProgId);
    return;
  }
  auto shared = std::make_shared<const FakeScenario>(scenario);
  posix_com::RegisterClass(kProgId, [shared](REFIID iid, void** object) -> HRESULT {
    Log().emplace_back("factory");
    if (shared->locatorCreation != S_OK) return shared->locatorCreation;
    const auto locator = ComPtr<IDispatch>::Attach(new Locator(shared));
    return locator->QueryInterface(iid, object);
  });
}

void UninstallFakeWmi() { posix_com::UnregisterClass(kProgId); }

const std::vector<std::string>& FakeWmiLog() { return Log(); }

std::string DescribeVariant(const VARIANT& v) {
  std::ostringstream out;
  switch (v.vt) {
    case VT_EMPTY:
      return "EMPTY";
    case VT_NULL:
      return "NULL";
    case VT_I4:
      out << "I4:" << v.lVal;
      break;
    case VT_R8:
      out << "R8:" << v.dblVal;
      break;
    case VT_BSTR:
      if (v.bstrVal == nullptr) return "BSTR:null";
      out << "BSTR:\"" << VariantToText(v) << "\"";
      break;
    case VT_DISPATCH:
      return v.pdispVal == nullptr ? "DISPATCH:null" : "DISPATCH";
    default:
      out << "vt=" << v.vt;
      break;
  }
  return out.str();
}

}  // namespace kelvarin::testing
