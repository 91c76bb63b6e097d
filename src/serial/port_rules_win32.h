#pragma once

// The values the Windows serial backend hands to the system, and how it reads the system's error
// codes, as functions of their inputs alone (the unit tests check them against the documented
// rules of SetCommState and SetupComm).
#include <windows.h>

#include <cstdint>
#include <string>

#include "serial/port_fault.h"
#include "services/wide_text_win32.h"

namespace dravion {

// The recommended sizes of the driver's input and output queues (SetupComm).
inline constexpr DWORD kPortQueueBytes = 4096;

// Sets the line to `baud`, 8 data bits, no parity, one stop bit, binary, no flow control of any
// kind, leaving the members this program has no say in as GetCommState returned them. Xon and
// Xoff are distinct (SetCommState refuses equal ones) though flow control never sends them.
void SetLineSettings(DCB& dcb, uint32_t baud);

// The read and write time-outs: reads return what is queued at once; with `blocking` (the reader
// thread when the driver refuses WaitCommEvent) they wait for the first byte up to `waitMs`.
COMMTIMEOUTS PortTimeouts(bool blocking, DWORD waitMs);

// The process error mode once ports are opened: the `current` flags and SEM_FAILCRITICALERRORS
// (a device that is not ready fails the call instead of showing the system's box).
inline UINT ErrorModeForPorts(UINT current) {
  return current | SEM_FAILCRITICALERRORS;
}

// Whether a failed I/O operation means that the device went away (a USB serial adapter unplugged).
// An aborted operation does not: a cancelled or timed-out overlapped read ends that way on a
// device that is still there.
bool IsDeviceGoneError(DWORD error);

// Why port `number` did not open, from CreateFile's error and the system's text for it.
PortOpenFailure OpenFailureFromError(int number, DWORD error, const std::string& systemText);

}  // namespace dravion
