#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>

#include "serial/port_names.h"
#include "serial/serial_port.h"
#include "serial/tty_posix.h"

namespace dravion {
namespace {

constexpr int kWriteTimeoutMs = 1000;

// Opens a tty exclusively: no other program may open it (TIOCEXCL) or lock it (flock) meanwhile.
// On failure returns -1 with errno telling why.
int OpenExclusive(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || CallTtyIoctl(fd, TIOCEXCL, nullptr) != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

// Lets go of a tty opened by OpenExclusive. The exclusive flag belongs to the tty, not to this
// descriptor: a pty keeps it after the close while its other side stays open, and then nobody but
// root could open it again. So it is cleared first; the lock goes with the descriptor.
void CloseExclusive(int fd) {
  CallTtyIoctl(fd, TIOCNXCL, nullptr);
  ::close(fd);
}

// The device that port `number` names, for messages: the device node behind a port folder entry
// (also when it has gone), else the entry that was looked for.
std::string DeviceOfPort(int number) {
  const std::string path = PortDevicePath(number);
  const std::string entry = path.empty() ? PortFolder() + "/COM" + std::to_string(number) : path;
  char target[PATH_MAX];
  if (const char* real = ::realpath(entry.c_str(), target)) return real;
  const ssize_t n = ::readlink(entry.c_str(), target, sizeof target - 1);
  return n > 0 && target[0] == '/' ? std::string(target, static_cast<size_t>(n)) : entry;
}

// Whether the port could be opened right now (a port held by another program cannot).
bool CanOpen(const std::string& path) {
  const int fd = OpenExclusive(path);
  if (fd < 0) return false;
  CloseExclusive(fd);
  return true;
}

speed_t SpeedOf(uint32_t baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return B230400;
  }
}

bool Configure(int fd, uint32_t baud) {
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) return false;
  ::cfmakeraw(&tio);
  tio.c_cflag &= ~(CSTOPB | PARENB | CRTSCTS | CSIZE);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY);
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  ::cfsetispeed(&tio, SpeedOf(baud));
  ::cfsetospeed(&tio, SpeedOf(baud));
  if (::tcsetattr(fd, TCSANOW, &tio) != 0) return false;
  // DTR and RTS low, as no flow control is used: some USB serial devices restart or change mode
  // on DTR. A pty has no modem lines and refuses the call, which is fine.
  int lines = TIOCM_DTR | TIOCM_RTS;
  CallTtyIoctl(fd, TIOCMBIC, &lines);
  ::tcflush(fd, TCIOFLUSH);
  return true;
}

}  // namespace

struct SerialPort::Impl {
  int fd = -1;
  int wake[2] = {-1, -1};
  std::thread reader;
  std::mutex io;
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
  Close();
}

bool SerialPort::IsOpen() const {
  return impl_->fd >= 0;
}

bool SerialPort::Open(uint32_t baud) {
  std::string line = "Open COM " + std::to_string(PortNumber) + " : ";
  if (IsOpen()) Close();
  lastFailure_ = {};
  if (PortNumber == 0) return false;
  const std::string device = DeviceOfPort(PortNumber);
  int fd = OpenExclusive(PortDevicePath(PortNumber));
  if (fd < 0) {
    lastFailure_ = DiagnoseOpenFailure(device, errno);
  } else if (!Configure(fd, baud) || ::pipe2(impl_->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    lastFailure_ = DiagnoseOpenFailure(device, errno);
    CloseExclusive(fd);
    fd = -1;
  }
  if (fd >= 0) {
    impl_->fd = fd;
    lineLost_ = false;
    try {
      impl_->reader = std::thread([this, fd, wakeFd = impl_->wake[0]] {
        bool lineAlive = true;
        for (;;) {
          pollfd fds[2] = {{wakeFd, POLLIN, 0}, {fd, POLLIN, 0}};
          if (::poll(fds, lineAlive ? 2 : 1, -1) < 0) {
            if (errno == EINTR) continue;
            break;
          }
          if (fds[0].revents != 0) break;
          const short events = fds[1].revents;
          if (events == 0) continue;
          int queued = 0;
          if ((events & POLLIN) && ::ioctl(fd, FIONREAD, &queued) == 0 && queued > 0) {
            OnReceive(queued);
          } else if (events & (POLLHUP | POLLERR | POLLNVAL | POLLIN)) {
            // The other end went away (an unplugged device): nothing more will come on this
            // handle, so wait for Close alone instead of spinning on the hang-up, and let a
            // waiting exchange fail now rather than after its resends.
            lineAlive = false;
            MarkLineLost();
          }
        }
      });
    } catch (const std::system_error& error) {
      lastFailure_ = DiagnoseOpenFailure(device, error.code().value());
      impl_->fd = -1;
      CloseExclusive(fd);
      for (int& end : impl_->wake)
        ::close(std::exchange(end, -1));
    }
  }
  line += IsOpen() ? "OK" : "Error";
  Log(line);
  return IsOpen();
}

bool SerialPort::Close() {
  if (!IsOpen()) return false;
  const uint8_t stop = 1;
  [[maybe_unused]] const auto written = ::write(impl_->wake[1], &stop, 1);
  if (impl_->reader.joinable()) impl_->reader.join();
  {
    std::lock_guard lock(impl_->io);
    CloseExclusive(impl_->fd);
    impl_->fd = -1;
  }
  for (int& end : impl_->wake)
    ::close(std::exchange(end, -1));
  Log("Close COM " + std::to_string(PortNumber) + " : OK");
  return true;
}

int SerialPort::WriteBytes(const uint8_t* bytes, int count) {
  if (!IsOpen() || bytes == nullptr || count <= 0) return 0;
  std::lock_guard lock(impl_->io);
  int written = 0;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (written < count) {
    const ssize_t n = ::write(impl_->fd, bytes + written, static_cast<size_t>(count - written));
    if (n > 0) {
      written += static_cast<int>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN) {
      if (errno == EIO || errno == ENXIO || errno == ENODEV || errno == EPIPE) MarkLineLost();
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd out{impl_->fd, POLLOUT, 0};
    if (::poll(&out, 1, static_cast<int>(left)) <= 0) break;
    if (out.revents & (POLLERR | POLLHUP)) {
      MarkLineLost();
      break;
    }
  }
  return written;
}

int SerialPort::ReadBytes(uint8_t* buffer, int count) {
  if (!IsOpen()) return 0;
  std::lock_guard lock(impl_->io);
  if (count <= 0 || buffer == nullptr) return 0;
  ssize_t n;
  do {
    n = ::read(impl_->fd, buffer, static_cast<size_t>(count));
  } while (n < 0 && errno == EINTR);
  return n > 0 ? static_cast<int>(n) : 0;
}

bool SerialPort::Probe(int number) {
  return CanOpen(PortDevicePath(number));
}

bool SerialPort::ProbeName(const std::string& name) {
  return CanOpen(PortDevicePathForValue(name));
}

PortOpenFailure CheckPort(int number) {
  if (number <= 0) return {};
  const int fd = OpenExclusive(PortDevicePath(number));
  if (fd < 0) {
    const int error = errno;  // before DeviceOfPort's calls change it
    return DiagnoseOpenFailure(DeviceOfPort(number), error);
  }
  CloseExclusive(fd);
  return {};
}

}  // namespace dravion
