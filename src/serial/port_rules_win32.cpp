#include "serial/port_rules_win32.h"

namespace dravion {

void SetLineSettings(DCB& dcb, uint32_t baud) {
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = baud;
  dcb.fBinary = 1;
  dcb.fParity = 0;
  dcb.fOutxCtsFlow = 0;
  dcb.fOutxDsrFlow = 0;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fDsrSensitivity = 0;
  dcb.fTXContinueOnXoff = 1;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fErrorChar = 0;
  dcb.fNull = 0;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fAbortOnError = 0;
  dcb.wReserved = 0;
  // Flow control is off, so the limits are never applied; they are kept within the input queue,
  // whatever size the driver settles on, with the resume level below the stop level.
  dcb.XonLim = 1024;
  dcb.XoffLim = 1024;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.XonChar = 0x11;
  dcb.XoffChar = 0x13;
}

COMMTIMEOUTS PortTimeouts(bool blocking, DWORD waitMs) {
  COMMTIMEOUTS timeouts{};
  // SetCommTimeouts documents two combinations with ReadIntervalTimeout MAXDWORD: both totals 0,
  // return at once with what was received; multiplier MAXDWORD and a constant between 0 and
  // MAXDWORD, return as soon as a byte is there or after the constant.
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = blocking ? MAXDWORD : 0;
  timeouts.ReadTotalTimeoutConstant = blocking ? waitMs : 0;
  timeouts.WriteTotalTimeoutMultiplier = 100;
  timeouts.WriteTotalTimeoutConstant = 100;
  return timeouts;
}

bool IsDeviceGoneError(DWORD error) {
  switch (error) {
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
      return true;
    default:
      return false;
  }
}

PortOpenFailure OpenFailureFromError(int number, DWORD error, const std::string& systemText) {
  PortOpenFailure failure;
  failure.device = "COM" + std::to_string(number);
  failure.error = systemText;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_NOT_READY:
      failure.fault = PortFault::Missing;
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      // A COM port is opened without sharing: the system answers "access denied" while another
      // program holds it.
      failure.fault = PortFault::Busy;
      break;
    default:
      failure.fault = PortFault::Other;
      break;
  }
  return failure;
}

}  // namespace dravion
