#include <dirent.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "serial/port_names.h"
#include "serial/tty_posix.h"

namespace dravion {
namespace {

int SystemIoctl(int fd, unsigned long request, void* argument) {
  return ::ioctl(fd, request, argument);
}

TtyIoctl currentIoctl = SystemIoctl;

bool IsNumber(const char* text) {
  if (*text == '\0') return false;
  for (; *text != '\0'; ++text) {
    if (*text < '0' || *text > '9') return false;
  }
  return true;
}

std::string GroupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

// Whether process `pid` has `device` open; false when /proc does not let us look.
bool HoldsDevice(const std::string& pid, dev_t device) {
  const std::string folder = "/proc/" + pid + "/fd";
  DIR* fds = ::opendir(folder.c_str());
  if (fds == nullptr) return false;
  bool holds = false;
  while (dirent* entry = ::readdir(fds)) {
    if (!IsNumber(entry->d_name)) continue;
    struct stat info {};
    if (::stat((folder + "/" + entry->d_name).c_str(), &info) == 0 && S_ISCHR(info.st_mode) &&
        info.st_rdev == device) {
      holds = true;
      break;
    }
  }
  ::closedir(fds);
  return holds;
}

}  // namespace

TtyIoctl SetTtyIoctl(TtyIoctl replacement) {
  const TtyIoctl previous = currentIoctl;
  currentIoctl = replacement != nullptr ? replacement : SystemIoctl;
  return previous;
}

int CallTtyIoctl(int fd, unsigned long request, void* argument) {
  return currentIoctl(fd, request, argument);
}

PortHolder FindDeviceHolder(dev_t device) {
  PortHolder holder;
  DIR* processes = ::opendir("/proc");
  if (processes == nullptr) return holder;
  const std::string self = std::to_string(::getpid());
  bool selfHolds = false;
  while (dirent* entry = ::readdir(processes)) {
    if (!IsNumber(entry->d_name)) continue;
    if (self == entry->d_name) {
      selfHolds = HoldsDevice(self, device);
      continue;
    }
    if (HoldsDevice(entry->d_name, device)) {
      holder.pid = std::atoi(entry->d_name);
      break;
    }
  }
  ::closedir(processes);
  if (holder.pid == 0 && selfHolds) holder.pid = ::getpid();
  if (holder.pid != 0) {
    std::ifstream comm("/proc/" + std::to_string(holder.pid) + "/comm");
    std::getline(comm, holder.name);
  }
  return holder;
}

PortOpenFailure DiagnoseOpenFailure(const std::string& device, int error) {
  PortOpenFailure failure;
  failure.device = device;
  struct stat info {};
  const bool exists = !device.empty() && ::stat(device.c_str(), &info) == 0;
  if (!exists || error == ENOENT || error == ENODEV || error == ENXIO || error == EIO) {
    // EIO: a tty node with no hardware behind it (a built-in port that the machine lacks).
    failure.fault = PortFault::Missing;
  } else if (error == EACCES || error == EPERM) {
    failure.fault = PortFault::Denied;
    failure.group = GroupName(info.st_gid);
  } else if (error == EBUSY || error == EWOULDBLOCK) {
    failure.fault = PortFault::Busy;
    if (S_ISCHR(info.st_mode)) {
      const PortHolder holder = FindDeviceHolder(info.st_rdev);
      failure.holderPid = holder.pid;
      failure.holderName = holder.name;
    }
  } else {
    failure.fault = PortFault::Other;
    failure.error = std::strerror(error);
  }
  return failure;
}

}  // namespace dravion
