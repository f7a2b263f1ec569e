// Generic objects over the catalog: no class has code of its own, the
// catalog's data decides what each object answers.
#include "automation/posix/wmi/standin.h"

#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "automation/com_object.h"
#include "automation/com_ptr.h"

namespace kelvarin::wmi_standin {
namespace {

using com::DispatchBase;

constexpr HRESULT kWbemInvalidParameter = Hresult(0x80041008U);
constexpr bool IsGet(WORD flags) { return (flags & (DISPATCH_PROPERTYGET | DISPATCH_METHOD)) != 0; }

std::string Upper(std::string_view text) {
  std::string out(text);
  for (auto& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string ArgumentText(const DISPPARAMS& params, UINT index) {
  const VARIANT* v = com::PositionalArgument(params, index);
  return v == nullptr ? std::string() : VariantToText(*v);
}

// One object of a class: its properties, those not selected reading as NULL.
class WmiObject final : public DispatchBase<> {
 public:
  WmiObject(std::shared_ptr<const ClassData> cls, std::size_t instance,
            std::shared_ptr<const std::vector<bool>> selected)
      : class_(std::move(cls)), instance_(instance), selected_(std::move(selected)) {}

 protected:
  DISPID FindMember(const std::string& upperName) override {
    const auto& properties = class_->instances[instance_].properties;
    for (std::size_t i = 0; i < properties.size(); ++i) {
      if (EqualsIgnoringAsciiCase(properties[i].name, upperName)) {
        return static_cast<DISPID>(i + 1);
      }
    }
    return DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS&, VARIANT* result) override {
    const auto& properties = class_->instances[instance_].properties;
    if (id < 1 || static_cast<std::size_t>(id) > properties.size()) return DISP_E_MEMBERNOTFOUND;
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    const auto index = static_cast<std::size_t>(id - 1);
    com::SetTextResult(result, (*selected_)[index] ? properties[index].value : std::nullopt);
    return S_OK;
  }

 private:
  std::shared_ptr<const ClassData> class_;
  std::size_t instance_;
  std::shared_ptr<const std::vector<bool>> selected_;
};

struct QueryResult {
  std::shared_ptr<const ClassData> cls;
  std::shared_ptr<const std::vector<bool>> selected;

  [[nodiscard]] IDispatch* MakeObject(std::size_t instance) const {
    return new WmiObject(cls, instance, selected);
  }
};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(QueryResult result, std::size_t position = 0)
      : result_(std::move(result)), position_(position) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    if (items == nullptr && count > 0) return E_POINTER;
    ULONG done = 0;
    while (done < count && position_ < Size()) {
      VariantInit(&items[done]);
      items[done].vt = VT_DISPATCH;
      items[done].pdispVal = result_.MakeObject(position_++);
      ++done;
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
    const std::size_t left = Size() - position_;
    position_ += std::min<std::size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override {
    if (copy == nullptr) return E_POINTER;
    *copy = new Enumerator(result_, position_);
    return S_OK;
  }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  [[nodiscard]] std::size_t Size() const { return result_.cls->instances.size(); }
  QueryResult result_;
  std::size_t position_;
};

class ObjectSet final : public DispatchBase<ISWbemObjectSet> {
 public:
  explicit ObjectSet(QueryResult result) : result_(std::move(result)) {}

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** unknown) override {
    if (unknown == nullptr) return E_POINTER;
    *unknown = new Enumerator(result_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Item(BSTR, LONG, ISWbemObject** object) override {
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Security_(ISWbemSecurity** security) override {
    if (security != nullptr) *security = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE ItemIndex(LONG, ISWbemObject** object) override {
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<LONG>(result_.cls->instances.size());
    return S_OK;
  }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_ISWbemObjectSet);
  }
  DISPID FindMember(const std::string& upperName) override {
    if (upperName == "COUNT") return 1;
    if (upperName == "_NEWENUM") return DISPID_NEWENUM;
    return DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS&, VARIANT* result) override {
    if (!IsGet(flags) || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    if (id == 1) {
      VariantClear(result);
      result->vt = VT_I4;
      return get_Count(&result->lVal);
    }
    if (id == DISPID_NEWENUM) {
      VariantClear(result);
      result->vt = VT_UNKNOWN;
      return get__NewEnum(&result->punkVal);
    }
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  QueryResult result_;
};

class Security final : public DispatchBase<> {
 protected:
  DISPID FindMember(const std::string& upperName) override {
    return upperName == "IMPERSONATIONLEVEL" ? 1 : DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    if (id != 1) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_PROPERTYPUT) != 0) {
      const VARIANT* value = com::PutValue(params);
      if (value == nullptr) return DISP_E_PARAMNOTFOUND;
      const double level = VariantToNumber(*value);
      if (level < 1 || level > 4 || level != static_cast<double>(static_cast<LONG>(level))) {
        return kWbemInvalidParameter;
      }
      level_ = static_cast<LONG>(level);
      return S_OK;
    }
    if (!IsGet(flags) || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    VariantClear(result);
    result->vt = VT_I4;
    result->lVal = level_;
    return S_OK;
  }

 private:
  LONG level_ = 3;
};

// Splits "SELECT a, b FROM c" (keywords in any case) into the list and the class.
bool ParseSelect(std::string_view wql, std::vector<std::string>& list, std::string& cls) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : wql) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',') {
      if (!word.empty()) words.push_back(std::exchange(word, {}));
      if (c == ',') words.emplace_back(",");
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(word);
  // SELECT item (, item)* FROM class
  if (words.size() < 4 || Upper(words[0]) != "SELECT") return false;
  std::size_t i = 1;
  for (;;) {
    if (i >= words.size() || words[i] == "," || Upper(words[i]) == "FROM") return false;
    list.push_back(words[i++]);
    if (i < words.size() && words[i] == ",") {
      ++i;
      continue;
    }
    break;
  }
  if (i + 2 != words.size() || Upper(words[i]) != "FROM") return false;
  cls = words[i + 1];
  return !(list.size() > 1 && std::find(list.begin(), list.end(), "*") != list.end());
}

class Services final : public DispatchBase<> {
 public:
  explicit Services(std::shared_ptr<const Catalog> catalog) : catalog_(std::move(catalog)) {}

 protected:
  DISPID FindMember(const std::string& upperName) override {
    if (upperName == "SECURITY_") return 1;
    if (upperName == "EXECQUERY") return 2;
    return DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    if (!IsGet(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == 1) {
      ComPtr<IDispatch> security = ComPtr<IDispatch>::Attach(new Security());
      com::SetObjectResult(result, security.get());
      return S_OK;
    }
    if (id == 2) return ExecQuery(ArgumentText(params, 0), result);
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  HRESULT ExecQuery(const std::string& wql, VARIANT* result) {
    std::vector<std::string> list;
    std::string className;
    if (!ParseSelect(wql, list, className)) return kWbemInvalidQuery;
    const ClassData* cls = FindClass(*catalog_, className);
    if (cls == nullptr) return kWbemInvalidClass;
    const auto names = PropertyNames(cls->name);
    auto selected = std::make_shared<std::vector<bool>>(names.size(), list[0] == "*");
    if (list[0] != "*") {
      for (const auto& wanted : list) {
        const auto found = std::find_if(names.begin(), names.end(), [&](const std::string& n) {
          return EqualsIgnoringAsciiCase(n, wanted);
        });
        if (found == names.end()) return kWbemInvalidQuery;
        (*selected)[static_cast<std::size_t>(found - names.begin())] = true;
      }
    }
    // The set shares the catalog; the class data is aliased, not copied.
    std::shared_ptr<const ClassData> shared(catalog_, cls);
    ComPtr<IDispatch> set = ComPtr<IDispatch>::Attach(
        new ObjectSet(QueryResult{std::move(shared), std::move(selected)}));
    com::SetObjectResult(result, set.get());
    return S_OK;
  }

  std::shared_ptr<const Catalog> catalog_;
};

std::string OwnHostName() {
  char name[256] = {};
#ifdef _WIN32
  DWORD size = sizeof name;
  if (GetComputerNameExA(ComputerNameDnsFullyQualified, name, &size) == 0) return {};
#else
  if (::gethostname(name, sizeof name - 1) != 0) return {};
#endif
  return name;
}

}  // namespace

bool IsLocalHost(std::string_view server, std::string_view ownName) {
  const std::string host = Upper(server);
  if (host.empty() || host == "." || host == "LOCALHOST" || host == "127.0.0.1" || host == "::1") {
    return true;
  }
  // This machine's name, full or up to its first dot; never the other way
  // round, or "vm.other.example" would be this machine on a host named "vm".
  const std::string own = Upper(ownName);
  return !own.empty() && (host == own || host == own.substr(0, own.find('.')));
}

namespace {

class Locator final : public DispatchBase<> {
 public:
  explicit Locator(std::filesystem::path sysRoot) : sysRoot_(std::move(sysRoot)) {}

 protected:
  DISPID FindMember(const std::string& upperName) override {
    return upperName == "CONNECTSERVER" ? 1 : DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    if (id != 1 || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    const std::string server = ArgumentText(params, 0);
    const std::string nameSpace = Upper(ArgumentText(params, 1));
    const std::string user = ArgumentText(params, 2);
    if (!nameSpace.empty() && nameSpace != "ROOT\\CIMV2") return kWbemInvalidNamespace;
    // No remote transport in this build: any other host is out of reach.
    if (!IsLocalHost(server, OwnHostName())) return kRpcServerUnavailable;
    if (!user.empty()) return kWbemLocalCredentials;
    auto catalog = std::make_shared<const Catalog>(LoadCatalog(sysRoot_));
    ComPtr<IDispatch> services = ComPtr<IDispatch>::Attach(new Services(std::move(catalog)));
    com::SetObjectResult(result, services.get());
    return S_OK;
  }

 private:
  std::filesystem::path sysRoot_;
};

}  // namespace

IDispatch* CreateLocator(const std::filesystem::path& sysRoot) { return new Locator(sysRoot); }

#ifndef _WIN32
void RegisterLocator(const std::filesystem::path& sysRoot) {
  posix_com::RegisterClass(u"WbemScripting.SWbemLocator", [sysRoot](REFIID iid, void** object) {
    const ComPtr<IDispatch> locator = ComPtr<IDispatch>::Attach(CreateLocator(sysRoot));
    return locator->QueryInterface(iid, object);
  });
}
#endif

}  // namespace kelvarin::wmi_standin
