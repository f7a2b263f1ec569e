// Generic objects over the catalog: no class has code of its own, the
// catalog's data decides what each object answers.
#include "wmi_standin/standin.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "automation/com_ptr.h"
#include "wmi_standin/catalog.h"
#include "wmi_standin/com_server.h"
#include "wmi_standin/firmware_file.h"
#include "wmi_standin/snapshot.h"

namespace kelvarin::wmi_standin {
namespace {

using com::DispatchBase;
using com::MemberIs;

std::string ArgumentText(const DISPPARAMS& params, UINT index) {
  const VARIANT* v = com::PositionalArgument(params, index);
  return v == nullptr ? std::string() : VariantToText(*v);
}

// What a query found: its class's objects; the catalog stays alive as long
// as any of them.
struct QueryResult {
  std::shared_ptr<const Catalog> catalog;
  const ClassData* cls = nullptr;
};

// One object of a class: its properties.
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
  // The program only reads properties.
  HRESULT InvokeMember(DISPID id, WORD, const DISPPARAMS&, VARIANT* result) override {
    const auto index = static_cast<std::size_t>(id);
    const PropertyValue& value = result_.cls->instances[instance_][index];
    com::SetTextResult(result, value);
    return S_OK;
  }

 private:
  QueryResult result_;
  std::size_t instance_;
};

class Enumerator final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Enumerator(QueryResult result) : result_(std::move(result)) {}

  // The program asks for one item at a time.
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* item, ULONG* fetched) override {
    *fetched = position_ < result_.cls->instances.size() ? 1 : 0;
    if (*fetched == 0) return S_FALSE;
    item->vt = VT_DISPATCH;
    item->pdispVal = new WmiObject(result_, position_++);
    return S_OK;
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

class Services final : public DispatchBase<> {
 public:
  explicit Services(std::shared_ptr<const Catalog> catalog) : catalog_(std::move(catalog)) {}

 protected:
  // No Security_ object: one machine's own firmware needs no impersonation,
  // and the program goes on without one.
  static constexpr DISPID kExecQuery = 1;
  DISPID FindMember(com::MemberName name) override {
    return MemberIs(name, "EXECQUERY") ? kExecQuery : DISPID_UNKNOWN;
  }
  // The program's queries are "SELECT ... FROM class": the class is the last
  // word. Every property of the class can be read, selected or not.
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS& params, VARIANT* result) override {
    const std::string wql = ArgumentText(params, 0);
    const ClassData* cls = FindClass(*catalog_, std::string_view(wql).substr(wql.rfind(' ') + 1));
    if (cls == nullptr) return kWbemInvalidClass;
    const QueryResult found{catalog_, cls};
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
  Locator(NativePath sysRoot, RemoteFetch fetch)
      : sysRoot_(std::move(sysRoot)), fetch_(std::move(fetch)) {}

 protected:
  static constexpr DISPID kConnectServer = 1;
  DISPID FindMember(com::MemberName name) override {
    return MemberIs(name, "CONNECTSERVER") ? kConnectServer : DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID, WORD, const DISPPARAMS& params, VARIANT* result) override {
    const std::string server = ArgumentText(params, 0), user = ArgumentText(params, 2);
    std::optional<Catalog> catalog;
    if (NamesThisMachine(server)) {
      if (!user.empty()) return kWbemLocalCredentials;
      catalog = LoadCatalog(LocalFiles(sysRoot_));
    } else {
      catalog = RemoteCatalog(
          {server, user, ArgumentText(params, 3), ArgumentText(params, 5), {}, kMaxSnapshotBytes});
    }
    // Whatever kept another machine's files from us, it is out of reach.
    if (!catalog) return kRpcServerUnavailable;
    auto shared = std::make_shared<const Catalog>(*std::move(catalog));
    com::SetObjectResult(result, ComPtr<IDispatch>::Attach(new Services(std::move(shared))).get());
    return S_OK;
  }

 private:
  // Another machine's catalog, read from the snapshot its shell sends.
  std::optional<Catalog> RemoteCatalog(RemoteRequest request) const {
    const std::string script = SnapshotScript(CatalogFiles(), CatalogFolders());
    request.script = script;
    std::optional<Catalog> catalog;
    const auto read = [&](std::string_view answer) {
      const auto snapshot = ParseSnapshot(answer, CatalogFiles(), CatalogFolders());
      if (snapshot) catalog = LoadCatalog(*snapshot);
      return snapshot.has_value();
    };
    if (!fetch_ || !fetch_(request, read)) return std::nullopt;
    return catalog;
  }

  NativePath sysRoot_;
  RemoteFetch fetch_;
};

}  // namespace

bool IsLocalHost(std::string_view server, std::string_view ownName) {
  const auto is = [&](std::string_view name) { return EqualsIgnoringAsciiCase(server, name); };
  if (is(".") || is("localhost") || is("127.0.0.1") || is("::1")) return true;
  // This machine's name, full or up to its first dot; never the other way
  // round, or "vm.other.example" would be this machine on a host named "vm".
  return !ownName.empty() && (is(ownName) || is(ownName.substr(0, ownName.find('.'))));
}

bool NamesThisMachine(std::string_view server) { return IsLocalHost(server, OwnHostName()); }

IDispatch* NewStandinLocator(NativePath sysRoot, RemoteFetch fetch) {
  return new Locator(std::move(sysRoot), std::move(fetch));
}

#ifndef _WIN32
void RegisterLocator(NativePath sysRoot, RemoteFetch fetch) {
  posix_com::RegisterClass(
      u"WbemScripting.SWbemLocator",
      [sysRoot = std::move(sysRoot), fetch = std::move(fetch)](REFIID iid, void** object) {
        return ComPtr<IDispatch>::Attach(NewStandinLocator(sysRoot, fetch))
            ->QueryInterface(iid, object);
      });
}
#endif

}  // namespace kelvarin::wmi_standin
