#include "wmi/session.h"

#include "automation/com_ptr.h"
#include "automation/variant_text.h"
#include "report/report.h"

namespace kelvarin {
namespace {

constexpr double kUseMaxWait = 128.0;  // wbemConnectFlagUseMaxWait
constexpr LONG kImpersonate = 3;       // wbemImpersonationLevelImpersonate

}  // namespace

bool CreateLocator(WmiConnection& connection) {
  AutoCreateObject(connection.locator, "WbemScripting.SWbemLocator", IID_IDispatch);
  return AutoIsObject(connection.locator);
}

bool ConnectToWmi(WmiConnection& connection, const RunOptions& options, Console& console) {
  UniqueVariant server;
  UniqueVariant nameSpace;
  UniqueVariant user;
  UniqueVariant password;
  UniqueVariant locale;
  UniqueVariant authority;
  UniqueVariant flags;
#ifdef _WIN32
  TextToVariant(options.host, *server);
#else
  // The stand-in hands the host to ssh, which matches its configuration
  // letter case and all.
  TextToVariant(options.hostAsTyped, *server);
#endif
  TextToVariant("root\\CIMV2", *nameSpace);
  TextToVariant(options.user, *user);
  TextToVariant(options.password, *password);
  TextToVariant("", *locale);
  TextToVariant(options.authority, *authority);
  flags->vt = VT_R8;
  flags->dblVal = kUseMaxWait;

  UniqueVariant result;
  AutoInvoke(connection.locator, "CONNECTSERVER", InvokeKind::Method,
             {server.get(), nameSpace.get(), user.get(), password.get(), locale.get(),
              authority.get(), flags.get()},
             result.get());
  if (LastAutomationResult() != 0) {
    PrintConnectionFailure(options, console);
    return false;
  }
  AutoSetObject(connection.services, *result, IID_IDispatch);

  // What the level write achieves is not examined: queries that need it will
  // fail on their own.
  const ObjectRef security = AutoGetSubobject(connection.services, "SECURITY_");
  UniqueVariant level;
  level->vt = VT_I4;
  level->lVal = kImpersonate;
  AutoInvoke(security, "IMPERSONATIONLEVEL", InvokeKind::PropertyPut, {}, level.get());
  return true;
}

void CloseConnection(WmiConnection& connection) {
  AutoRelease(connection.services);
  AutoRelease(connection.locator);
}

}  // namespace kelvarin
