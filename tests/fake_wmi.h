// A scriptable WMI for tests: locator, services, security object, object
// sets, enumerators and items that behave as a scenario says and write every
// call they receive into a log.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "automation/com.h"

namespace kelvarin::testing {

struct FakeValue {
  enum class Kind { Text, Null, Number, Boolean, Empty };
  Kind kind = Kind::Null;
  std::string text;

  static FakeValue Text(std::string t) { return {Kind::Text, std::move(t)}; }
  static FakeValue Null() { return {Kind::Null, {}}; }
  static FakeValue Number() { return {Kind::Number, {}}; }
  static FakeValue Boolean() { return {Kind::Boolean, {}}; }
};

struct FakeItem {
  std::map<std::string, FakeValue> properties;  // upper-case names; others are unknown
  bool refusesDispatch = false;                 // QueryInterface(IDispatch) fails
};

struct FakeClass {
  std::vector<FakeItem> items;
  std::optional<LONG> announcedCount;         // Count, when it differs from the items
  std::optional<std::size_t> nextFailsAfter;  // Next fails once this many were fetched
  HRESULT execQueryResult = S_OK;             // a failure leaves no object set
  bool execReturnsNothing = false;            // success, but no object set in the result
  bool noEnumerator = false;                  // _NewEnum yields nothing
  bool resetFails = false;
};

struct FakeScenario {
  bool locatorRegistered = true;
  HRESULT locatorCreation = S_OK;            // the class factory's answer
  HRESULT connectResult = S_OK;              // what ConnectServer's Invoke returns
  bool connectLookupFails = false;           // "CONNECTSERVER" unknown to the locator
  bool securityMissing = false;              // "SECURITY_" unknown to the services object
  bool securityOnlyAsMethod = false;         // Security_ fails as a property read
  HRESULT impersonationResult = S_OK;        // what the level write returns
  std::map<std::string, FakeClass> classes;  // by class name as in the query's FROM
};

// Registers the scenario under "WbemScripting.SWbemLocator" (or removes the
// registration when the scenario says so) and clears the call log.
void InstallFakeWmi(const FakeScenario& scenario);
void UninstallFakeWmi();

// Every call the fake objects received, one line each, in order, e.g.
//   locator.Invoke CONNECTSERVER kind=1 args=[BSTR:".", BSTR:"root\CIMV2", ...] named=[]
const std::vector<std::string>& FakeWmiLog();

// A VARIANT as the log writes it: BSTR:"text", BSTR:null, R8:128, I4:3, ...
std::string DescribeVariant(const VARIANT& v);

}  // namespace kelvarin::testing
