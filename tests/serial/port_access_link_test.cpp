// The port as an ordinary user meets it: reopening after a close, the modem lines, and why an open
// fails (missing device, no permission, held by another process).
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "protocol/decoding_port.h"
#include "serial/channels.h"
#include "serial/tty_posix.h"
#include "support/pty.h"

namespace dravion {
namespace {

constexpr uid_t kOrdinaryUser = 65534;  // nobody

// Runs `work` as an ordinary user and returns what it returns: directly when this process is not
// root, else in a child process that has dropped root.
std::string AsOrdinaryUser(const std::function<std::string()>& work) {
  if (::geteuid() != 0) return work();
  int out[2];
  if (::pipe(out) != 0) return "pipe failed";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(out[0]);
    std::string result = "could not drop root";
    if (::setgroups(0, nullptr) == 0 &&
        ::setresgid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) == 0 &&
        ::setresuid(kOrdinaryUser, kOrdinaryUser, kOrdinaryUser) == 0) {
      result = work();
    }
    [[maybe_unused]] const auto written = ::write(out[1], result.data(), result.size());
    ::_exit(0);
  }
  ::close(out[1]);
  std::string result;
  char buffer[512];
  ssize_t n;
  while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
    result.append(buffer, static_cast<size_t>(n));
  ::close(out[0]);
  ::waitpid(child, nullptr, 0);
  return result;
}

std::string Describe(const PortOpenFailure& f) {
  switch (f.fault) {
    case PortFault::None:
      return "none";
    case PortFault::Missing:
      return "missing " + f.device;
    case PortFault::Denied:
      return "denied " + f.device + " group " + f.group;
    case PortFault::Busy:
      return "busy " + f.device + " pid " + std::to_string(f.holderPid) + " " + f.holderName;
    case PortFault::Other:
      return "other " + f.device + ": " + f.error;
  }
  return "?";
}

struct AccessFixture : ::testing::Test {
  AccessFixture() {
    ::chmod(folder.path().c_str(), 0755);  // for the ordinary user when the tests run as root
    folder.Add("COM7", pty.slavePath());
    port.PortNumber = 7;
    port.LogCallback = [this](const std::string& line) { log.push_back(line); };
  }
  // Whether an ordinary user can open and exclusively lock the pty now, as the manager does. (No
  // reader thread is started in the forked child: threads after a fork are not for every tool.)
  bool OrdinaryUserOpens() {
    return AsOrdinaryUser([] { return Describe(CheckPort(7)); }) == "none";
  }

  std::vector<std::string> log;
  test::TempPortFolder folder;
  test::PtyPair pty;
  ChannelRegistry registry;
  DecodingPort port{registry};
};

TEST_F(AccessFixture, AnOrdinaryUserOpensThePortAgainAfterItWasClosed) {
  // The pty is root's when the tests run as root; the device node of a user's own port is open to
  // that user (group dialout), which this stands for.
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
  ASSERT_TRUE(port.Open(230400));
  EXPECT_FALSE(OrdinaryUserOpens()) << "the port is exclusive while open";
  ASSERT_TRUE(port.Close());
  EXPECT_TRUE(OrdinaryUserOpens());
  // A probe lets go of the port the same way.
  EXPECT_TRUE(port.Probe(7));
  EXPECT_TRUE(OrdinaryUserOpens());
}

// Modem lines as a USB serial device has them: raised by the open, changed by the TIOCM calls.
// A pty has none to read back, so the port's ioctl calls go through this one.
int modemLines = 0;
std::vector<unsigned long> requests;
int ObservingIoctl(int fd, unsigned long request, void* argument) {
  requests.push_back(request);
  int* bits = static_cast<int*>(argument);
  switch (request) {
    case TIOCMBIS:
      modemLines |= *bits;
      return 0;
    case TIOCMBIC:
      modemLines &= ~*bits;
      return 0;
    case TIOCMSET:
      modemLines = *bits;
      return 0;
    case TIOCMGET:
      *bits = modemLines;
      return 0;
    default:
      return ::ioctl(fd, request, argument);
  }
}

TEST_F(AccessFixture, OpenLowersDtrAndRtsAndCloseClearsTheExclusiveFlag) {
  modemLines = TIOCM_DTR | TIOCM_RTS;
  requests.clear();
  const TtyIoctl previous = SetTtyIoctl(ObservingIoctl);
  const bool opened = port.Open(230400);
  const int linesWhileOpen = modemLines;
  port.Close();
  SetTtyIoctl(previous);
  ASSERT_TRUE(opened);
  EXPECT_EQ(linesWhileOpen & (TIOCM_DTR | TIOCM_RTS), 0);
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.front(), static_cast<unsigned long>(TIOCEXCL));
  EXPECT_EQ(requests.back(), static_cast<unsigned long>(TIOCNXCL));
}

TEST_F(AccessFixture, AMissingDeviceIsToldApart) {
  // A port folder entry whose device went away (unplugged), and a number with no device at all.
  test::PtyPair gone;
  folder.Add("COM130", gone.slavePath());
  gone.CloseMaster();
  port.PortNumber = 130;
  EXPECT_FALSE(port.Open(230400));
  EXPECT_EQ(Describe(port.LastOpenFailure()), "missing " + gone.slavePath());
  port.PortNumber = 131;
  EXPECT_FALSE(port.Open(230400));
  EXPECT_EQ(Describe(port.LastOpenFailure()), "missing " + folder.path() + "/COM131");
  EXPECT_EQ(log, (std::vector<std::string>{"Open COM 130 : Error", "Open COM 131 : Error"}));
  EXPECT_EQ(Describe(CheckPort(131)), "missing " + folder.path() + "/COM131");
  // A port that opens leaves no failure behind.
  port.PortNumber = 7;
  EXPECT_TRUE(port.Open(230400));
  EXPECT_EQ(Describe(port.LastOpenFailure()), "none");
  EXPECT_EQ(Describe(CheckPort(0)), "none");
}

TEST_F(AccessFixture, ADeviceTheUserMayNotOpenNamesItsGroup) {
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
  struct stat info {};
  ASSERT_EQ(::stat(pty.slavePath().c_str(), &info), 0);
  const group* owner = ::getgrgid(info.st_gid);
  ASSERT_NE(owner, nullptr);
  const std::string seen = AsOrdinaryUser([this] {
    DecodingPort other(registry);
    other.PortNumber = 7;
    other.Open(230400);
    return Describe(other.LastOpenFailure()) + "|" + Describe(CheckPort(7));
  });
  const std::string expected = "denied " + pty.slavePath() + " group " + owner->gr_name;
  EXPECT_EQ(seen, expected + "|" + expected);
}

TEST_F(AccessFixture, ABusyPortNamesTheProcessThatHoldsIt) {
  // Another process holds the port as a terminal program would: open, locked, exclusive.
  int ready[2], release[2];
  ASSERT_EQ(::pipe(ready), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t holder = ::fork();
  if (holder == 0) {
    ::close(ready[0]);
    ::close(release[1]);
    ::prctl(PR_SET_NAME, "porthold");
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::ioctl(fd, TIOCEXCL) == 0 ? 1 : 0;
    [[maybe_unused]] auto w = ::write(ready[1], &ok, 1);
    char c;
    [[maybe_unused]] auto r = ::read(release[0], &c, 1);  // until the parent closes its end
    ::ioctl(fd, TIOCNXCL);  // a pty would keep the flag after the exit
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release[0]);
  char ok = 0;
  ASSERT_EQ(::read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 1);

  EXPECT_FALSE(port.Open(230400));
  const std::string expected =
      "busy " + pty.slavePath() + " pid " + std::to_string(holder) + " porthold";
  EXPECT_EQ(Describe(port.LastOpenFailure()), expected);
  EXPECT_EQ(Describe(CheckPort(7)), expected);
  EXPECT_FALSE(port.Probe(7));

  ::close(release[1]);
  ::waitpid(holder, nullptr, 0);
  ::close(ready[0]);
  EXPECT_TRUE(port.Open(230400));
}

}  // namespace
}  // namespace dravion
