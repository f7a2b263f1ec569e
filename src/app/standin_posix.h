// WMI on POSIX systems: the stand-in over this machine's firmware, and over
// ssh for other machines.
#pragma once

#include "app/driver.h"
#include "ssh/session.h"
#include "wmi_standin/firmware_file.h"

namespace kelvarin {

// Registers the stand-in as the WMI locator: this machine's firmware below
// `sysRoot`, other machines' over ssh as `settings` say, with the reasons a
// machine could not be reached told to `console`. Returns the check that
// refuses what ssh must not be run with, before anything connects.
ConnectionCheck UseStandin(wmi_standin::NativePath sysRoot, const ssh::Settings& settings,
                           Console& console);

}  // namespace kelvarin
