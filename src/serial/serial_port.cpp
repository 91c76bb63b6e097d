#include "serial/serial_port.h"

#include <cctype>

namespace dravion {

void SerialPort::Log(const std::string& line) const {
  if (LogCallback) LogCallback(line);
}

void SerialPort::MarkLineLost() {
  if (!lineLost_.exchange(true)) OnLineLost();
}

int ParsePortValue(const std::string& value) {
  if (value.size() < 3) return -1;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(value[i])) != "COM"[i]) return -1;
  }
  size_t end = value.size();
  while (end > 0 && !std::isdigit(static_cast<unsigned char>(value[end - 1])))
    --end;
  size_t begin = end;
  while (begin > 0 && std::isdigit(static_cast<unsigned char>(value[begin - 1])))
    --begin;
  int number = 0;
  for (size_t i = begin; i < end; ++i) {
    number = number * 10 + (value[i] - '0');
    if (number > 1000000) return 1000000;  // far beyond any port; keeps the number from overflowing
  }
  return number;
}

void FillPortEntries(const std::vector<std::string>& values, PortEntry* entries, int& count,
                     const std::function<bool(const std::string&)>& probe) {
  const int total = std::min<int>(static_cast<int>(values.size()), std::max(count, 0));
  for (int i = 0; i < total; ++i) {
    const int number = ParsePortValue(values[static_cast<size_t>(i)]);
    if (number < 0) continue;
    entries[i].Port = number;
    entries[i].State = probe ? (probe(values[static_cast<size_t>(i)]) ? 0 : 1) : -1;
  }
  count = total;
}

void SerialPort::ListPorts(PortEntry* entries, int& count, bool probe) {
  std::vector<std::string> values;
  if (!ReadPortValues(values)) {
    if (RegistryOnly) {
      count = 0;
      return;
    }
    int stored = 0;
    for (int number = 1; number < count; ++number) {
      if (Probe(number)) entries[stored++] = PortEntry{number, 0};
    }
    count = stored;
    return;
  }
  std::function<bool(const std::string&)> prober;
  if (probe) prober = [this](const std::string& name) { return ProbeName(name); };
  FillPortEntries(values, entries, count, prober);
}

}  // namespace dravion
