#include "serial/channels.h"

#include <algorithm>
#include <cstring>

namespace dravion {

PacketBuffer::PacketBuffer(int capacity)
    : Capacity(capacity >= 3 ? static_cast<uint16_t>(capacity) : 0) {
  if (capacity < 3) throw std::invalid_argument("Слишком маленький буфер");
  items_ = std::make_unique<Entry[]>(Capacity);
}

bool PacketBuffer::Put(const uint8_t* bytes, int length) {
  std::lock_guard lock(guard_);
  if (bytes == nullptr || length < 1 || length >= kEntrySize || Count >= Capacity) return false;
  Entry& entry = items_[Tail];
  std::memcpy(entry.Data, bytes, static_cast<size_t>(length));
  entry.Length = static_cast<uint16_t>(length);
  Tail = static_cast<uint16_t>((Tail + 1) % Capacity);
  ++Count;
  return true;
}

const PacketBuffer::Entry* PacketBuffer::Front() const {
  return Count == 0 ? nullptr : &items_[Head];
}

bool PacketBuffer::Take() {
  std::lock_guard lock(guard_);
  if (Count == 0) return false;
  items_[Head].Length = 0;
  Head = static_cast<uint16_t>((Head + 1) % Capacity);
  --Count;
  return true;
}

void PacketBuffer::Reset() {
  Head = 0;
  Tail = 0;
  Count = 0;
}

ReceiveChannel* ChannelRegistry::FindChannel(int address, bool takeLock) {
  RegistryLock lock(*this, takeLock);
  for (ReceiveChannel* channel : list_) {
    if (channel->Address == address) return channel;
  }
  return nullptr;
}

ReceiveChannel::ReceiveChannel(ChannelRegistry& registry, int address) : registry_(registry) {
  RegistryLock lock(registry_, true);
  const bool free = address >= 1 && address <= 31 && !registry_.FindChannel(address, false);
  Address = free ? address : -1;
  ListIndex = static_cast<int32_t>(registry_.list_.size());
  registry_.list_.push_back(this);
}

ReceiveChannel::~ReceiveChannel() {
  RegistryLock lock(registry_, true);
  auto& list = registry_.list_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
}

void ReceiveChannel::TakeFront() {
  const PacketBuffer::Entry* front = Queue.Front();
  Current = front ? front->Data : nullptr;
  CurrentLength = front ? front->Length : 0;
}

bool ReceiveChannel::Push(const uint8_t* bytes, int length, bool takeLock) {
  if (bytes == nullptr || length <= 0) return true;
  RegistryLock lock(registry_, takeLock);
  if (!Queue.Put(bytes, length)) return false;
  ++FrameCount;
  TakeFront();
  return true;
}

void ReceiveChannel::Advance(bool takeLock) {
  RegistryLock lock(registry_, takeLock);
  if (Queue.Take()) --FrameCount;
  TakeFront();
}

void ReceiveChannel::Clear(bool takeLock) {
  RegistryLock lock(registry_, takeLock);
  Queue.Reset();
  FrameCount = 0;
  Current = nullptr;
  CurrentLength = 0;
}

}  // namespace dravion
