#include "flash.h"

#include <algorithm>
#include <cstring>

namespace dravion::sim {

constexpr uint32_t kSector = 4096;
constexpr uint32_t kNorPage = 256;

void ExternalFlash::Read(uint32_t address, uint8_t* out, uint32_t count) const {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    const auto it = sectors_.find(a / kSector);
    out[i] = (a >= size_ || it == sectors_.end()) ? 0xFF : (*it->second)[a % kSector];
  }
}

ExternalFlash::Sector* ExternalFlash::Touch(uint32_t index) {
  auto& slot = sectors_[index];
  if (!slot) {
    slot = std::make_unique<Sector>();
    slot->fill(0xFF);
  }
  return slot.get();
}

bool ExternalFlash::Program(uint32_t address, const uint8_t* data, uint32_t count) {
  bool unerased = false;
  const uint32_t pageStart = address - address % kNorPage;
  for (uint32_t i = 0; i < count; ++i) {
    // Bytes past the end of the page wrap to its start, as the chip's page program does.
    const uint32_t a = pageStart + (address - pageStart + i) % kNorPage;
    if (a >= size_) continue;
    uint8_t& cell = (*Touch(a / kSector))[a % kSector];
    if (cell != 0xFF) unerased = true;
    cell &= data[i];
  }
  return unerased;
}

void ExternalFlash::EraseSector(uint32_t index) {
  sectors_.erase(index);
}

void ExternalFlash::Store(uint32_t address, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = address + i;
    if (a < size_) (*Touch(a / kSector))[a % kSector] = data[i];
  }
}

ProgramFlash::ProgramFlash(uint32_t base, uint32_t size, uint32_t page)
    : base_(base),
      page_(page),
      bytes_(size, 0xFF),
      written_(size, true),
      erasedInRun_(size / page, false) {}

bool ProgramFlash::Contains(uint32_t address, uint32_t count) const {
  return address >= base_ && address - base_ <= bytes_.size() &&
         count <= bytes_.size() - (address - base_);
}

void ProgramFlash::Read(uint32_t address, uint8_t* out, uint32_t count) const {
  for (uint32_t i = 0; i < count; ++i) {
    out[i] = Contains(address + i, 1) ? bytes_[address + i - base_] : 0xFF;
  }
}

bool ProgramFlash::Program(uint32_t address, const uint8_t* data, uint32_t count) {
  if (!Contains(address, count)) return false;
  bool unerased = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t offset = address - base_ + i;
    if (bytes_[offset] != 0xFF) unerased = true;
    bytes_[offset] &= data[i];
    written_[offset] = true;
  }
  return unerased;
}

void ProgramFlash::ErasePage(uint32_t address) {
  if (!Contains(address, 1)) return;
  const uint32_t start = (address - base_) / page_ * page_;
  const uint32_t end = std::min<uint32_t>(start + page_, static_cast<uint32_t>(bytes_.size()));
  const bool inRange = address >= trackStart_ && address - trackStart_ < trackLength_;
  if (inRange && !rewriting_) {
    rewriting_ = true;
    std::fill(erasedInRun_.begin(), erasedInRun_.end(), false);
  }
  for (uint32_t i = start; i < end; ++i) {
    bytes_[i] = 0xFF;
    written_[i] = false;
  }
  erasedInRun_[start / page_] = true;
}

void ProgramFlash::Store(uint32_t address, const uint8_t* data, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    if (!Contains(address + i, 1)) continue;
    bytes_[address + i - base_] = data[i];
    written_[address + i - base_] = true;
  }
}

void ProgramFlash::Track(uint32_t start, uint32_t length) {
  trackStart_ = start;
  trackLength_ = length;
  rewriting_ = false;
}

bool ProgramFlash::RewriteComplete() const {
  if (!rewriting_) return true;
  if (!Contains(trackStart_, trackLength_)) return false;
  const uint32_t first = trackStart_ - base_;
  for (uint32_t i = first; i < first + trackLength_; ++i) {
    if (!written_[i] || !erasedInRun_[i / page_]) return false;
  }
  return true;
}

}  // namespace dravion::sim
