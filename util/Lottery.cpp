#include "util/Lottery.h"

#include <cstdlib>
#include <unordered_set>
#include <vector>

namespace lotto {

namespace detail {

int drawNumber(int highest, int (*source)(), long long source_max) {
  if (highest - 1 <= source_max) return source() % highest + 1;
  // Join calls as digits in base source_max + 1 until the value can reach highest - 1.
  const unsigned long long base = static_cast<unsigned long long>(source_max) + 1;
  unsigned long long value = 0;
  for (unsigned long long reach = 1; reach < static_cast<unsigned long long>(highest);
       reach *= base) {
    value = value * base + static_cast<unsigned long long>(source());
  }
  return static_cast<int>(value % static_cast<unsigned long long>(highest)) + 1;
}

}  // namespace detail

namespace {

int standardRand() { return std::rand(); }

// The numbers drawn so far: a flag table as long as the range, or a hash set when the
// ticket is small beside a huge range and the table would cost far more than the ticket.
class Drawn {
 public:
  Drawn(int count, int highest) : sparse_(highest > (1 << 20) && count < highest / 64) {
    if (sparse_) {
      seen_.reserve(static_cast<std::size_t>(count));
    } else {
      flags_.assign(static_cast<std::size_t>(highest) + 1, false);
    }
  }

  // True when the number was not drawn before; it counts as drawn from now on.
  bool take(int number) {
    if (sparse_) return seen_.insert(number).second;
    auto flag = flags_[static_cast<std::size_t>(number)];
    if (flag) return false;
    flag = true;
    return true;
  }

 private:
  bool sparse_;
  std::vector<bool> flags_;
  std::unordered_set<int> seen_;
};

}  // namespace

Lottery::Lottery(int count, int highest) : numberCount(count), highestNumber(highest) {}

Lottery::~Lottery() = default;

std::unique_ptr<int[]> Lottery::generateNumbers() {
  if (highestNumber < 1 || numberCount < 0 || numberCount > highestNumber) return nullptr;
  auto numbers = std::make_unique<int[]>(static_cast<std::size_t>(numberCount));
  Drawn drawn(numberCount, highestNumber);
  for (int stored = 0; stored < numberCount;) {
    const int r = detail::drawNumber(highestNumber, standardRand, RAND_MAX);
    if (drawn.take(r)) numbers[static_cast<std::size_t>(stored++)] = r;
  }
  return numbers;
}

std::string Lottery::printTicket() {
  const std::unique_ptr<int[]> numbers = generateNumbers();
  std::string ticket;
  if (!numbers) return ticket;
  for (int k = 0; k < numberCount; ++k) {
    ticket += std::to_string(numbers[static_cast<std::size_t>(k)]);
    ticket += ' ';
  }
  return ticket;
}

}  // namespace lotto
