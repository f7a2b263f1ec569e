#include "wmi/query.h"

#include <deque>

#include "automation/com_ptr.h"
#include "automation/variant_text.h"

namespace kelvarin {
namespace {

// Copies one item at a time into slotAt(lower), slotAt(lower + 1), ... and
// never past `upper`.
template <class SlotAt>
LONG Enumerate(std::uintptr_t source, LONG lower, LONG upper, SlotAt slotAt) {
  static const auto iid = TextToGuid("{00020404-0000-0000-c000-000000000046}");
  if (source == 0 || upper < lower || !iid) return 0;
  ComPtr<IEnumVARIANT> enumerator;
  if (IUnknownQueryInterface(reinterpret_cast<IUnknown*>(source), *iid, enumerator.put_void()) !=
          0 ||
      !enumerator || IEnumVariantReset(enumerator.get()) != 0) {
    return 0;
  }
  for (LONG index = lower;; ++index) {
    UniqueVariant element;
    ULONG fetched = 0;
    if (IEnumVariantNext(enumerator.get(), 1, element.get(), &fetched) != 0 || fetched < 1) break;
    VariantCopy(slotAt(index), element.get());
    if (index == upper) break;
  }
  return -1;
}

}  // namespace

LONG EnumerateCollection(std::uintptr_t source, VARIANT* slots, LONG lower, LONG upper) {
  if (slots == nullptr) return 0;
  return Enumerate(source, lower, upper, [&](LONG index) {
    return &slots[static_cast<std::size_t>(static_cast<std::int64_t>(index) - lower)];
  });
}

void RunQueryStep(ObjectRef& services, std::string_view query, const HarvestAction& action,
                  const RunOptions& options, Console& console) {
  const bool verbose = options.Mode() == OutputMode::Verbose;
  auto say = [&](std::string_view line) {
    if (verbose) WriteLine(console, line);
  };

  UniqueVariant text;
  TextToVariant(query, *text);
  UniqueVariant objectSet;
  AutoInvoke(services, "EXECQUERY", InvokeKind::Method, {text.get()}, objectSet.get());

  // A failed query leaves no object set to count: that is "no objects",
  // never a call through a null pointer.
  const std::uintptr_t set = VariantToPointer(*objectSet);
  const LONG count = WbemCollectionCount(set);
  if (count <= 0) {
    say(" - No objects found in collection");
    return;
  }
  const std::uintptr_t source = WbemCollectionNewEnum(set);
  if (source == 0) {
    say(" - Unable to get a pointer to the iEnumVARIANT interface");
    return;
  }
  // The slots grow as items arrive, up to the count the set announced, so a
  // set that announces more than it holds costs nothing.
  std::deque<UniqueVariant> slots;
  const LONG ran = Enumerate(source, 1, count, [&](LONG) { return slots.emplace_back().get(); });
  IUnknownRelease(reinterpret_cast<IUnknown*>(source));  // the reference _NewEnum gave us
  if (ran == 0) {
    say(" - Unable to enumerate collection");
    return;
  }
  objectSet.reset();

  ObjectRef item;
  for (const UniqueVariant& slot : slots) {
    if (VariantToNumber(*slot) == 0) continue;
    AutoSetObject(item, *slot, IID_IDispatch);
    if (!AutoIsObject(item)) return;
    action(item);
    AutoRelease(item);
  }
}

}  // namespace kelvarin
