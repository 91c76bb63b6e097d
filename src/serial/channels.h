#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace dravion {

class ReceiveChannel;

// Ring queue of received frames with fixed 1000-byte entries; no allocation per frame.
class PacketBuffer {
 public:
  static constexpr int kEntrySize = 1000;
  struct Entry {
    uint16_t Length = 0;
    uint8_t Data[kEntrySize] = {};
  };

  // Throws std::invalid_argument("Слишком маленький буфер") below 3 entries.
  explicit PacketBuffer(int capacity);

  // Accepts frames of 1 to 999 bytes while there is room; a refused frame is lost.
  bool Put(const uint8_t* bytes, int length);
  const Entry* Front() const;
  bool Take();
  void Reset();

  uint16_t Head = 0;
  uint16_t Tail = 0;
  uint16_t Count = 0;
  const uint16_t Capacity;

 private:
  std::unique_ptr<Entry[]> items_;
  std::mutex guard_;
};

// The address lookup shared by the reader thread and the user-interface thread, with the one
// re-entrant lock that guards it and every channel's queue bookkeeping.
class ChannelRegistry {
 public:
  void Lock() { lock_.lock(); }
  void Unlock() { lock_.unlock(); }
  ReceiveChannel* FindChannel(int address, bool takeLock);

 private:
  friend class ReceiveChannel;
  std::recursive_mutex lock_;
  std::vector<ReceiveChannel*> list_;
};

// Holds the registry lock for a scope when asked to.
class RegistryLock {
 public:
  RegistryLock(ChannelRegistry& registry, bool take) : registry_(take ? &registry : nullptr) {
    if (registry_) registry_->Lock();
  }
  ~RegistryLock() {
    if (registry_) registry_->Unlock();
  }
  RegistryLock(const RegistryLock&) = delete;
  RegistryLock& operator=(const RegistryLock&) = delete;

 private:
  ChannelRegistry* registry_;
};

// One protocol channel: a 5-bit address and the queue of frames received for it.
class ReceiveChannel {
 public:
  static constexpr int kQueueCapacity = 10;

  ReceiveChannel(ChannelRegistry& registry, int address);
  ~ReceiveChannel();
  ReceiveChannel(const ReceiveChannel&) = delete;
  ReceiveChannel& operator=(const ReceiveChannel&) = delete;

  bool Push(const uint8_t* bytes, int length, bool takeLock);
  void Advance(bool takeLock);
  void Clear(bool takeLock);
  // The answer length without the 4-byte address header.
  int PayloadLength() const { return CurrentLength > 4 ? CurrentLength - 4 : 0; }
  ChannelRegistry& Registry() { return registry_; }

  int32_t Address = -1;
  int32_t ListIndex = -1;
  int32_t FrameCount = 0;
  PacketBuffer Queue{kQueueCapacity};
  const uint8_t* Current = nullptr;
  int32_t CurrentLength = 0;
  uint8_t Destination[2] = {0, 0};
  // Requests sent again because no answer came in time (counted by Transact, cleared by users).
  int32_t RepeatCount = 0;
  // Set while an exchange waits on this channel; a nested exchange is refused.
  bool Busy = false;

 private:
  void TakeFront();
  ChannelRegistry& registry_;
};

}  // namespace dravion
