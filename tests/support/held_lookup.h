#pragma once

#include <cstddef>

namespace dravion::test {

// Name look-ups that hang, as they do when a name server never answers: while an object of this
// class lives, every look-up (getaddrinfo, by the program's libraries too) of a name ending in
// ".held.test" waits until it is released, then finds nothing. Other names are looked up as
// always. POSIX only: the process's getaddrinfo is replaced by one that hands other names on.
class HeldLookups {
 public:
  HeldLookups();
  ~HeldLookups();  // releases them
  HeldLookups(const HeldLookups&) = delete;
  HeldLookups& operator=(const HeldLookups&) = delete;

  // Waits until `count` look-ups of held names have begun since this object was made (false after
  // a long time).
  bool WaitForBegun(size_t count);
  // Lets every held look-up end (failing), now and from now on.
  void Release();
};

}  // namespace dravion::test
