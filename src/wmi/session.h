// The connection to WMI: the locator, ConnectServer, the impersonation level.
#pragma once

#include "automation/bridge.h"
#include "core/console.h"
#include "core/run_types.h"

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
