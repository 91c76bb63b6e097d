#include <windows.h>
// After windows.h.
#include <setupapi.h>
// After setupapi.h.
#include <cfgmgr32.h>

#include <iterator>
#include <string>

#include "serial/port_identity.h"
#include "serial/serial_port.h"

namespace dravion {
namespace {

// The device setup class "Ports (COM & LPT)" (GUID_DEVCLASS_PORTS).
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

std::string Narrow(const wchar_t* text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string out(static_cast<size_t>(size - 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
  return out;
}

// The "PortName" value of a device's hardware key ("COM7"), empty when it has none.
std::string PortNameOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
  const HKEY key =
      ::SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_QUERY_VALUE);
  if (key == INVALID_HANDLE_VALUE) return {};
  wchar_t name[64] = {};
  DWORD size = sizeof name - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status =
      ::RegQueryValueExW(key, L"PortName", nullptr, &type, reinterpret_cast<BYTE*>(name), &size);
  ::RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? Narrow(name) : std::string();
}

}  // namespace

PortIdentity UsbIdentityOfPort(int number) {
  if (number <= 0) return {};
  // The present devices of the Ports class (COM and LPT), each with its instance id.
  const HDEVINFO devices = ::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (devices == INVALID_HANDLE_VALUE) return {};
  PortIdentity found;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
    if (ParsePortValue(PortNameOf(devices, device)) != number) continue;
    wchar_t instance[512] = {};
    if (::SetupDiGetDeviceInstanceIdW(devices, &device, instance,
                                      static_cast<DWORD>(std::size(instance)), nullptr)) {
      const std::string own = Narrow(instance);
      // An interface of a composite device: the serial number is its parent's.
      std::string parentId;
      DEVINST parent = 0;
      wchar_t parentInstance[MAX_DEVICE_ID_LEN + 1] = {};
      if (IsUsbInterfaceInstance(own) &&
          ::CM_Get_Parent(&parent, device.DevInst, 0) == CR_SUCCESS &&
          ::CM_Get_Device_IDW(parent, parentInstance, MAX_DEVICE_ID_LEN, 0) == CR_SUCCESS) {
        parentId = Narrow(parentInstance);
      }
      found = IdentityFromInstanceIds(own, parentId);
    }
    break;
  }
  ::SetupDiDestroyDeviceInfoList(devices);
  return found;
}

}  // namespace dravion
