#include "app/standin_posix.h"

#include <utility>

#include "wmi_standin/standin.h"

namespace kelvarin {

ConnectionCheck UseStandin(wmi_standin::NativePath sysRoot, const ssh::Settings& settings,
                           Console& console) {
  wmi_standin::RegisterLocator(std::move(sysRoot), [settings, &console](
                                                       const wmi_standin::RemoteRequest& request,
                                                       const auto& read) {
    return ssh::Fetch(settings, {request.host, request.user, request.password, request.authority},
                      request.script, request.limit, read, console);
  });
  return [settings](const RunOptions& options, Console& out) {
    if (wmi_standin::NamesThisMachine(options.hostAsTyped)) return ExitCode::Success;
    const auto refusal = ssh::Refuse(
        settings, {options.hostAsTyped, options.user, options.password, options.authority});
    if (!refusal) return ExitCode::Success;
    WriteReason(out, options.hostAsTyped, refusal->reason);
    return refusal->code;
  };
}

}  // namespace kelvarin
