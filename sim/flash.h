#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

namespace dravion::sim {

// The external data flash (NOR, 8 MiB): sparse 4 KB sectors, erased bytes read 0xFF, a program
// operation can only clear bits and wraps inside its 256-byte page, as the chip does.
class ExternalFlash {
 public:
  explicit ExternalFlash(uint32_t size) : size_(size) {}
  uint32_t Size() const { return size_; }
  void Read(uint32_t address, uint8_t* out, uint32_t count) const;
  // Programs `count` bytes; true when at least one target byte was not erased (0xFF).
  bool Program(uint32_t address, const uint8_t* data, uint32_t count);
  void EraseSector(uint32_t index);
  // Stores bytes as they are, without flash semantics (for generated content).
  void Store(uint32_t address, const uint8_t* data, uint32_t count);

 private:
  using Sector = std::array<uint8_t, 4096>;
  Sector* Touch(uint32_t index);
  uint32_t size_;
  std::map<uint32_t, std::unique_ptr<Sector>> sectors_;
};

// The processor's program flash: pages of 128 bytes. It remembers which bytes were written since
// their page was last erased, so that a restart can tell whether an update left a complete image.
class ProgramFlash {
 public:
  ProgramFlash(uint32_t base, uint32_t size, uint32_t page);
  bool Contains(uint32_t address, uint32_t count) const;
  void Read(uint32_t address, uint8_t* out, uint32_t count) const;
  // Programs within the flash; true when at least one target byte was not erased.
  bool Program(uint32_t address, const uint8_t* data, uint32_t count);
  void ErasePage(uint32_t address);
  void Store(uint32_t address, const uint8_t* data, uint32_t count);
  uint32_t Page() const { return page_; }

  // Update tracking over [start, start + length): an erase inside the range begins a rewrite;
  // the range is complete when no rewrite is pending, or when every page of the range was erased
  // since the rewrite began and every byte has been written since.
  void Track(uint32_t start, uint32_t length);
  bool RewriteComplete() const;
  bool RewritePending() const { return rewriting_; }
  void EndRewrite() { rewriting_ = false; }

 private:
  uint32_t base_;
  uint32_t page_;
  std::vector<uint8_t> bytes_;
  std::vector<bool> written_;      // per byte, since its page's last erase
  std::vector<bool> erasedInRun_;  // per page, erased since the rewrite began
  uint32_t trackStart_ = 0;
  uint32_t trackLength_ = 0;
  bool rewriting_ = false;
};

}  // namespace dravion::sim
