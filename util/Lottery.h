// Lottery tickets: a fixed count of distinct numbers from 1 to a highest number, drawn with
// the standard library's rand() (never seeded here) and kept in the order drawn.
#pragma once

#include <memory>
#include <string>

namespace lotto {

class Lottery {
 public:
  // A ticket holds numberCount numbers out of 1 to highestNumber. The range the class draws
  // in is 0 <= numberCount <= highestNumber with highestNumber at least 1.
  Lottery(int numberCount, int highestNumber);
  virtual ~Lottery();

  // Draws one ticket: numberCount distinct numbers in the order drawn; null outside the range.
  std::unique_ptr<int[]> generateNumbers();

  // Draws one ticket as text, each number followed by one blank; empty outside the range.
  virtual std::string printTicket();

  const int numberCount;
  const int highestNumber;
};

namespace detail {

// One number from 1 to highest out of a source that yields 0 to source_max. When one call
// can reach every number (highest <= source_max + 1) this is source() % highest + 1;
// otherwise several calls are combined so that every number can come up.
int drawNumber(int highest, int (*source)(), long long source_max);

}  // namespace detail

}  // namespace lotto
