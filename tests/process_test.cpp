// The real executables run as a script runs them: exit codes and bytes on
// open, closed, full and slow outputs; the Linux binary over chosen firmware
// at the real sysfs paths; the Windows one under Wine, on Wine's own WMI and
// on the stand-in registered as its COM server, where both builds must write
// the same bytes for the same firmware.
#include <gtest/gtest.h>

#include <pty.h>

#include <tuple>

#include "process.h"
#include "support.h"

namespace kelvarin::testing {
namespace {

const std::string kExe = KELVARIN_WINDOWS_EXE, kPrefix = KELVARIN_WINE_PREFIX;

TEST(Process, ExitCodesAndBytesAsAScriptSeesThem) {
  // Arguments, output, exit code, what is written ("*": one whole line).
  // clang-format off
  const std::tuple<const char*, Output, int, std::string> cases[] = {
      {"/?", Output::Closed, 9, ""}, {"/X", Output::BrokenPipe, 9, ""}, {"/X", Output::Captured, 9, "\r\n\a/X was unexpected.\r\n" + Usage()},
      {"/C /P", Output::Captured, 9, Usage()},  // no password after /P, nothing to hide
      {"/C", Output::DevFull, 1, ""}, {"/C", Output::SizeLimited, 1, ""}, {"/?", Output::SizeLimited, 9, ""},
      {"/C", Output::Closed, 1, ""}, {"/V", Output::BrokenPipe, 1, ""}, {"/C", Output::NearlyFull, 0, "*"}};
  // clang-format on
  for (const bool onWine : {false, true}) {
    if (onWine && !WineReady(kPrefix, {kExe})) GTEST_SKIP() << "no kelvarin.exe, or no Wine";
    if (onWine) RunProcess(Wine(kPrefix, {kExe, "/?"}));  // a cold Wine start is no pause
    for (const auto& [args, output, code, written] : cases) {
      if (onWine && output == Output::SizeLimited) continue;  // a limit for POSIX programs
      std::vector<std::string> argv = Words(args);
      argv.insert(argv.begin(), onWine ? kExe : KELVARIN_BIN);
      const Outcome run = RunProcess(onWine ? Wine(kPrefix, argv) : argv, output);
      SCOPED_TRACE(argv[1] + " " + std::to_string(static_cast<int>(output)));
      EXPECT_EQ(run.code, code);
      EXPECT_TRUE(written == "*" ? run.out.size() > 2 && run.out.ends_with("\r\n")
                                 : output != Output::Captured || run.out == written)
          << run.out;
      // /X pauses a second, whether or not anybody reads the output.
      EXPECT_TRUE(args == "/X"s ? run.seconds >= 0.9 && run.seconds < 5
                                : onWine || run.seconds < 0.9);
    }
  }
}

// /P on Linux: ssh, here a stand-in, gets the password from Kelvarin as its
// SSH_ASKPASS helper (never beside the user's own), once, for a password
// prompt only, and finds it on no command line from itself up to Kelvarin;
// then it runs the remote command over this machine's own firmware. /P -
// reads it from standard input, or on a terminal without echo.
TEST(Process, LinuxPasswordReachesSshOnlyThroughItsHelper) {
  if (KELVARIN_EMULATED) {
    GTEST_SKIP() << "under an emulator, whose command line holds every argument and which "
                    "ssh cannot start as Kelvarin's helper";
  }
  const TempDir dir;
  // The password goes to a prompt whose last line ends in "password:", whatever its case and
  // the blanks after it; a question about a host key or a passphrase never gets it, whatever it
  // quotes.
  std::ofstream(dir.path + "/ssh") << R"sh(for last; do :; done
case " $* " in *BatchMode*) exit 2 ;; esac
[ "$SSH_ASKPASS_REQUIRE" = force ] || exit 3
p=${SSH_ASKPASS#/proc/}; p=${p%/exe}; grep -q "@kelvarin-askpass-$p\$" /proc/net/unix || exit 10
[ "$(id -u)" != 0 ] || ! setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c 'import socket, sys; s = socket.socket(socket.AF_UNIX)
s.connect("\0kelvarin-askpass-" + sys.argv[1]); s.sendall(b"x password: "); s.shutdown(1); print(s.recv(99))' $p | grep -q pw || exit 11
for q in "Are you sure you want to continue connecting (yes/no/[fingerprint])? " "Host key for 'password-host' changed.
Are you sure you want to continue connecting (yes/no)? " "Enter passphrase for key '/home/password:': " "password:
OK? "; do ! "$SSH_ASKPASS" "$q" || exit 4; done
pw=$("$SSH_ASKPASS" "Banner
(root@password-host) PASSWORD:	") && ! "$SSH_ASKPASS" "Password: " || exit 5
p=$$
while [ "$(cat /proc/$p/comm)" != timeout ] && [ "$p" != 1 ]; do
  ! grep -qa -e 's3cr3t[-]pw' /proc/$p/cmdline && [ "$(tr '\0' '\n' </proc/$p/environ | grep -c ^SSH_ASKPASS=)" -le 1 ] || exit 7
  [ "$(cat /proc/$p/comm)" != kelvarin ] || tr '\0' ' ' </proc/$p/cmdline | grep -Eq ' /M db /U root /Px? +/C' || exit 9
  p=$(cut -d ' ' -f 4 /proc/$p/stat)
done
case $pw in s3cr3t-pw | "s3cr3t-pw two") eval "$last" ;; *) exit 255 ;; esac)sh";
  ::setenv("KELVARIN_SSH_COMMAND", ("sh " + dir.path + "/ssh").c_str(), 1);
  const Outcome local = RunProcess({KELVARIN_BIN, "/C"});
  const std::string failed = kErrorLine + "\r\n1";
  // With a helper of the user's own, which ssh is not given. What follows the
  // letter is no value; the next argument is. /P - takes one line, whatever follows, and the last
  // without its end.
  // clang-format off
  const std::tuple<const char*, const char*, std::string, std::string> cases[] = {
      {"/P", "s3cr3t-pw", "", local.out + "0"}, {"/Px", "s3cr3t-pw", "", local.out + "0"}, {"/P", "s3cr3t-pw two", "", local.out + "0"},
      {"/P", "-", "s3cr3t-pw\r\nnext line\n", local.out + "0"}, {"/P", "-", "s3cr3t-pw", local.out + "0"}, {"/P", "s3cr3t", "", failed}, {"/P", "-", "", failed}};
  // clang-format on
  for (const auto& [p, value, input, expected] : cases) {
    const Outcome run = RunProcess(
        {"env", "SSH_ASKPASS=true", KELVARIN_BIN, "/M", "db", "/U", "root", p, value, "/C"},
        Output::Captured, 30, input);
    EXPECT_EQ(run.out + std::to_string(run.code), expected) << p << " " << value;
  }
  // On a terminal: the prompt there, and the password never shown.
  int terminal = -1;
  const pid_t pid = ::forkpty(&terminal, nullptr, nullptr, nullptr);
  if (pid == 0) {
    ::execl(KELVARIN_BIN, KELVARIN_BIN, "/M", "db", "/U", "root", "/P", "-", "/C", nullptr);
    ::_exit(127);
  }
  std::string shown;
  char buffer[4096];
  for (ssize_t got = 0; (got = ::read(terminal, buffer, sizeof buffer)) > 0;) {
    shown.append(buffer, static_cast<std::size_t>(got));
    if (shown.ends_with("Password: ")) (void)!::write(terminal, "s3cr3t-pw\n", 10);
  }
  int status = 0;
  ::waitpid(pid, &status, 0), ::close(terminal), ::unsetenv("KELVARIN_SSH_COMMAND");
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
  EXPECT_TRUE(shown.starts_with("Password: ") && shown.find("s3cr3t") == std::string::npos)
      << shown;
}

// Ctrl-C, SIGTERM and SIGHUP end ssh's whole group, then Kelvarin by that
// signal, with nothing on standard output; killed outright, Kelvarin takes
// ssh with it.
TEST(Process, LinuxEndedBySignalLeavesNothingRunning) {
  const TempDir dir;
  const std::string pids = dir.path + "/pids";
  ::setenv("KELVARIN_SSH_COMMAND",
           ("echo $$ >" + pids + "; sleep 30 & echo $! >>" + pids + "; wait; :").c_str(), 1);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    const Outcome run =
        RunProcess({"timeout", "--foreground", "--preserve-status", "-s", std::to_string(signal),
                    "1", KELVARIN_BIN, "/M", "db", "/U", "root", "/P", "pw", "/C"});
    EXPECT_EQ(run.out + std::to_string(run.code), std::to_string(128 + signal)) << signal;
    std::string ssh, child;
    std::istringstream(Contents(pids)) >> ssh >> child;
    EXPECT_TRUE(Ended(ssh) && (signal == SIGKILL || Ended(child)))
        << signal << " left " << ssh << " " << child;
    if (signal == SIGKILL) ::kill(std::stoi(child), SIGKILL);
  }
  ::unsetenv("KELVARIN_SSH_COMMAND");
}

// /P - (and /P *, as net use takes it) reads one line of redirected input, and without one
// standard error says so. Started with a wide command line under code page 1252, where best
// fit would read each of these characters as a quote, slash, blank or hyphen, none acts as one.
TEST(Process, WindowsBuildReadsItsInput) {
  const std::string starter = KELVARIN_WINDOWS_RAW_COMMAND_LINE, error = kErrorLine + "\r\n";
  if (!WineReady(kPrefix, {kExe, starter})) GTEST_SKIP() << "no kelvarin.exe, or no Wine";
  const std::string none = "kelvarin: db: no password was read\n";
  // clang-format off
  const std::tuple<const char*, const char*, std::string> passwords[] = {{"-", "pw\n", error}, {"*", "", none + error}, {"-", "\r\n", none + error}};
  for (const auto& [p, input, written] : passwords) {
    const Outcome run = RunProcess(Wine(kPrefix, {kExe, "/C", "/M", "db", "/U", "me", "/P", p}), Output::WithErrors, 30, input);
    EXPECT_EQ(run.out + std::to_string(run.code), written + "1") << p << " " << input;
  }
  const std::pair<std::string, std::string> tails[] = {  // what is written, then the exit code
      {"/C /M \"x\uFF02/M\uFF02localhost\"", error + "1"}, {"/C /M localhost\u3000x", error + "1"},
      {"/C\uFF0FA", "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n0"}, {"/C \uFF0DA", "\r\n\a?A was unexpected.\r\n" + Usage() + "9"}};
  // clang-format on
  for (const auto& [tail, expected] : tails) {
    std::vector<std::string> argv = Wine(kPrefix, {starter}, "en_US.UTF-8");
    argv.insert(argv.begin(), {"sh", "-c", "printf %s \"$0\" | \"$@\"",
                               ("\"Z:" + kExe).append("\" ").append(tail)});
    const Outcome run = RunProcess(argv);
    EXPECT_EQ(run.out + std::to_string(run.code), expected) << tail;
  }
}

// The stand-in registered as the COM server of "WbemScripting.SWbemLocator" in a prefix of its
// own, reading its tables from "sys" beside it: both builds write the same bytes for a table.
// Where the ANSI code page is not UTF-8 the Windows build writes that code page. In 932 the
// second byte of a double-byte character may look like a taboo character or the delimiter
// (タ ends in "^", チ in "`", ポ in "|"): it is never taken for one.
TEST(Differential, BothBuildsWriteTheSameBytes) {
  const std::string prefix = KELVARIN_WINE_STANDIN_PREFIX,
                    folder = prefix + "/drive_c/kelvarin-standin";
  if (::geteuid() != 0 || !WineReady(prefix, {kExe, KELVARIN_WINDOWS_STANDIN_DLL})) {
    GTEST_SKIP() << "needs root, kelvarin.exe, standin_server.dll and Wine";
  }
  ASSERT_EQ(
      RunProcess({KELVARIN_TOOLS "/wine-standin.sh", prefix, KELVARIN_WINDOWS_STANDIN_DLL}).code,
      0);
  // One table for both builds; the Linux run, then the Windows one.
  const auto both = [&](const std::string& table, const char* line,
                        const char* locale = "hi_IN.UTF-8") {
    std::filesystem::remove_all(folder + "/sys");
    Lay(folder + "/sys", Smbios(table));
    std::vector<std::string> args = Words(line);
    const Outcome onLinux = RunInNamespace(folder + "/sys", args);
    args.insert(args.begin(), kExe);
    return std::pair(onLinux, RunProcess(Wine(prefix, args, locale)));
  };
  // Commas, semicolons and taboo characters give the CSV switches work; the text shown proves
  // that the table, not the host's, was read. Then text outside ASCII, as UTF-8 and as Latin-1;
  // controls, separators and bidirectional formatting in every fact.
  // clang-format off
  const std::pair<std::string, std::string> tables[] = {
      {Bios("Insyde Corp.", "F.42 (2021); rev 'B'") + System("HP, Inc.", "ProBook \"450\"", "5CD,XYZ") + Board("PBB-001") + Enclosure("CH^9`0") + kEnd, "ProBook"},
      {Bios("Vendor", "1.0") + System("Blade Maker", "Blade, 8 slots", "") + Board("FIRST") + Board("") + Board("THIRD") + Enclosure("ENC-A") + kEnd, "THIRD"},
      {Bios("\x1B[2J\tSociété\x7F", "Ä1\xC2\x85-2\xE2\x80\xAE") + System("Straße\xE2\x80\xA8Serial Number:  X\v\b", "Mod\xE8le", "\xD8\x9CSN-€-1\xE2\x81\xA6") + kEnd,
       "Mod\xC3\xA8le"}};
  const std::string latin = Bios("Société", "Ä1.0") + System("Straße", "Mod\xE8le", "N° 12") + kEnd, japanese = System("タチ工業", "ポート", "") + kEnd,
                    inCodePage932 = "\x83\x5E\x83\x60\x8D\x48\x8B\xC6|\x83\x7C\x81\x5B\x83\x67|#NOTFOUND#|#NOTFOUND#\r\n";
  const std::tuple<std::string, const char*, const char*, std::string> pages[] = {
      {latin, "/C", "en_US.UTF-8", "Stra\337e,Mod\350le,N\260 12,\3041.0\r\n"},  // octal
      {japanese, "/C /D | /T _", "ja_JP.UTF-8", inCodePage932}, {japanese, "/C /D | /R x", "ja_JP.UTF-8", inCodePage932}};
  // clang-format on
  ::setenv("KELVARIN_SSH_COMMAND", "exit 255", 1);  // another machine, asking no resolver
  for (const auto& [table, shows] : tables) {
    for (const char* line :
         {"", "/V", "/C", "/C /D ;", "/C /R x", "/C /T _", "/C /A", "/N", "/M localhost /V",
          "/U someone", "/C /A /U someone", "/N /U someone", "/C /M elsewhere"}) {
      const auto [onLinux, onWindows] = both(table, line);
      EXPECT_TRUE(line != "/C"s || onLinux.out.find(shows) != std::string::npos) << shows;
      EXPECT_EQ(onWindows.out + std::to_string(onWindows.code),
                onLinux.out + std::to_string(onLinux.code))
          << line;
    }
  }
  ::unsetenv("KELVARIN_SSH_COMMAND");
  for (const auto& [table, line, locale, written] : pages) {
    EXPECT_EQ(both(table, line, locale).second.out, written) << line;
  }
}

}  // namespace
}  // namespace kelvarin::testing
