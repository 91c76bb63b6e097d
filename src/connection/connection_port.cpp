#include "connection/connection_port.h"

#include "serial/serial_port.h"

namespace dravion {

void ComPortConnection::SetPortNumber(int number) {
  port_.PortNumber = number;
}
int ComPortConnection::PortNumber() const {
  return port_.PortNumber;
}
bool ComPortConnection::Open(uint32_t baud) {
  return port_.Open(baud);
}
bool ComPortConnection::Close() {
  return port_.Close();
}
bool ComPortConnection::IsOpen() const {
  return port_.IsOpen();
}
PortOpenFailure ComPortConnection::LastOpenFailure() const {
  return port_.LastOpenFailure();
}
PortOpenFailure ComPortConnection::Check(int number) {
  return CheckPort(number);
}
PortIdentity ComPortConnection::Identity(int number) {
  return UsbIdentityOfPort(number);
}

}  // namespace dravion
