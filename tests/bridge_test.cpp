// The bridge: what each operation records in LastAutomationResult, what it
// hands the callee, and what it leaves in the caller's variables.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <thread>

#include "automation/bridge.h"
#include "automation/com_object.h"
#include "automation/com_ptr.h"
#include "wmi/query.h"

namespace kelvarin {
namespace {

using Handler = std::function<HRESULT(WORD flags, const DISPPARAMS&, VARIANT* result)>;

// An object whose members are handlers; it keeps the last call's parameters.
class Scripted final : public com::DispatchBase<> {
 public:
  explicit Scripted(std::map<std::string, Handler> members) : members_(std::move(members)) {}
  std::vector<std::string> calls;
  std::vector<VARIANT> lastArgs;
  std::vector<DISPID> lastNamed;

 protected:
  DISPID FindMember(const std::string& name) override {
    DISPID id = 1;
    for (const auto& [member, handler] : members_) {
      if (member == name) return id;
      ++id;
    }
    return DISPID_UNKNOWN;
  }
  HRESULT InvokeMember(DISPID id, WORD flags, const DISPPARAMS& params, VARIANT* result) override {
    auto it = members_.begin();
    std::advance(it, id - 1);
    calls.push_back(it->first + "/" + std::to_string(flags));
    lastArgs.assign(params.rgvarg, params.rgvarg + params.cArgs);
    lastNamed.assign(params.rgdispidNamedArgs, params.rgdispidNamedArgs + params.cNamedArgs);
    return it->second(flags, params, result);
  }

 private:
  std::map<std::string, Handler> members_;
};

Handler Returns(HRESULT hr) {
  return [hr](WORD, const DISPPARAMS&, VARIANT*) { return hr; };
}

struct Fixture {
  Fixture() { (void)CoInitialize(nullptr); }
  ~Fixture() {
    object.Reset();
    CoUninitialize();
    posix_com::UnregisterClass(u"Test.Scripted");
  }
  Scripted* Make(std::map<std::string, Handler> members) {
    auto* raw = new Scripted(std::move(members));
    *object.Put() = raw;
    return raw;
  }
  ObjectRef object;
};

// Each case runs on a thread of its own, where LastAutomationResult starts at 0.
template <class F>
void OnFreshThread(F body) {
  std::thread(body).join();
}

TEST(LastResult, StartsAtZeroAndFollowsEachKindOfFailure) {
  OnFreshThread([] {
    Fixture f;
    EXPECT_EQ(LastAutomationResult(), 0);
    f.Make({{"FAILS", Returns(E_FAIL)}, {"WARNS", Returns(S_FALSE)}});
    UniqueVariant result;

    AutoInvoke(f.object, "NOSUCH", InvokeKind::PropertyGet, {}, result.get());
    EXPECT_EQ(LastAutomationResult(), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(result->vt, VT_EMPTY);

    AutoInvoke(f.object, "fails", InvokeKind::Method, {}, result.get());
    EXPECT_EQ(LastAutomationResult(), E_FAIL) << "names are matched without regard to case";

    AutoInvoke(f.object, "WARNS", InvokeKind::Method, {}, result.get());
    EXPECT_EQ(LastAutomationResult(), S_FALSE);

    ObjectRef empty;
    AutoInvoke(empty, "FAILS", InvokeKind::Method, {}, result.get());
    EXPECT_EQ(LastAutomationResult(), S_FALSE) << "a call on nothing records nothing";

    AutoSetObject(empty, *result, IID_IDispatch);
    EXPECT_EQ(LastAutomationResult(), S_FALSE);
  });
}

TEST(CreateObject, ProgIdLimitsAndRecording) {
  OnFreshThread([] {
    Fixture f;
    const std::string name39 = "Test." + std::string(34, 'x');
    const std::string name40 = name39 + "x";
    std::u16string wide39(name39.begin(), name39.end());
    posix_com::RegisterClass(wide39, [](REFIID iid, void** out) {
      auto o = ComPtr<IDispatch>::Attach(new Scripted({}));
      return o->QueryInterface(iid, out);
    });
    testing_only::SetLastAutomationResult(E_UNEXPECTED);

    AutoCreateObject(f.object, name40, IID_IDispatch);
    EXPECT_FALSE(AutoIsObject(f.object));
    EXPECT_EQ(LastAutomationResult(), E_UNEXPECTED);

    AutoCreateObject(f.object, name39, IID_IDispatch);
    EXPECT_TRUE(AutoIsObject(f.object));
    EXPECT_EQ(LastAutomationResult(), S_OK);

    testing_only::SetLastAutomationResult(E_UNEXPECTED);
    AutoCreateObject(f.object, "", IID_NULL);  // only releases
    EXPECT_FALSE(AutoIsObject(f.object));
    EXPECT_EQ(LastAutomationResult(), E_UNEXPECTED);
    EXPECT_EQ(com::LiveObjects().load(), 0);

    AutoCreateObject(f.object, name39, IID_IEnumVARIANT);
    EXPECT_FALSE(AutoIsObject(f.object));
    EXPECT_EQ(LastAutomationResult(), E_NOINTERFACE);
    posix_com::UnregisterClass(wide39);
  });
}

TEST(Invoke, ArgumentsGoLastFirstAsReferencesToTheCallersVariables) {
  Fixture f;
  Scripted* callee = f.Make({{"CALL", [](WORD, const DISPPARAMS& p, VARIANT* result) {
                                // The callee writes through a reference: the caller sees it.
                                VariantClear(p.rgvarg[0].pvarVal);
                                p.rgvarg[0].pvarVal->vt = VT_I4;
                                p.rgvarg[0].pvarVal->lVal = 99;
                                result->vt = VT_I4;
                                result->lVal = 1;
                                return S_OK;
                              }}});
  UniqueVariant a;
  UniqueVariant b;
  UniqueVariant c;
  TextToVariant("first", *a);
  b->vt = VT_R8;
  b->dblVal = 128.0;
  UniqueVariant result;
  AutoInvoke(f.object, "CALL", InvokeKind::Method, {a.get(), b.get(), c.get()}, result.get());
  ASSERT_EQ(callee->lastArgs.size(), 3U);
  EXPECT_TRUE(callee->lastNamed.empty());
  for (const auto& arg : callee->lastArgs) EXPECT_EQ(arg.vt, VT_BYREF | VT_VARIANT);
  EXPECT_EQ(callee->lastArgs[0].pvarVal, c.get());
  EXPECT_EQ(callee->lastArgs[1].pvarVal, b.get());
  EXPECT_EQ(callee->lastArgs[2].pvarVal, a.get());
  EXPECT_EQ(c->vt, VT_I4);
  EXPECT_EQ(c->lVal, 99);
  EXPECT_EQ(result->lVal, 1);
  EXPECT_EQ(callee->calls, std::vector<std::string>{"CALL/1"});
}

TEST(Invoke, PropertyWriteSendsThePlainValueNamedMinusThreeAndNoResultPlace) {
  Fixture f;
  bool sawResultPlace = true;
  Scripted* callee = f.Make({{"LEVEL", [&](WORD, const DISPPARAMS&, VARIANT* result) {
                                sawResultPlace = result != nullptr;
                                return S_OK;
                              }}});
  UniqueVariant value;
  value->vt = VT_I4;
  value->lVal = 3;
  AutoInvoke(f.object, "LEVEL", InvokeKind::PropertyPut, {}, value.get());
  ASSERT_EQ(callee->lastArgs.size(), 1U);
  EXPECT_EQ(callee->lastArgs[0].vt, VT_I4);
  EXPECT_EQ(callee->lastArgs[0].lVal, 3);
  EXPECT_EQ(callee->lastNamed, std::vector<DISPID>{DISPID_PROPERTYPUT});
  EXPECT_FALSE(sawResultPlace);
  EXPECT_EQ(callee->calls, std::vector<std::string>{"LEVEL/4"});
}

Handler GivesObject(bool onlyAsMethod) {
  return [onlyAsMethod](WORD flags, const DISPPARAMS&, VARIANT* result) -> HRESULT {
    if (onlyAsMethod && flags != DISPATCH_METHOD) return DISP_E_MEMBERNOTFOUND;
    auto child = ComPtr<IDispatch>::Attach(new Scripted({}));
    com::SetObjectResult(result, child.get());
    return S_OK;
  };
}

TEST(Subobject, ReadsAsPropertyThenAsMethod) {
  const Handler notAnObject = [](WORD, const DISPPARAMS&, VARIANT* r) {
    r->vt = VT_I4;
    r->lVal = 5;
    return S_FALSE;
  };
  const struct {
    Handler member;
    bool yields;
    HRESULT recorded;
    std::vector<std::string> calls;
  } cases[] = {{GivesObject(false), true, S_OK, {"SECURITY_/2"}},
               {GivesObject(true), true, S_OK, {"SECURITY_/2", "SECURITY_/1"}},
               {Returns(E_FAIL), false, E_FAIL, {"SECURITY_/2", "SECURITY_/1"}},
               {notAnObject, false, S_FALSE, {"SECURITY_/2"}}};
  for (const auto& c : cases) {
    OnFreshThread([&] {
      Fixture f;
      Scripted* callee = f.Make({{"SECURITY_", c.member}});
      {
        const ObjectRef yielded = AutoGetSubobject(f.object, "SECURITY_");
        EXPECT_EQ(AutoIsObject(yielded), c.yields);
        EXPECT_EQ(LastAutomationResult(), c.recorded);
        EXPECT_EQ(callee->calls, c.calls);
      }
      f.object.Reset();
      EXPECT_EQ(com::LiveObjects().load(), 0);
    });
  }
}

TEST(SetObject, BindsOnlyNonNullObjectsAndNeverRecords) {
  OnFreshThread([] {
    Fixture f;
    f.Make({});
    testing_only::SetLastAutomationResult(E_UNEXPECTED);
    ObjectRef target;
    UniqueVariant holder;
    com::SetObjectResult(holder.get(), f.object.Get());

    AutoSetObject(target, *holder, IID_IDispatch);
    EXPECT_TRUE(AutoIsObject(target));
    VARIANT byRef{};
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = holder.get();
    AutoSetObject(target, byRef, IID_IDispatch);
    EXPECT_TRUE(AutoIsObject(target));

    AutoSetObject(target, *holder, IID_IEnumVARIANT);
    EXPECT_FALSE(AutoIsObject(target));
    VARIANT nullObject{};
    nullObject.vt = VT_DISPATCH;
    AutoSetObject(target, nullObject, IID_IDispatch);
    EXPECT_FALSE(AutoIsObject(target));
    EXPECT_EQ(LastAutomationResult(), E_UNEXPECTED);
  });
}

// An enumerator over n plain objects that counts its calls.
class Items final : public com::ObjectBase<IEnumVARIANT> {
 public:
  explicit Items(ULONG n) : n_(n) {}
  ULONG nextCalls = 0;
  HRESULT STDMETHODCALLTYPE Next(ULONG, VARIANT* item, ULONG* fetched) override {
    ++nextCalls;
    *fetched = 0;
    if (given_ == n_) return S_FALSE;
    ++given_;
    item->vt = VT_DISPATCH;
    item->pdispVal = new Scripted({});
    *fetched = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Skip(ULONG) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Reset() override {
    given_ = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT**) override { return E_NOTIMPL; }

 protected:
  [[nodiscard]] bool Supports(REFIID iid) const override {
    return IsEqualGUID(iid, IID_IEnumVARIANT);
  }

 private:
  ULONG n_;
  ULONG given_ = 0;
};

TEST(Enumerate, FillsAtMostTheSlotsThereAre) {
  const struct {
    ULONG items;
    LONG lower, upper, returns;
    int filled;
  } cases[] = {{2, 1, 3, -1, 2},   // fewer items than slots
               {5, 1, 2, -1, 2},   // more items than slots
               {0, 1, 4, -1, 0},   // nothing fetched, but it ran
               {3, 0, -1, 0, 0},   // an array without bounds
               {4, 0, 3, -1, 4}};  // lower bound 0
  for (const auto& c : cases) {
    auto source = ComPtr<Items>::Attach(new Items(c.items));
    std::vector<VARIANT> slots(4);
    for (auto& s : slots) VariantInit(&s);
    EXPECT_EQ(EnumerateCollection(reinterpret_cast<std::uintptr_t>(source.get()), slots.data(),
                                  c.lower, c.upper),
              c.returns);
    int filled = 0;
    for (auto& s : slots) {
      if (s.vt == VT_DISPATCH) ++filled;
      VariantClear(&s);
    }
    EXPECT_EQ(filled, c.filled) << c.items << " items into " << c.lower << ".." << c.upper;
    source.reset();
    EXPECT_EQ(com::LiveObjects().load(), 0) << "the enumerator or an item leaked";
  }
}

TEST(Enumerate, NullSourceLeavesTheArrayAlone) {
  VARIANT slot{};
  slot.vt = VT_I4;
  slot.lVal = 7;
  EXPECT_EQ(EnumerateCollection(0, &slot, 1, 1), 0);
  EXPECT_EQ(slot.vt, VT_I4);
  EXPECT_EQ(slot.lVal, 7);
}

}  // namespace
}  // namespace kelvarin
