#include "serial/port_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace dravion {
namespace {

// A port list fed from a scripted listing: each entry is a port number, or -1 for a list value
// that names no COM port (a gap the listing leaves untouched).
struct Harness {
  Harness() {
    list.LogCallback = [this](const std::string& line) { log.push_back(line); };
  }
  std::vector<int> Candidates() const {
    return {list.Candidates.begin(), list.Candidates.begin() + list.CandidateCount};
  }
  void RefreshWith(std::vector<int> next) {
    ports = std::move(next);
    list.Refresh();
  }

  std::vector<int> ports;
  std::vector<std::string> log;
  PortList list{[this](PortEntry* entries, int& count) {
    const int total = std::min<int>(static_cast<int>(ports.size()), count);
    for (int i = 0; i < total; ++i) {
      if (ports[i] >= 0) entries[i] = PortEntry{ports[i], -1};
    }
    count = total;
  }};
};

TEST(PortListCompact, DropsEmptyAndDuplicateEntriesKeepingOrder) {
  PortEntry entries[6] = {{7, -1}, {255, 0}, {3, 0}, {7, 1}, {255, 5}, {12, 5}};
  int count = 6;
  PortList::Compact(entries, count);
  ASSERT_EQ(count, 3);
  EXPECT_EQ(entries[0].Port, 7);
  EXPECT_EQ(entries[0].State, 1);
  EXPECT_EQ(entries[1].Port, 3);
  EXPECT_EQ(entries[1].State, 0);
  EXPECT_EQ(entries[2].Port, 12);
  EXPECT_EQ(entries[2].State, 1);

  int none = 0;
  PortList::Compact(entries, none);
  EXPECT_EQ(none, 0);
}

TEST(PortList, PortsPresentAtStartAreNotCandidatesButNewOnesAre) {
  Harness h;
  h.RefreshWith({1, 3});
  EXPECT_EQ(h.list.CandidateCount, 0);
  EXPECT_FALSE(h.list.Changed);
  EXPECT_FALSE(h.list.FirstRefresh);
  EXPECT_EQ(h.list.PresentAtStart[1], 1);
  EXPECT_EQ(h.list.PresentAtStart[3], 1);

  h.RefreshWith({1, 3, 7});
  EXPECT_EQ(h.Candidates(), std::vector<int>{7});
  EXPECT_TRUE(h.list.Changed);
  EXPECT_EQ(h.list.CurrentMark[7], PortList::kAppeared);

  h.RefreshWith({1, 3, 7});
  EXPECT_EQ(h.Candidates(), std::vector<int>{7});
  EXPECT_FALSE(h.list.Changed);
  EXPECT_EQ(h.list.CurrentMark[7], PortList::kPresent);
}

TEST(PortList, PortThatVanishesAndComesBackBecomesACandidate) {
  Harness h;
  h.RefreshWith({1, 3});
  h.RefreshWith({1});
  EXPECT_EQ(h.list.CandidateCount, 0);
  EXPECT_FALSE(h.list.Changed);  // a port going away is no new candidate
  EXPECT_EQ(h.list.PresentAtStart[3], 0);
  h.RefreshWith({1, 3});
  EXPECT_EQ(h.Candidates(), std::vector<int>{3});
  EXPECT_TRUE(h.list.Changed);
  h.RefreshWith({1, 3});
  EXPECT_EQ(h.Candidates(), std::vector<int>{3});
}

TEST(PortList, SelectedPortComesFirstAndKeepsChangedSet) {
  Harness h;
  h.list.Selected = 7;
  h.RefreshWith({9, 7, 2});
  // At the first refresh only the selected port is offered, and it is not "present at start".
  EXPECT_EQ(h.Candidates(), std::vector<int>{7});
  EXPECT_TRUE(h.list.Changed);
  EXPECT_EQ(h.list.PresentAtStart[7], 0);

  h.RefreshWith({12, 9, 7, 2, 4});
  EXPECT_EQ(h.Candidates(), (std::vector<int>{7, 4, 12}));
  EXPECT_TRUE(h.list.Changed);
  h.RefreshWith({12, 9, 7, 2, 4});
  EXPECT_EQ(h.Candidates(), (std::vector<int>{7, 4, 12}));
  EXPECT_TRUE(h.list.Changed);

  // Without the selected port the new ones stay, and nothing marks a change.
  h.RefreshWith({12, 9, 2, 4});
  EXPECT_EQ(h.Candidates(), (std::vector<int>{4, 12}));
  EXPECT_FALSE(h.list.Changed);
}

TEST(PortList, AppearedPortsPrecedeOlderOnesEachInAscendingOrder) {
  Harness h;
  h.RefreshWith({});
  h.RefreshWith({20, 5});
  h.RefreshWith({20, 5, 11, 2});
  EXPECT_EQ(h.Candidates(), (std::vector<int>{2, 11, 5, 20}));
}

TEST(PortList, ListTextIsLoggedOnlyWhenItChanges) {
  Harness h;
  h.RefreshWith({3, 7, 12});
  h.RefreshWith({3, 7, 12});
  h.RefreshWith({3, 3, -1, 7, 12});  // duplicates and gaps do not change the text
  ASSERT_EQ(h.log, std::vector<std::string>{"PORT LIST: 3,7,12"});
  EXPECT_EQ(h.list.LastText, "3,7,12");
  h.RefreshWith({});
  EXPECT_EQ(h.log.back(), "PORT LIST: ");
  EXPECT_EQ(h.log.size(), 2u);

  h.list.LogCallback = nullptr;  // no sink: still refreshes
  h.RefreshWith({4});
  EXPECT_EQ(h.list.LastText, "4");
}

TEST(PortList, PortsFromOneThousandUpAreListedButNeverCandidates) {
  Harness h;
  h.RefreshWith({});
  h.RefreshWith({1000, 999, 5000});
  EXPECT_EQ(h.Candidates(), std::vector<int>{999});
  EXPECT_EQ(h.log.back(), "PORT LIST: 1000,999,5000");
}

TEST(PortList, GapsInTheListingDoNotRevivePortsOfTheLastListing) {
  Harness h;
  h.RefreshWith({});
  h.RefreshWith({4, 6});
  ASSERT_EQ(h.Candidates(), (std::vector<int>{4, 6}));
  // Port 4 is gone; its list position now holds a value that names no COM port.
  h.RefreshWith({-1, 6});
  EXPECT_EQ(h.Candidates(), std::vector<int>{6});
  EXPECT_EQ(h.list.CurrentMark[4], PortList::kAbsent);
}

TEST(PortList, EmptyListingMakesEveryPortAbsentAndLaterOnesNew) {
  Harness h;
  h.RefreshWith({1, 3});
  h.RefreshWith({});  // unreadable list
  EXPECT_EQ(h.list.CandidateCount, 0);
  h.RefreshWith({1, 3});
  EXPECT_EQ(h.Candidates(), (std::vector<int>{1, 3}));
  EXPECT_TRUE(h.list.Changed);
}

TEST(PortList, ResetStartsOverWithAFirstRefresh) {
  Harness h;
  h.RefreshWith({});
  h.RefreshWith({5});
  h.list.Selected = 5;
  h.list.Reset();
  EXPECT_EQ(h.list.Selected, -1);
  EXPECT_EQ(h.list.CandidateCount, 0);  // no stale count over the emptied candidates
  h.RefreshWith({5});
  EXPECT_EQ(h.list.CandidateCount, 0);
  EXPECT_EQ(h.list.PresentAtStart[5], 1);
}

}  // namespace
}  // namespace dravion
