#include <windows.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "serial/port_names.h"
#include "serial/port_rules_win32.h"
#include "serial/serial_port.h"

namespace dravion {
namespace {

HANDLE OpenDevice(const std::string& name) {
  return ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Whether the port could be opened right now (a port held by another program cannot).
bool CanOpen(const std::string& name) {
  const HANDLE handle = OpenDevice(name);
  if (handle == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(handle);
  return true;
}

// Time-outs of the reads: return what is queued at once. When the driver refuses WaitCommEvent,
// the reader thread instead waits in reads that return as soon as a byte arrives, or empty after
// kFallbackReadWaitMs (so that a stop request is seen without a busy loop).
constexpr DWORD kFallbackReadWaitMs = 200;

bool SetReadTimeouts(HANDLE handle, bool blocking) {
  COMMTIMEOUTS timeouts = PortTimeouts(blocking, kFallbackReadWaitMs);
  return ::SetCommTimeouts(handle, &timeouts) != 0;
}

// A step of the set-up that failed but does not stop I/O: the driver keeps its own settings.
struct SetupFault {
  const char* step = nullptr;
  DWORD error = 0;
};

// Sets the port up. Only what stops I/O fails it: without its time-outs a read would wait for a
// full buffer. Some virtual COM port drivers refuse the line settings (a USB CDC device ignores
// them anyway) or the event mask (the reader thread then reads without comm events); those are
// reported in `fault` and the port is used as it is.
bool Configure(HANDLE handle, uint32_t baud, DCB& dcb, SetupFault& fault) {
  auto note = [&fault](const char* step) {
    if (fault.step == nullptr) fault = SetupFault{step, ::GetLastError()};
  };
  if (!::SetupComm(handle, kPortQueueBytes, kPortQueueBytes)) note("SetupComm");
  dcb = DCB{};
  dcb.DCBlength = sizeof dcb;
  if (!::GetCommState(handle, &dcb)) {
    note("GetCommState");
  } else {
    SetLineSettings(dcb, baud);
    if (!::SetCommState(handle, &dcb)) note("SetCommState");
  }
  if (!SetReadTimeouts(handle, false)) return false;
  ::PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  if (!::SetCommMask(handle, EV_RXCHAR | EV_ERR)) note("SetCommMask");
  return true;
}

}  // namespace

struct SerialPort::Impl {
  HANDLE handle = INVALID_HANDLE_VALUE;
  DCB dcb{};
  std::mutex io;  // serialises ReadFile and WriteFile
  OVERLAPPED writeOverlap{};
  OVERLAPPED readOverlap{};
  OVERLAPPED eventOverlap{};
  OVERLAPPED fallbackOverlap{};
  HANDLE stopEvent = nullptr;
  HANDLE reader = nullptr;
  // Bytes the reader thread read itself (when the driver refuses WaitCommEvent), handed out by
  // ReadBytes before anything else. Guarded by `io`.
  std::vector<uint8_t> received;
  // Ports whose driver refused a set-up step, already logged (once per port and run).
  std::set<int> setupFaultLogged;

  void CloseEvents() {
    for (OVERLAPPED* o : {&writeOverlap, &readOverlap, &eventOverlap, &fallbackOverlap}) {
      if (o->hEvent) ::CloseHandle(o->hEvent);
      o->hEvent = nullptr;
    }
    if (stopEvent) ::CloseHandle(stopEvent);
    stopEvent = nullptr;
  }

  // Runs the same overlapped transfer for reads and writes: start it, wait for completion.
  // Sets `gone` when it failed the way I/O on an unplugged device fails.
  template <typename Start>
  int Transfer(OVERLAPPED& overlap, bool& gone, Start start) {
    std::lock_guard lock(io);
    ::ResetEvent(overlap.hEvent);
    DWORD done = 0;
    if (!start(&done, &overlap)) {
      DWORD error = ::GetLastError();
      if (error == ERROR_IO_PENDING) {
        if (::GetOverlappedResult(handle, &overlap, &done, TRUE)) return static_cast<int>(done);
        error = ::GetLastError();
      }
      gone = IsDeviceGoneError(error);
      return 0;
    }
    return static_cast<int>(done);
  }

  // The reader thread when the driver refuses WaitCommEvent (some virtual COM drivers do): it
  // waits in overlapped reads of its own and hands what arrives to OnReceive. Returns when
  // stopped.
  void ReadWithoutCommEvents(SerialPort& port) {
    SetReadTimeouts(handle, true);
    const HANDLE waits[2] = {stopEvent, fallbackOverlap.hEvent};
    uint8_t chunk[1024];
    for (;;) {
      if (::WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) return;
      ::ResetEvent(fallbackOverlap.hEvent);
      DWORD got = 0;
      if (!::ReadFile(handle, chunk, sizeof chunk, &got, &fallbackOverlap)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING) {
          // A failing read (the device went away): try again a little later, or stop.
          if (IsDeviceGoneError(error)) port.MarkLineLost();
          if (::WaitForSingleObject(stopEvent, kFallbackReadWaitMs) == WAIT_OBJECT_0) return;
          continue;
        }
        if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) {
          ::CancelIo(handle);
          ::GetOverlappedResult(handle, &fallbackOverlap, &got, TRUE);
          return;
        }
        if (!::GetOverlappedResult(handle, &fallbackOverlap, &got, FALSE)) {
          if (IsDeviceGoneError(::GetLastError())) port.MarkLineLost();
          got = 0;
        }
      }
      if (got == 0) continue;
      int queued;
      {
        std::lock_guard lock(io);
        received.insert(received.end(), chunk, chunk + got);
        queued = static_cast<int>(received.size());
      }
      port.OnReceive(queued);
    }
  }
};

SerialPort::SerialPort() : impl_(std::make_unique<Impl>()) {}

SerialPort::~SerialPort() {
  Close();
}

bool SerialPort::IsOpen() const {
  return impl_->handle != INVALID_HANDLE_VALUE;
}

bool SerialPort::Open(uint32_t baud) {
  std::string line = "Open COM " + std::to_string(PortNumber) + " : ";
  if (IsOpen()) Close();
  if (PortNumber == 0) return false;
  // The process's error mode is set once, keeping the flags it has: it belongs to the whole
  // process, and a second thread would otherwise see its own flags taken away.
  static std::once_flag errorMode;
  std::call_once(errorMode, [] { ::SetErrorMode(ErrorModeForPorts(::GetErrorMode())); });
  Impl& p = *impl_;
  lastFailure_ = {};
  HANDLE handle = OpenDevice(PortDevicePath(PortNumber));
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD error = ::GetLastError();
    lastFailure_ = OpenFailureFromError(PortNumber, error, SystemErrorText(error));
  } else {
    SetupFault fault;
    if (!Configure(handle, baud, p.dcb, fault)) {
      const DWORD error = ::GetLastError();
      lastFailure_ = OpenFailureFromError(PortNumber, error, SystemErrorText(error));
      lastFailure_.fault = PortFault::Other;
      ::CloseHandle(handle);
      handle = INVALID_HANDLE_VALUE;
    } else if (fault.step != nullptr && p.setupFaultLogged.insert(PortNumber).second) {
      Log("COM " + std::to_string(PortNumber) + ": " + fault.step + " refused, error " +
          std::to_string(fault.error) + " (" + SystemErrorText(fault.error) +
          "); the port is used with the driver's own settings");
    }
  }
  if (handle != INVALID_HANDLE_VALUE) {
    p.writeOverlap = OVERLAPPED{};
    p.readOverlap = OVERLAPPED{};
    p.eventOverlap = OVERLAPPED{};
    p.fallbackOverlap = OVERLAPPED{};
    p.received.clear();
    for (OVERLAPPED* o : {&p.writeOverlap, &p.readOverlap, &p.eventOverlap, &p.fallbackOverlap}) {
      o->hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    p.stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p.handle = handle;
    lineLost_ = false;
    p.reader = ::CreateThread(
        nullptr, 0,
        [](LPVOID self) -> DWORD {
          auto* port = static_cast<SerialPort*>(self);
          Impl& q = *port->impl_;
          const HANDLE waits[2] = {q.stopEvent, q.eventOverlap.hEvent};
          for (;;) {
            ::ResetEvent(q.eventOverlap.hEvent);
            DWORD mask = 0;
            if (!::WaitCommEvent(q.handle, &mask, &q.eventOverlap)) {
              if (::GetLastError() != ERROR_IO_PENDING) {
                q.ReadWithoutCommEvents(*port);
                return 0;
              }
              const DWORD woke = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
              if (woke != WAIT_OBJECT_0 + 1) {
                // Stop requested: cancel the pending wait and let it finish before leaving.
                ::CancelIo(q.handle);
                DWORD ignored = 0;
                ::GetOverlappedResult(q.handle, &q.eventOverlap, &ignored, TRUE);
                return 0;
              }
              DWORD ignored = 0;
              if (!::GetOverlappedResult(q.handle, &q.eventOverlap, &ignored, FALSE)) {
                if (IsDeviceGoneError(::GetLastError())) {
                  // Unplugged: nothing more will come on this handle; wait for Close.
                  port->MarkLineLost();
                  ::WaitForSingleObject(q.stopEvent, INFINITE);
                  return 0;
                }
                continue;
              }
            }
            if (::WaitForSingleObject(q.stopEvent, 0) == WAIT_OBJECT_0) return 0;
            COMSTAT status{};
            DWORD errors = 0;
            ::ClearCommError(q.handle, &errors, &status);
            if ((mask & EV_RXCHAR) && status.cbInQue != 0) {
              port->OnReceive(static_cast<int>(status.cbInQue));
            }
          }
        },
        this, 0, nullptr);
    if (p.reader == nullptr) {
      const DWORD error = ::GetLastError();
      lastFailure_ = OpenFailureFromError(PortNumber, error, SystemErrorText(error));
      lastFailure_.fault = PortFault::Other;
      ::CloseHandle(p.handle);
      p.handle = INVALID_HANDLE_VALUE;
      p.CloseEvents();
    }
  }
  line += IsOpen() ? "OK" : "Error";
  Log(line);
  return IsOpen();
}

bool SerialPort::Close() {
  if (!IsOpen()) return false;
  Impl& p = *impl_;
  ::SetEvent(p.stopEvent);
  ::WaitForSingleObject(p.reader, INFINITE);
  ::CloseHandle(p.reader);
  p.reader = nullptr;
  {
    std::lock_guard lock(p.io);
    ::CloseHandle(p.handle);
    p.handle = INVALID_HANDLE_VALUE;
  }
  p.CloseEvents();
  Log("Close COM " + std::to_string(PortNumber) + " : OK");
  return true;
}

int SerialPort::WriteBytes(const uint8_t* bytes, int count) {
  if (!IsOpen() || bytes == nullptr || count <= 0) return 0;
  HANDLE handle = impl_->handle;
  bool gone = false;
  const int written = impl_->Transfer(impl_->writeOverlap, gone, [&](DWORD* done, OVERLAPPED* o) {
    return ::WriteFile(handle, bytes, static_cast<DWORD>(count), done, o) != 0;
  });
  if (gone) MarkLineLost();
  return written;
}

int SerialPort::ReadBytes(uint8_t* buffer, int count) {
  if (!IsOpen()) return 0;
  if (count <= 0 || buffer == nullptr) {
    std::lock_guard lock(impl_->io);
    return 0;
  }
  {
    std::lock_guard lock(impl_->io);
    std::vector<uint8_t>& received = impl_->received;
    if (!received.empty()) {
      const int n = std::min(count, static_cast<int>(received.size()));
      std::copy(received.begin(), received.begin() + n, buffer);
      received.erase(received.begin(), received.begin() + n);
      return n;
    }
  }
  HANDLE handle = impl_->handle;
  bool gone = false;
  const int read = impl_->Transfer(impl_->readOverlap, gone, [&](DWORD* done, OVERLAPPED* o) {
    return ::ReadFile(handle, buffer, static_cast<DWORD>(count), done, o) != 0;
  });
  if (gone) MarkLineLost();
  return read;
}

bool SerialPort::Probe(int number) {
  return CanOpen(PortDevicePath(number));
}

bool SerialPort::ProbeName(const std::string& name) {
  return CanOpen(PortDevicePathForValue(name));
}

}  // namespace dravion
