#include "connection/port_help.h"

#include "services/language.h"

namespace dravion {

namespace {

std::string Reason(int number, const PortOpenFailure& failure, const Language& language) {
  const std::string port = "COM " + std::to_string(number) + ": ";
  const std::string& device = failure.device;
  switch (failure.fault) {
    case PortFault::None:
      return {};
    case PortFault::Missing:
      return port + language.Text("нет устройства по адресу " + device +
                                      ". Проверьте, что прибор подключён и включён.",
                                  "there is no device at " + device +
                                      ". Check that the device is plugged in and switched on.");
    case PortFault::Denied: {
      const std::string group = failure.group.empty() ? "dialout" : failure.group;
      if (group == "root") {
        // Joining root's group is no remedy; a udev rule gives the device to a group of users.
        return port + language.Text("нет прав на открытие " + device +
                                        " (группа root). Дайте устройство группе dialout "
                                        "правилом udev (см. docs/linux.md).",
                                    "no permission to open " + device +
                                        " (group root). Give the device to the dialout group "
                                        "with a udev rule (see docs/linux.md).");
      }
      const std::string command = "sudo usermod -aG " + group + " $USER";
      return port + language.Text("нет прав на открытие " + device + " (группа " + group +
                                      "). Добавьте себя в группу: " + command +
                                      ", затем выйдите из системы и войдите снова.",
                                  "no permission to open " + device + " (group " + group +
                                      "). Add yourself to the group: " + command +
                                      ", then log out and log in again.");
    }
    case PortFault::Busy:
      if (failure.holderPid > 0) {
        const std::string holder =
            (failure.holderName.empty() ? std::string("?") : failure.holderName) + " (pid " +
            std::to_string(failure.holderPid) + ")";
        return port + language.Text(device + " занят программой " + holder +
                                        ". Закройте её или запретите ей занимать порт "
                                        "(см. docs/linux.md).",
                                    device + " is in use by " + holder +
                                        ". Close that program or keep it off the port "
                                        "(see docs/linux.md).");
      }
      return port + language.Text(device +
                                      " занят другой программой. Закройте программу, "
                                      "которая держит порт.",
                                  device +
                                      " is in use by another program. Close the program "
                                      "that holds the port.");
    case PortFault::Other:
      return port + language.Text("не удаётся открыть " + device + ": " + failure.error + ".",
                                  "cannot open " + device + ": " + failure.error + ".");
  }
  return {};
}

}  // namespace

std::string PortFailureText(int number, const PortOpenFailure& failure, const Language& language) {
  std::string text = Reason(number, failure, language);
  // Where the system named the error itself (Windows), its own words follow.
  if (!text.empty() && !failure.error.empty() && failure.fault != PortFault::Other) {
    text += language.Text(" (система: ", " (system: ") + failure.error + ")";
  }
  return text;
}

}  // namespace dravion
