// The ssh transport in-process, with a stand-in ssh: the command it runs and
// how it starts it, what it hands back, what it tells on standard error, and
// whole runs of /M through it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tuple>

#include "app/standin_posix.h"
#include "ssh/session.h"
#include "support.h"

namespace kelvarin::testing {
namespace {

// The stand-in ssh logs its arguments, one per line, then does what the row says.
TEST(Ssh, RunsAsToldAndNoLonger) {
  const TempDir dir;
  const std::string log = dir.path + "/args", pid = dir.path + "/pid",
                    why = "kelvarin: Db-01.LAN: ";
  const auto login = [](auto... given) { return ssh::Login{"Db-01.LAN", given...}; };
  const std::string all = "-T\n-n\n-o\nConnectTimeout=10\n", batch = "-o\nBatchMode=yes\n",
                    end = "--\nDb-01.LAN\nsh -c 'x'\n", none = "printf ''";
  // clang-format off
  const std::tuple<ssh::Login, std::string, std::optional<std::string>, std::string, std::string> cases[] = {
      {login("", "", ""), "printf ok", "ok", all + batch + end, ""},
      {login("root", "", "Kerberos:db"), none, "", all + batch + "-l\nroot\n-o\nGSSAPIAuthentication=yes\n-o\n"
       "PreferredAuthentications=gssapi-with-mic\n" + end, ""},
      {login("", "pw", ""), "printf ok", "ok", all + end, ""},
      // It starts clean: input empty, every signal at its default and none
      // blocked, no descriptor of ours; the user's agent is still found.
      {login(), "read x && exit 1; [ -e /proc/$$/fd/57 ] && exit 2; [ \"$SSH_AUTH_SOCK\" = /run/agent ] || exit 3; "
       "exec grep -cE '^Sig(Ign|Blk):.0{16}$' /proc/self/status", "2\n", "-T", ""},
      {login(), "printf ok; kill -9 $$", std::nullopt, "-T", why + "ssh was ended by signal 9\n"},
      {login(), "printf bad", std::nullopt, "-T", why + "the answer was malformed\n"},
      {login(), "head -c 16 /dev/zero", std::string(16, '\0'), "-T", ""},
      {login(), "head -c 17 /dev/zero", std::nullopt, "-T", why + "the answer passed 16 bytes\n"},
      {login(), "exec >&-; sleep 0.3", "", "-T", ""},  // output closed before the end
      // Each line of ssh's standard error goes on whole, its controls blanked,
      // the last one without its end too.
      {login(), "printf '\\033]0;x\\007Warning: a\\r\\nb\\tc' >&2", "", "-T", why + " ]0;x Warning: a\n" + why + "b c\n"},
      // A line too long for one write a pipe keeps whole goes out cut before a character, once.
      {login(), "yes \xC3\xA9 | head -n 3000 | tr -d '\\n' >&2; echo >&2; echo after >&2", "", "-T",
       why + [] { std::string e; while (e.size() < 4074) e += "\xC3\xA9"; return e; }() + "\n" + why + "after\n"},
      // Past the deadline, ssh and what it started are ended.
      {login(), "sleep 30 & printf $! >" + pid + "; wait", std::nullopt, "-T", why + "no answer within 1 s\n"},
      {login(), "printf waiting >&2; exec >&-; sleep 30", std::nullopt, "-T", why + "waiting\n" + why + "no answer within 1 s\n"}};
  // clang-format on
  ::setenv("SSH_AUTH_SOCK", "/run/agent", 1);
  // As the program's console does, and more; left so for the rest of this test program.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t blocked;
  sigemptyset(&blocked), sigaddset(&blocked, SIGUSR1), ::sigprocmask(SIG_BLOCK, &blocked, nullptr);
  const int ours = ::fcntl(STDERR_FILENO, F_DUPFD, 57);
  for (const auto& [who, does, answer, args, reasons] : cases) {
    std::filesystem::remove(log);
    std::ofstream(dir.path + "/ssh") << "printf '%s\\n' \"$@\" >" << log << "; " << does;
    RecordingConsole console;
    std::optional<std::string> got;
    const auto start = std::chrono::steady_clock::now();
    const auto read = [&](std::string_view bytes) { return bytes != "bad" && (got = bytes); };
    const bool fetched = ssh::Fetch({"exec sh " + dir.path + "/ssh", "", std::chrono::seconds(1)},
                                    who, "x", 16, read, console);
    EXPECT_EQ(fetched ? std::optional(got.value_or("(not read)")) : std::nullopt, answer) << does;
    EXPECT_EQ(console.errors, reasons) << does;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3)) << does;
    EXPECT_TRUE(Contents(log).starts_with(args)) << does << "\n" << Contents(log);
  }
  ::close(ours), ::unsetenv("SSH_AUTH_SOCK");
  EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "an ended ssh was left unreaped";
  const std::string child = Contents(pid);
  EXPECT_TRUE(!child.empty() && Ended(child)) << "the deadline left " << child;
}

// Whole runs: standard output keeps exactly the connection-failure bytes the
// command line asks for, standard error says which host and why.
TEST(Ssh, RunsOfOtherHosts) {
  const TempDir dir;
  const std::string none = "#NOTFOUND#,#NOTFOUND#,#NOTFOUND#,#NOTFOUND#\r\n0",
                    empty = "printf '\\nkelvarin-snapshot\\nE\\n'", why = "kelvarin: Db: ";
  char host[256] = {};  // this machine's own name asks no ssh
  ::gethostname(host, sizeof host - 1);
  // clang-format off
  const std::tuple<std::string, std::string, std::string, std::string, std::string> runs[] = {  // ssh, become
      {"/M Db /C", empty, "", none, ""}, {"/M Db /C", empty + "; exit 255", "", kErrorLine + "\r\n1", why + "ssh exited with status 255\n"},
      {"/M Db /V", "echo 'ssh: connect to host 192.0.2.7 port 22: Connection refused' >&2; exit 255", "",
       "\r\nERROR: Failed to retrieve an SWbemServices object\r\n1",
       why + "ssh: connect to host 192.0.2.7 port 22: Connection refused\n" + why + "ssh exited with status 255\n"},
      {"/M Db /L /C", empty, "", kErrorLine + "\r\n1", why + "NTLM (/L) has no SSH form\n"}, {"/M Db /N", "exit 255", "", "1", why + "ssh exited with status 255\n"},
      {"/M "s + host + " /C", "exit 255", "", none, ""}, {"/M Db /C", "", "", none, ""},  // "": the ssh on PATH
      {"/M $HOME /C", empty, "", kErrorLine + "\r\n1", "kelvarin: $HOME: refused before ssh ran: the host name holds \"$\", "
       "which ssh or a shell could read as syntax\n"},
      // KELVARIN_SSH_BECOME=sudo puts the remote line after "sudo -n"; a value but sudo or doas is refused.
      {"/M Db /C", "for last; do :; done; case $last in 'sudo -n sh -c '*) eval \"$(printf %s \"${last#sudo -n }\" | sed s,/sys,/none,)\";; esac; :", "sudo", none, ""},
      {"/M Db /C", empty, "su", "9", why + "KELVARIN_SSH_BECOME is \"su\"; it may be sudo, doas or empty\n"},
      // A login text without its line end, and a machine without /sys: as a local run there.
      {"/M Db /C", "printf 'Last backup: OK'; for last; do :; done; eval \"$(printf %s \"$last\" | sed s,/sys,/none,)\"", "", none, ""}};
  // clang-format on
  std::ofstream(dir.path + "/ssh") << "#!/bin/sh\n" << empty << "\n";
  std::filesystem::permissions(dir.path + "/ssh", std::filesystem::perms::owner_all);
  ::setenv("PATH", (dir.path + ":/usr/bin:/bin").c_str(), 1);  // for the rest of this test program
  for (const auto& [run, command, become, expected, reasons] : runs) {
    RecordingConsole console;
    const auto code = RunInventory(run, console, UseStandin(dir.path, {command, become}, console));
    EXPECT_EQ(console.output + std::to_string(static_cast<int>(code)), expected) << run << command;
    EXPECT_EQ(console.errors, reasons) << run << command;
  }
  // Blanks alone are no command: ssh from PATH, here none; the become command is read as it is.
  ::setenv("KELVARIN_SSH_COMMAND", " \t ", 1), ::setenv("KELVARIN_SSH_BECOME", "doas", 1),
      ::setenv("PATH", "/none", 1);
  RecordingConsole console;
  RunInventory("/M Db /C", console, UseStandin(dir.path, ssh::SettingsFromEnvironment(), console));
  EXPECT_EQ(console.errors + ssh::SettingsFromEnvironment().become,
            why + "could not start ssh: No such file or directory\ndoas");
  ::unsetenv("KELVARIN_SSH_COMMAND"), ::unsetenv("KELVARIN_SSH_BECOME");
}

// Names that ssh, or a shell its configuration starts (ProxyCommand), could
// read as something else never reach it; the reason names what is wrong.
TEST(Ssh, RefusesWhatSshOrAShellWouldMisread) {
  // clang-format off
  const std::tuple<const char*, const char*, const char*> cases[] = {  // host, user, what is wrong ("": nothing)
      {"DB-Prod-01", "ops", ""}, {"\xC4\x81-host.lan", "J\xC3\xB6rg", ""}, {"h_1.example", "DOM\\me", ""}, {"127.0.0.7", "me@corp.example", ""},
      {"fe80::1%eth0", "", ""}, {"2001:db8::7", "", ""}, {"*", "", "\"*\""}, {"[-]c", "", "\"[\""}, {"~root", "", "\"~\""},
      {"a b", "", "a blank"}, {"a\tb", "", "a control character"}, {"a\xE2\x80\xA8", "", "\"\xE2\x80\xA8\""}, {"-oProxyCommand=x", "", "start with \"-\""},
      {".x", "", "start with \".\""}, {"db%1", "", "\"%\""}, {"db@x", "", "\"@\""}, {"a;b", "", "\";\""}, {"a`b`", "", "\"`\""},
      {"fe80::1%", "", "no IPv6"}, {"fe80::zz", "", "no IPv6"}, {"::1%a b", "", "no IPv6"}, {"db", "a b", "a blank"},
      {"db", "-l", "starts with \"-\""}, {"db", "a@b@c", "\"@\""}, {"db", "@corp", "lacks a name"}, {"db", "$USER", "\"$\""}};
  // clang-format on
  for (const auto& [host, user, wrong] : cases) {
    const auto refusal = ssh::Refuse({}, {host, user});
    EXPECT_TRUE(refusal ? !std::string(wrong).empty() && refusal->code == ExitCode::Failure &&
                              refusal->reason.find(wrong) != std::string::npos
                        : std::string(wrong).empty())  // clang-format off
        << host << " " << user << ": " << (refusal ? refusal->reason : "");
  }
}

}  // namespace
}  // namespace kelvarin::testing
