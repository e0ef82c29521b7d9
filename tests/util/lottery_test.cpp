// Lottery tickets: distinct numbers in range, in the order rand() gives them.
#include "util/Lottery.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<int> Numbers(const std::string& ticket) {
  std::vector<int> numbers;
  std::istringstream in(ticket);
  for (int n; in >> n;) numbers.push_back(n);
  return numbers;
}

void ExpectDistinctInRange(const std::vector<int>& numbers, int highest) {
  EXPECT_EQ(std::set<int>(numbers.begin(), numbers.end()).size(), numbers.size());
  for (int n : numbers) {
    EXPECT_GE(n, 1);
    EXPECT_LE(n, highest);
  }
}

TEST(Lottery, DrawsInTheOrderOfRand) {
  // The draw the class makes: rand() % 49 + 1, repeats skipped, not sorted.
  std::srand(7);
  std::vector<int> expected;
  while (expected.size() < 6) {
    const int r = std::rand() % 49 + 1;
    if (std::find(expected.begin(), expected.end(), r) == expected.end()) expected.push_back(r);
  }
  std::string text;
  for (int n : expected) text += std::to_string(n) + " ";

  lotto::Lottery lottery(6, 49);
  std::srand(7);
  const std::unique_ptr<int[]> numbers = lottery.generateNumbers();
  ASSERT_NE(numbers, nullptr);
  EXPECT_EQ(std::vector<int>(numbers.get(), numbers.get() + 6), expected);
  std::srand(7);
  EXPECT_EQ(lottery.printTicket(), text);
}

TEST(Lottery, TicketTextsAtTheEdgesOfTheRange) {
  for (int round = 0; round < 20; ++round) {
    const std::string ticket = lotto::Lottery(6, 49).printTicket();
    ASSERT_EQ(ticket.back(), ' ');
    EXPECT_EQ(ticket.find("  "), std::string::npos);
    const std::vector<int> numbers = Numbers(ticket);
    EXPECT_EQ(numbers.size(), 6u);
    ExpectDistinctInRange(numbers, 49);
  }
  EXPECT_EQ(lotto::Lottery(1, 1).printTicket(), "1 ");
  const std::vector<int> all = Numbers(lotto::Lottery(40, 40).printTicket());
  EXPECT_EQ(all.size(), 40u);
  ExpectDistinctInRange(all, 40);
  EXPECT_EQ(lotto::Lottery(0, 49).printTicket(), "");
  EXPECT_NE(lotto::Lottery(0, 49).generateNumbers(), nullptr);
}

TEST(Lottery, OutsideTheRangeNothingIsDrawn) {
  for (auto [count, highest] : {std::pair{7, 6}, {-1, 5}, {0, 0}, {1, -3}, {INT_MAX, 1}}) {
    SCOPED_TRACE(std::to_string(count) + " of " + std::to_string(highest));
    lotto::Lottery lottery(count, highest);
    EXPECT_EQ(lottery.generateNumbers(), nullptr);
    EXPECT_EQ(lottery.printTicket(), "");
  }
}

TEST(Lottery, HugeRangesAreDrawnWithoutATableOfTheirSize) {
  lotto::Lottery lottery(5, INT_MAX);
  const std::unique_ptr<int[]> numbers = lottery.generateNumbers();
  ASSERT_NE(numbers, nullptr);
  ExpectDistinctInRange(std::vector<int>(numbers.get(), numbers.get() + 5), INT_MAX);
}

// A generator as small as Windows' rand(): 15 bits.
unsigned g_state = 1;
int SmallRand() {
  g_state = g_state * 214013u + 2531011u;
  return static_cast<int>((g_state >> 16) & 0x7fff);
}

TEST(Lottery, ShortGeneratorsStillReachEveryNumber) {
  // One call suffices up to 32768 numbers, and is used as it is.
  g_state = 1;
  const int first = SmallRand();
  g_state = 1;
  EXPECT_EQ(lotto::detail::drawNumber(32768, SmallRand, 32767), first % 32768 + 1);
  // Above that, every number comes up sooner or later.
  constexpr int kHighest = 70000;
  std::vector<bool> seen(kHighest + 1);
  int missing = kHighest;
  for (long draws = 0; missing > 0 && draws < 50'000'000; ++draws) {
    const int r = lotto::detail::drawNumber(kHighest, SmallRand, 32767);
    ASSERT_GE(r, 1);
    ASSERT_LE(r, kHighest);
    if (!seen[static_cast<std::size_t>(r)]) {
      seen[static_cast<std::size_t>(r)] = true;
      --missing;
    }
  }
  EXPECT_EQ(missing, 0);
}

}  // namespace
