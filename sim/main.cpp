// dravion-sim: the Dravion dosimeter on a pseudo-terminal, registered as COM<n> in the port
// folder, until SIGINT or SIGTERM.

#include <signal.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "device.h"

namespace {

using dravion::sim::CommandKey;

void Usage(FILE* out) {
  std::fputs(
      "Usage: dravion-sim [options]\n"
      "Plays the Dravion on a pseudo-terminal registered as COM<n> in the port folder\n"
      "($DRAVION_PORT_DIR, else ~/.dravion/ports) until SIGINT or SIGTERM.\n"
      "\n"
      "Device:\n"
      "  --port N                 port number (default 7)\n"
      "  --port-dir DIR           port folder instead of the default\n"
      "  --plug-delay MS          wait before plugging in (default 0)\n"
      "  --boot                   start in the boot loader\n"
      "  --no-program             the program flash holds no bootable image\n"
      "  --no-data-flash          the data flash is empty (the main program shows an error)\n"
      "  --model N                model code (740)\n"
      "  --revision N             hardware revision (41)\n"
      "  --sub-revision N         sub-revision (3)\n"
      "  --chip N                 chip code (9)\n"
      "  --boot-version V         boot loader version, e.g. 0x0410\n"
      "  --main-version V         main program version (0x0C06)\n"
      "  --serial HEX8            serial number bytes, e.g. 12345678\n"
      "  --time-length 7|8        ReadTime answer length\n"
      "  --parameter-length 6|22  parameter answer length\n"
      "  --background USV         background dose rate in uSv/h (0.12)\n"
      "  --history-size N         history records, 0 to 65280 (1500)\n"
      "  --history-start N        physical index of the oldest record (0)\n"
      "  --history-wrap           a full ring that has wrapped around\n"
      "  --history-file FILE      the ring's records (16 bytes each, oldest first) from a file\n"
      "  --history-sector-size N  sector size the device reports (4096)\n"
      "  --history-sectors N      sector count the device reports (255)\n"
      "  --restart-ms MS          absence during a restart (1500)\n"
      "  --restart-into main|boot a restart comes back in this program whatever was asked\n"
      "  --restart-away           a restart drops off the port and never comes back\n"
      "  --restart-as-another     a restart comes back as another device (UID, serial number)\n"
      "  --seed N                 random seed of counts and history (1)\n"
      "Timing:\n"
      "  --baud N                 pace the line at N baud, e.g. 230400 (default unpaced)\n"
      "  --device-time realistic  typical processing times (flash erase and write longest)\n"
      "  --device-time GG:CC=US   processing time of one command, e.g. 02:05=45000\n"
      "  --trace                  every request and answer in hex with timestamps (stderr)\n"
      "Faults:\n"
      "  --drop-every N           do not send every Nth answer\n"
      "  --corrupt-every N        spoil the checksum of every Nth answer\n"
      "  --delay-ms MS            delay every answer\n"
      "  --silent-after N         answer nothing after N requests\n"
      "  --interleave-every N     precede every Nth answer with unrelated frames\n"
      "  --unplug-after-ms MS     unplug after this time\n"
      "  --unplug-after-requests N  unplug on the Nth request\n"
      "  --replug-after-ms MS     after a fault unplug, come back after this time\n"
      "  --refuse GG:CC           ignore one command, e.g. 02:03\n"
      "  --wrong-length GG:CC[:D] answer one command with D (default 1) more data bytes\n"
      "  --lose-answer GG:CC      carry out the next such command but lose its answer (once)\n"
      "  --bad-write ADDRESS      a flash write there stores its first byte wrong, unnoticed\n",
      out);
}

bool ParseNumber(const char* text, long long& value) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  value = std::strtoll(text, &end, 0);
  return errno == 0 && end != nullptr && *end == '\0';
}

// "GG:CC" in hexadecimal, with an optional ":rest" returned in `rest`.
bool ParseCommand(const std::string& text, int& key, std::string* rest = nullptr) {
  unsigned group = 0, code = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%2x:%2x%n", &group, &code, &used) != 2) return false;
  key = CommandKey(static_cast<uint8_t>(group), static_cast<uint8_t>(code));
  const std::string tail = text.substr(static_cast<size_t>(used));
  if (rest != nullptr) {
    *rest = tail;
    return true;
  }
  return tail.empty();
}

}  // namespace

int main(int argc, char** argv) {
  dravion::sim::DeviceConfig config;
  dravion::sim::Faults faults;
  long long plugDelay = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const char* arg = i + 1 < argc ? argv[i + 1] : nullptr;
    long long n = 0;
    auto number = [&](long long low, long long high) {
      if (!ParseNumber(arg, n) || n < low || n > high) {
        std::fprintf(stderr, "dravion-sim: %s needs a number from %lld to %lld\n", option.c_str(),
                     low, high);
        std::exit(2);
      }
      ++i;
      return n;
    };
    if (option == "--help" || option == "-h") {
      Usage(stdout);
      return 0;
    } else if (option == "--port") {
      config.port = static_cast<int>(number(1, 255));
    } else if (option == "--port-dir" && arg != nullptr) {
      config.portFolder = arg;
      ++i;
    } else if (option == "--plug-delay") {
      plugDelay = number(0, 3600000);
    } else if (option == "--boot") {
      config.startInBoot = true;
    } else if (option == "--no-program") {
      config.programValid = false;
    } else if (option == "--no-data-flash") {
      config.dataFlashValid = false;
    } else if (option == "--model") {
      config.model = static_cast<uint16_t>(number(0, 0xFFFF));
    } else if (option == "--revision") {
      config.hardwareRevision = static_cast<uint8_t>(number(0, 255));
    } else if (option == "--sub-revision") {
      config.subRevision = static_cast<uint8_t>(number(0, 255));
    } else if (option == "--chip") {
      config.chipCode = static_cast<uint16_t>(number(0, 0xFFFF));
    } else if (option == "--boot-version") {
      config.bootVersion = static_cast<uint16_t>(number(0, 0xFFFF));
    } else if (option == "--main-version") {
      config.mainVersion = static_cast<uint16_t>(number(0, 0xFFFF));
    } else if (option == "--serial" && arg != nullptr && std::strlen(arg) == 8) {
      for (int b = 0; b < 4; ++b) {
        unsigned v = 0;
        if (std::sscanf(arg + 2 * b, "%2x", &v) != 1) {
          std::fprintf(stderr, "dravion-sim: --serial needs 8 hexadecimal digits\n");
          return 2;
        }
        config.serial[static_cast<size_t>(b)] = static_cast<uint8_t>(v);
      }
      ++i;
    } else if (option == "--time-length") {
      config.timeAnswerLength = static_cast<int>(number(7, 8));
    } else if (option == "--parameter-length") {
      config.parameterAnswerLength = number(6, 22) >= 22 ? 22 : 6;
    } else if (option == "--background" && arg != nullptr) {
      config.background = std::strtod(arg, nullptr);
      ++i;
    } else if (option == "--history-size") {
      config.historySize = static_cast<uint32_t>(number(0, 65280));
    } else if (option == "--history-start") {
      config.historyStart = static_cast<uint32_t>(number(0, 65279));
    } else if (option == "--history-wrap") {
      config.historyWrap = true;
    } else if (option == "--history-file" && arg != nullptr) {
      std::FILE* file = std::fopen(arg, "rb");
      if (file == nullptr) {
        std::fprintf(stderr, "dravion-sim: cannot read %s\n", arg);
        return 2;
      }
      uint8_t buffer[4096];
      size_t got = 0;
      while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        config.historyRecords.insert(config.historyRecords.end(), buffer, buffer + got);
      std::fclose(file);
      if (config.historyRecords.size() % 16 != 0 || config.historyRecords.size() > 65280 * 16) {
        std::fprintf(stderr, "dravion-sim: %s must hold up to 65280 records of 16 bytes\n", arg);
        return 2;
      }
      ++i;
    } else if (option == "--history-sector-size") {
      config.historySectorSize = static_cast<uint32_t>(number(0, 0xFFFF));
    } else if (option == "--history-sectors") {
      config.historySectors = static_cast<uint32_t>(number(0, 0xFFFF));
    } else if (option == "--restart-ms") {
      config.restartMs = static_cast<int>(number(0, 600000));
    } else if (option == "--restart-into" && arg != nullptr) {
      const std::string value = arg;
      ++i;
      if (value != "main" && value != "boot") {
        std::fprintf(stderr, "dravion-sim: --restart-into needs main or boot\n");
        return 2;
      }
      faults.restartInto = value == "main" ? 2 : 3;
    } else if (option == "--restart-away") {
      faults.restartStaysAway = true;
    } else if (option == "--restart-as-another") {
      faults.restartAsAnother = true;
    } else if (option == "--lose-answer" && arg != nullptr) {
      if (!ParseCommand(arg, faults.loseAnswerTo)) {
        std::fprintf(stderr, "dravion-sim: --lose-answer needs GG:CC in hexadecimal\n");
        return 2;
      }
      ++i;
    } else if (option == "--bad-write") {
      faults.badWriteAddress = number(0, 0xFFFFFFFFLL);
    } else if (option == "--seed") {
      config.seed = static_cast<uint32_t>(number(0, 0xFFFFFFFFLL));
    } else if (option == "--baud") {
      config.baud = static_cast<uint32_t>(number(0, 10000000));
    } else if (option == "--device-time" && arg != nullptr) {
      const std::string value = arg;
      ++i;
      int key = 0;
      std::string rest;
      long long us = 0;
      if (value == "realistic") {
        config.commandTimeUs = dravion::sim::RealisticCommandTimes();
      } else if (ParseCommand(value, key, &rest) && rest.size() > 1 && rest[0] == '=' &&
                 ParseNumber(rest.c_str() + 1, us) && us >= 0) {
        config.commandTimeUs[static_cast<uint16_t>(key)] = static_cast<uint32_t>(us);
      } else {
        std::fprintf(stderr, "dravion-sim: --device-time needs realistic or GG:CC=US\n");
        return 2;
      }
    } else if (option == "--trace") {
      config.trace = true;
    } else if (option == "--drop-every") {
      faults.dropEvery = static_cast<int>(number(0, 1000000));
    } else if (option == "--corrupt-every") {
      faults.corruptEvery = static_cast<int>(number(0, 1000000));
    } else if (option == "--delay-ms") {
      faults.delayMs = static_cast<int>(number(0, 600000));
    } else if (option == "--silent-after") {
      faults.silentAfter = static_cast<int>(number(0, 100000000));
    } else if (option == "--interleave-every") {
      faults.interleaveEvery = static_cast<int>(number(0, 1000000));
    } else if (option == "--unplug-after-ms") {
      faults.unplugAfterMs = static_cast<int>(number(0, 100000000));
    } else if (option == "--unplug-after-requests") {
      faults.unplugAfterRequests = static_cast<int>(number(0, 100000000));
    } else if (option == "--replug-after-ms") {
      faults.replugAfterMs = static_cast<int>(number(0, 100000000));
    } else if (option == "--refuse" && arg != nullptr) {
      if (!ParseCommand(arg, faults.refuseCommand)) {
        std::fprintf(stderr, "dravion-sim: --refuse needs GG:CC in hexadecimal\n");
        return 2;
      }
      ++i;
    } else if (option == "--wrong-length" && arg != nullptr) {
      std::string rest;
      long long delta = 1;
      if (!ParseCommand(arg, faults.wrongLengthCommand, &rest) ||
          (!rest.empty() && (rest[0] != ':' || !ParseNumber(rest.c_str() + 1, delta)))) {
        std::fprintf(stderr, "dravion-sim: --wrong-length needs GG:CC or GG:CC:D\n");
        return 2;
      }
      faults.wrongLengthDelta = static_cast<int>(delta);
      ++i;
    } else {
      std::fprintf(stderr, "dravion-sim: unknown or incomplete option %s\n\n", option.c_str());
      Usage(stderr);
      return 2;
    }
  }

  // The signals are taken synchronously by this thread only; the serving thread inherits the mask.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (plugDelay > 0) {
    timespec wait{static_cast<time_t>(plugDelay / 1000),
                  static_cast<long>(plugDelay % 1000) * 1000000};
    if (sigtimedwait(&stopSignals, nullptr, &wait) > 0) return 0;
  }
  dravion::sim::Device device(config);
  if (!device.Plug()) {
    std::fprintf(stderr, "dravion-sim: cannot register %s\n", device.PortPath().c_str());
    return 1;
  }
  device.SetFaults(faults);
  std::printf("dravion-sim: COM%d plugged in at %s%s\n", config.port, device.PortPath().c_str(),
              config.startInBoot ? " (boot loader)" : "");
  std::fflush(stdout);
  int signal = 0;
  while (sigwait(&stopSignals, &signal) != 0) {
  }
  device.Unplug();
  const auto counters = device.GetCounters();
  std::printf("dravion-sim: COM%d unplugged after %d requests, %d answers\n", config.port,
              counters.totalRequests, counters.answers);
  return 0;
}
