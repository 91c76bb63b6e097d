#include "serial/port_list.h"

#include <utility>

namespace dravion {

PortList::PortList(SerialPort& port)
    : PortList([&port](PortEntry* entries, int& count) { port.ListPorts(entries, count, false); }) {
}

PortList::PortList(PortListing listing) : listing_(std::move(listing)) {
  Reset();
}

void PortList::Reset() {
  Entries.fill(PortEntry{});
  PreviousMark.fill(kAbsent);
  CurrentMark.fill(kAbsent);
  Candidates.fill(-1);
  CandidateCount = 0;
  PresentAtStart.fill(0);
  Selected = -1;
  Changed = 0;
  FirstRefresh = 1;
  Reserved = 0;
}

void PortList::Compact(PortEntry* entries, int& count) {
  int kept = 0;
  for (int i = 0; i < count; ++i) {
    if (entries[i].Port == 255) continue;
    const PortEntry entry{entries[i].Port, entries[i].State != 0 ? 1 : 0};
    for (int j = i + 1; j < count; ++j) {
      if (entries[j].Port == entry.Port) entries[j].Port = 255;
    }
    entries[kept++] = entry;
  }
  count = kept;
}

void PortList::Refresh() {
  Changed = 0;
  PreviousMark = CurrentMark;
  CurrentMark.fill(kAbsent);

  // Positions the listing skips (values that name no COM port) must not keep a port of the
  // previous listing, so every refresh starts from an empty list.
  Entries.fill(PortEntry{});
  int count = kPorts;
  if (listing_) listing_(Entries.data(), count);
  if (count < 0) count = 0;
  if (count > kPorts) count = kPorts;
  Compact(Entries.data(), count);

  std::string text;
  for (int i = 0; i < count; ++i) {
    if (i > 0) text += ",";
    text += std::to_string(Entries[i].Port);
  }
  if (text != LastText) {
    if (LogCallback) LogCallback("PORT LIST: " + text);
    LastText = text;
  }

  if (FirstRefresh && Selected < 0 && HoldsRememberedDevice) {
    for (int i = 0; i < count; ++i) {
      const int p = Entries[i].Port;
      if (p >= 0 && p < kPorts && HoldsRememberedDevice(p)) {
        Selected = p;
        break;
      }
    }
  }
  for (int i = 0; i < count; ++i) {
    const int p = Entries[i].Port;
    if (p < 0 || p >= kPorts) continue;
    if ((PreviousMark[p] == kAbsent && !FirstRefresh) || p == Selected) Changed = 1;
    if (FirstRefresh && p != Selected) PresentAtStart[p] = 1;
    if (p == Selected) {
      CurrentMark[p] = kSelected;
    } else {
      CurrentMark[p] = PreviousMark[p] != kAbsent ? kPresent : kAppeared;
    }
  }
  for (int p = 0; p < kPorts; ++p) {
    if (CurrentMark[p] == kAbsent) PresentAtStart[p] = 0;
  }

  int placed = 0;
  Candidates.fill(-1);
  for (int p = 0; p < kPorts; ++p) {
    if (CurrentMark[p] == kSelected) Candidates[placed++] = p;
  }
  if (!FirstRefresh) {
    for (int p = 0; p < kPorts; ++p) {
      if (CurrentMark[p] == kAppeared) Candidates[placed++] = p;
    }
  }
  for (int p = 0; p < kPorts; ++p) {
    if (CurrentMark[p] == kPresent && PresentAtStart[p] == 0) Candidates[placed++] = p;
  }
  CandidateCount = placed;
  FirstRefresh = 0;
}

}  // namespace dravion
