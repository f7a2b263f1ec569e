// A scriptable WMI: locator, services, security object, object sets,
// enumerators and items that behave as a scenario says and log every call
// made through IDispatch.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "automation/com.h"

namespace kelvarin::testing {

// An object's properties by upper-case name (nullopt is NULL); other names
// are unknown to it.
using FakeItem = std::map<std::string, std::optional<std::string>>;

// What goes wrong with a class. NextFails and Refuses strike at the second
// item; EmptyFirst delivers an empty VARIANT before the items.
enum class Fault {
  None,
  QueryFails,
  NoObjectSet,
  NoEnumerator,
  NotAnEnumerator,
  ResetFails,
  NextFails,
  Refuses,
  EmptyFirst
};

struct FakeClass {
  std::vector<FakeItem> items;
  Fault fault = Fault::None;
  std::optional<LONG> count;  // what Count answers, when not the number of items
};

struct FakeScenario {
  HRESULT creation = S_OK;  // the class factory's answer; REGDB_E_CLASSNOTREG: not registered
  HRESULT connect = S_OK;   // ConnectServer's answer; services come with any success
  HRESULT impersonation = S_OK;
  std::set<std::string> missing;  // members no object knows, e.g. "SECURITY_"
  bool securityOnlyAsMethod = false;
  std::map<std::string, FakeClass> classes;  // by the query's last word
};

// Registers the scenario under "WbemScripting.SWbemLocator" and clears the log.
void InstallFakeWmi(const FakeScenario& scenario);
void UninstallFakeWmi();

// One line per Invoke: role, member, dispatch kind, the arguments as passed
// (named ones as `ID=value`), and ` noresult` when there was no place for one,
// e.g. `security.IMPERSONATIONLEVEL 4 [-3=I4:3] noresult`.
const std::vector<std::string>& FakeWmiLog();

}  // namespace kelvarin::testing
