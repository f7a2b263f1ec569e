// Generic objects over the catalog: no class has code of its own, the
// catalog's data decides what each object answers.
#include "wmi_standin/standin.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <utility>

#include "automation/com_ptr.h"
#include "wmi_standin/catalog.h"
#include "wmi_standin/com_server.h"
#include "wmi_standin/firmware_file.h"

namespace kelvarin::wmi_standin {
namespace {

using com::DispatchBase;
using com::MemberIs;

constexpr HRESULT kWbemInvalidParameter = MakeHresult(0x80041008U);

std::string ArgumentText(const DISPPARAMS& params, UINT index) {
  const VARIANT* v = com::PositionalArgument(params, index);
  return v == nullptr ? std::string() : VariantToText(*v);
}

// What a query found: its class's objects, and which properties it selected
// (bit i for property i); the catalog stays alive as long as any of them.
struct QueryResult {
  std::shared_ptr<const Catalog> catalog;
  const ClassData* cls = nullptr;
  unsigned selected = 0;
};

// One object of a class: its properties, those not selected reading as NULL.
class WmiObject final : public DispatchBase<> {
 public:
  WmiObject(QueryResult result, std::size_t instance)
      : result_(std::move(result)), instance_(instance) {}

 protected:
  DISPID FindMember(com::MemberName name) override {
    const auto& names = result_.cls->properties;
    const auto found = std::ranges::find_if(names, [&](auto n) { return MemberIs(name, n); });
    return found == names.end() ? DISPID_UNKNOWN : static_cast<DISPID>(found - names.begin());
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS&, VARIANT* result) override {
    if (!com::IsRead(flags)) return DISP_E_MEMBERNOTFOUND;
    const auto index = static_cast<std::size_t>(id);
    const PropertyValue& value = result_.cls->instances[instance_][index];
    com::SetTextResult(result, (result_.selected >> index & 1U) != 0 ? value : std::nullopt);
    return S_OK;
  }

 private:
  QueryResult result_;
  std::size_t instance_;
};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(QueryResult result) : result_(std::move(result)) {}

  HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* items, ULONG* fetched) override {
    ULONG done = 0;
    for (; done < count && position_ < result_.cls->instances.size(); ++done) {
      VariantInit(&items[done]);
      items[done].vt = VT_DISPATCH;
      items[done].pdispVal = new WmiObject(result_, position_++);
    }
    if (fetched != nullptr) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Reset() override {
    position_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  QueryResult result_;
  std::size_t position_ = 0;
};

class ObjectSet final : public com::ObjectSetBase {
 public:
  explicit ObjectSet(QueryResult result) : result_(std::move(result)) {}

  HRESULT STDMETHODCALLTYPE get__NewEnum(IUnknown** unknown) override {
    *unknown = new Enumerator(result_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Count(LONG* count) override {
    *count = static_cast<LONG>(result_.cls->instances.size());
    return S_OK;
  }

 private:
  QueryResult result_;
};

class Security final : public DispatchBase<> {
 protected:
  static constexpr DISPID kImpersonationLevel = 1;
  DISPID FindMember(com::MemberName name) override {
    return MemberIs(name, "IMPERSONATIONLEVEL") ? kImpersonationLevel : DISPID_UNKNOWN;
  }
  // Only written: levels 1 (anonymous) to 4 (delegate) are levels.
  HRESULT InvokeMember(DISPID, WORD flags, const DISPPARAMS& params, VARIANT*) override {
    const VARIANT* value = com::PutValue(params);
    if ((flags & DISPATCH_PROPERTYPUT) == 0 || value == nullptr) return DISP_E_MEMBERNOTFOUND;
    const double level = VariantToNumber(*value);
    return level >= 1 && level <= 4 && level == static_cast<int>(level) ? S_OK
                                                                        : kWbemInvalidParameter;
  }
};

// What "SELECT a, b FROM c" asks for (keywords in any case): the class and
// the bits of the properties selected, all of them for "*".
struct Selection {
  HRESULT result = kWbemInvalidQuery;
  const ClassData* cls = nullptr;
  unsigned properties = 0;
};

Selection ParseSelect(const Catalog& catalog, std::string_view wql) {
  // Words, with each comma a word of its own.
  std::array<std::string_view, 16> words;
  std::size_t count = 0;
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  for (std::size_t at = 0; at < wql.size();) {
    std::size_t end = at + 1;
    if (blank(wql[at])) {
      at = end;
      continue;
    }
    while (wql[at] != ',' && end < wql.size() && !blank(wql[end]) && wql[end] != ',') ++end;
    if (count == words.size()) return {};
    words[count++] = wql.substr(at, end - at);
    at = end;
  }
  // SELECT item (, item)* FROM class: items at odd places, commas between.
  if (count < 4 || count % 2 != 0 || !EqualsIgnoringAsciiCase(words[0], "SELECT") ||
      !EqualsIgnoringAsciiCase(words[count - 2], "FROM")) {
    return {};
  }
  Selection selection{kWbemInvalidClass, FindClass(catalog, words[count - 1])};
  if (selection.cls == nullptr) return selection;
  if (count == 4 && words[1] == "*") return {S_OK, selection.cls, ~0U};
  const auto& names = selection.cls->properties;
  for (std::size_t i = 1; i + 2 < count; i += 2) {
    const auto found = std::ranges::find_if(
        names, [&](std::string_view name) { return EqualsIgnoringAsciiCase(name, words[i]); });
    if ((i > 1 && words[i - 1] != ",") || found == names.end()) return {};
    selection.properties |= 1U << static_cast<unsigned>(found - names.begin());
  }
  selection.result = S_OK;
  return selection;
}

class Services final : public DispatchBase<> {
 public:
  explicit Services(std::shared_ptr<const Catalog> catalog) : catalog_(std::move(catalog)) {}

 protected:
  static constexpr DISPID kSecurity = 1;
  static constexpr DISPID kExecQuery = 2;
  DISPID FindMember(com::MemberName name) override {
    if (MemberIs(name, "SECURITY_")) return kSecurity;
    return MemberIs(name, "EXECQUERY") ? kExecQuery : DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    if (!com::IsRead(flags)) return DISP_E_MEMBERNOTFOUND;
    if (id == kSecurity) {
      com::SetObjectResult(result, ComPtr<IDispatch>::Attach(new Security()).get());
      return S_OK;
    }
    const Selection query = ParseSelect(*catalog_, ArgumentText(params, 0));
    if (query.result != S_OK) return query.result;
    const QueryResult found{catalog_, query.cls, query.properties};
    com::SetObjectResult(result, ComPtr<IDispatch>::Attach(new ObjectSet(found)).get());
    return S_OK;
  }

 private:
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

class Locator final : public DispatchBase<> {
 public:
  explicit Locator(NativePath sysRoot) : sysRoot_(std::move(sysRoot)) {}

 protected:
  static constexpr DISPID kConnectServer = 1;
  DISPID FindMember(com::MemberName name) override {
    return MemberIs(name, "CONNECTSERVER") ? kConnectServer : DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    const std::string nameSpace = ArgumentText(params, 1);
    if (!nameSpace.empty() && !EqualsIgnoringAsciiCase(nameSpace, "root\\CIMV2")) {
      return kWbemInvalidNamespace;
    }
    // No remote transport in this build: any other host is out of reach.
    if (!IsLocalHost(ArgumentText(params, 0), OwnHostName())) return kRpcServerUnavailable;
    if (!ArgumentText(params, 2).empty()) return kWbemLocalCredentials;
    auto catalog = std::make_shared<const Catalog>(LoadCatalog(sysRoot_));
    com::SetObjectResult(result, ComPtr<IDispatch>::Attach(new Services(std::move(catalog))).get());
    return S_OK;
  }

 private:
  NativePath sysRoot_;
};

}  // namespace

bool IsLocalHost(std::string_view server, std::string_view ownName) {
  // Upper-cased as the command line upper-cases a host, which changes bytes
  // inside UTF-8 characters: this machine's name must change the same way.
  const std::string upper = UpperCase(server);
  const auto is = [&](std::string_view name) { return upper == UpperCase(name); };
  if (server.empty() || is(".") || is("LOCALHOST") || is("127.0.0.1") || is("::1")) return true;
  // This machine's name, full or up to its first dot; never the other way
  // round, or "vm.other.example" would be this machine on a host named "vm".
  return !ownName.empty() && (is(ownName) || is(ownName.substr(0, ownName.find('.'))));
}

IDispatch* NewStandinLocator(NativePath sysRoot) { return new Locator(std::move(sysRoot)); }

#ifndef _WIN32
void RegisterLocator(NativePath sysRoot) {
  posix_com::RegisterClass(
      u"WbemScripting.SWbemLocator", [sysRoot = std::move(sysRoot)](REFIID iid, void** object) {
        return ComPtr<IDispatch>::Attach(NewStandinLocator(sysRoot))->QueryInterface(iid, object);
      });
}
#endif

}  // namespace kelvarin::wmi_standin
