// The connection to WMI: the locator, ConnectServer, the impersonation level.
#pragma once

#include "app/console.h"
#include "app/run_types.h"
#include "automation/bridge.h"

namespace kelvarin {

struct WmiConnection {
  ObjectRef locator;
  ObjectRef services;
};

// True when the locator holds an object.
bool CreateLocator(WmiConnection& connection);

// True when the services object is ready for queries; false after a failed
// connection, whose output (unless /N) has been written.
bool ConnectToWmi(WmiConnection& connection, const RunOptions& options, Console& console);

// Services first, then the locator.
void CloseConnection(WmiConnection& connection);

}  // namespace kelvarin
