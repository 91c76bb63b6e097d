// The values the Windows serial backend hands to the system and how it reads the system's errors.
// Built for Windows only; ./test runs it under Wine, which is lenient where drivers are not, so the
// values are checked against the documented rules rather than against what Wine accepts.
#ifdef _WIN32
#include "serial/port_rules_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "connection/port_help.h"
#include "serial/serial_port.h"
#include "services/language.h"

namespace dravion {
namespace {

// Every documented precondition of SetupComm(inQueue, outQueue) followed by SetCommState(dcb)
// that `dcb` breaks, in words.
std::vector<std::string> BrokenRules(const DCB& dcb, DWORD inQueue, DWORD outQueue) {
  std::vector<std::string> broken;
  auto rule = [&broken](bool holds, const char* text) {
    if (!holds) broken.emplace_back(text);
  };
  rule(inQueue > 0 && outQueue > 0, "queue sizes are positive");
  rule(dcb.DCBlength == sizeof(DCB), "DCBlength is sizeof(DCB)");
  rule(dcb.BaudRate > 0, "a baud rate is given");
  rule(dcb.fBinary == 1, "binary mode (Windows has no other)");
  rule(dcb.XonChar != dcb.XoffChar, "XonChar differs from XoffChar");
  rule(dcb.ByteSize >= 5 && dcb.ByteSize <= 8, "5 to 8 data bits");
  rule(!(dcb.ByteSize == 5 && dcb.StopBits == TWOSTOPBITS), "no 5 data bits with 2 stop bits");
  rule(!(dcb.ByteSize >= 6 && dcb.StopBits == ONE5STOPBITS), "no 6 to 8 data bits with 1.5 stop");
  rule(dcb.StopBits <= TWOSTOPBITS, "a known stop-bit setting");
  rule(dcb.Parity <= SPACEPARITY, "a known parity");
  rule(dcb.fDtrControl <= DTR_CONTROL_HANDSHAKE, "a known DTR control");
  rule(dcb.wReserved == 0, "wReserved is zero");
  rule(dcb.XonLim <= inQueue && dcb.XoffLim <= inQueue, "the flow limits fit the input queue");
  rule(dcb.XonLim <= inQueue - dcb.XoffLim, "resuming starts below the stop level");
  return broken;
}

// A block as a driver might hand it out: every member set, the two flow characters equal, a
// reserved word that is not zero, flow control on.
DCB DriverBlock() {
  DCB dcb;
  std::memset(&dcb, 0xFF, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  dcb.XonChar = dcb.XoffChar = 0;
  dcb.ErrorChar = '?';
  dcb.EofChar = 0x1A;
  dcb.EvtChar = '\n';
  return dcb;
}

TEST(WindowsPortRules, TheLineSettingsMeetEveryDocumentedRuleAndMean8N1WithoutFlowControl) {
  // The rules themselves catch what real drivers refuse.
  const DCB raw = DriverBlock();
  const std::vector<std::string> rawBroken = BrokenRules(raw, kPortQueueBytes, kPortQueueBytes);
  EXPECT_NE(std::find(rawBroken.begin(), rawBroken.end(), "XonChar differs from XoffChar"),
            rawBroken.end());
  EXPECT_NE(std::find(rawBroken.begin(), rawBroken.end(), "wReserved is zero"), rawBroken.end());

  for (uint32_t baud : {230400u, 9600u}) {
    DCB dcb = DriverBlock();
    SetLineSettings(dcb, baud);
    EXPECT_EQ(BrokenRules(dcb, kPortQueueBytes, kPortQueueBytes), std::vector<std::string>{});
    // A driver is free to keep smaller queues than recommended; the limits still fit 2 KiB.
    EXPECT_EQ(BrokenRules(dcb, 2048, 2048), std::vector<std::string>{});
    EXPECT_EQ(dcb.BaudRate, baud);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, NOPARITY);
    EXPECT_EQ(dcb.fParity, 0u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    // No flow control, no replaced or dropped bytes, no abort on line errors.
    EXPECT_EQ(dcb.fOutxCtsFlow | dcb.fOutxDsrFlow | dcb.fOutX | dcb.fInX | dcb.fDsrSensitivity, 0u);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fErrorChar | dcb.fNull | dcb.fAbortOnError, 0u);
    // What the program has no say in stays as the driver gave it.
    EXPECT_EQ(dcb.ErrorChar, '?');
    EXPECT_EQ(dcb.EofChar, 0x1A);
    EXPECT_EQ(dcb.EvtChar, '\n');
  }

  // Time-outs: reads of what is queued return at once (interval MAXDWORD); the reader thread's
  // own reads use the documented "wait for the first byte up to a constant" combination.
  const COMMTIMEOUTS queued = PortTimeouts(false, 200);
  EXPECT_EQ(queued.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(queued.ReadTotalTimeoutMultiplier, 0u);
  EXPECT_EQ(queued.ReadTotalTimeoutConstant, 0u);
  EXPECT_GT(queued.WriteTotalTimeoutConstant, 0u);
  const COMMTIMEOUTS waiting = PortTimeouts(true, 200);
  EXPECT_EQ(waiting.ReadIntervalTimeout, MAXDWORD);
  EXPECT_EQ(waiting.ReadTotalTimeoutMultiplier, MAXDWORD);
  EXPECT_GT(waiting.ReadTotalTimeoutConstant, 0u);
  EXPECT_LT(waiting.ReadTotalTimeoutConstant, MAXDWORD);
}

// The process's error mode belongs to everyone in it: opening ports adds its flag, once, and takes
// no other away.
TEST(WindowsPortRules, OpeningPortsKeepsTheProcesssOtherErrorModeFlags) {
  EXPECT_EQ(ErrorModeForPorts(SEM_NOGPFAULTERRORBOX),
            UINT{SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS});
  const UINT before = ::GetErrorMode();
  ::SetErrorMode(before | SEM_NOGPFAULTERRORBOX);
  struct QuietPort : SerialPort {
    void OnReceive(int) override {}
  } port;
  port.PortNumber = 250;  // no such port: the open fails after setting the mode
  EXPECT_FALSE(port.Open(230400));
  ::SetErrorMode(::GetErrorMode() | SEM_NOOPENFILEERRORBOX);
  EXPECT_FALSE(port.Open(230400));
  const UINT mode = ::GetErrorMode();
  ::SetErrorMode(before);
  EXPECT_EQ(mode & SEM_NOGPFAULTERRORBOX, UINT{SEM_NOGPFAULTERRORBOX});
  EXPECT_EQ(mode & SEM_NOOPENFILEERRORBOX, UINT{SEM_NOOPENFILEERRORBOX});
  EXPECT_EQ(mode & SEM_FAILCRITICALERRORS, UINT{SEM_FAILCRITICALERRORS});
}

TEST(WindowsPortRules, OnlyRemovalErrorsCountAsTheDeviceGoneAndFailedOpensSayWhy) {
  for (DWORD gone : {ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_GEN_FAILURE, ERROR_DEV_NOT_EXIST,
                     ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED}) {
    EXPECT_TRUE(IsDeviceGoneError(gone)) << gone;
  }
  // A cancelled or timed-out read, a pending one, a line error: the device is still there.
  for (DWORD there : {DWORD{ERROR_SUCCESS}, DWORD{ERROR_OPERATION_ABORTED}, DWORD{ERROR_IO_PENDING},
                      DWORD{ERROR_IO_INCOMPLETE}, DWORD{ERROR_SEM_TIMEOUT}, DWORD{WAIT_TIMEOUT},
                      DWORD{ERROR_INVALID_PARAMETER}, DWORD{ERROR_COUNTER_TIMEOUT}}) {
    EXPECT_FALSE(IsDeviceGoneError(there)) << there;
  }

  struct Case {
    DWORD error;
    PortFault fault;
  };
  for (const Case& c :
       {Case{ERROR_FILE_NOT_FOUND, PortFault::Missing},
        Case{ERROR_PATH_NOT_FOUND, PortFault::Missing},
        Case{ERROR_DEVICE_NOT_CONNECTED, PortFault::Missing},
        Case{ERROR_ACCESS_DENIED, PortFault::Busy}, Case{ERROR_SHARING_VIOLATION, PortFault::Busy},
        Case{ERROR_GEN_FAILURE, PortFault::Other},
        Case{ERROR_INVALID_PARAMETER, PortFault::Other}}) {
    const PortOpenFailure failure =
        OpenFailureFromError(7, c.error, "text " + std::to_string(c.error));
    EXPECT_EQ(failure.fault, c.fault) << c.error;
    EXPECT_EQ(failure.device, "COM7");
    EXPECT_EQ(failure.error, "text " + std::to_string(c.error));
  }

  // The line the log and the terminal show: the reason, the remedy, the system's own words.
  Language language;
  language.Set(Lang::English);
  const std::string busy = PortFailureText(
      7, OpenFailureFromError(7, ERROR_ACCESS_DENIED, SystemErrorText(ERROR_ACCESS_DENIED)),
      language);
  EXPECT_NE(busy.find("COM 7: "), std::string::npos) << busy;
  EXPECT_NE(busy.find("in use by another program"), std::string::npos) << busy;
  EXPECT_NE(busy.find("(system: " + SystemErrorText(ERROR_ACCESS_DENIED) + ")"), std::string::npos)
      << busy;
  const std::string missing =
      PortFailureText(7, OpenFailureFromError(7, ERROR_FILE_NOT_FOUND, "x"), language);
  EXPECT_NE(missing.find("there is no device at COM7"), std::string::npos) << missing;
  const std::string other =
      PortFailureText(7, OpenFailureFromError(7, ERROR_GEN_FAILURE, "A device failed"), language);
  EXPECT_NE(other.find("cannot open COM7: A device failed."), std::string::npos) << other;

  // The system's texts come without the final full stop and line break; unknown codes by number.
  const std::string denied = SystemErrorText(ERROR_ACCESS_DENIED);
  EXPECT_FALSE(denied.empty());
  EXPECT_NE(denied.back(), '.');
  EXPECT_EQ(denied.find('\n'), std::string::npos);
  EXPECT_EQ(SystemErrorText(0x2FFFFFFF), "error 805306367");
  // A port that does not exist is named so by a real open.
  EXPECT_EQ(CheckPort(247).fault, PortFault::Missing);
}

}  // namespace
}  // namespace dravion
#endif
