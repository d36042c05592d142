#include "sim/tax_math.h"

namespace vekta {

namespace {

// Division rounding toward minus infinity, for the rare negative sum.
std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

std::int64_t SimLineSum(std::int64_t quantity, std::int64_t price, bool divisible) {
  if (!divisible) return quantity * price;
  return (quantity * price + 500) / 1000;
}

std::int64_t SimLineAddedTax(std::int64_t sum, int rate) {
  return FloorDiv(sum * rate, 10000);
}

std::int64_t SimLineIncludedTax(std::int64_t sum, int rate) {
  return -FloorDiv(-sum * rate, 10000 + rate);
}

std::int64_t SimTotalTax(std::int64_t sum, int rate) {
  return FloorDiv(sum * rate * 2 + 10000, 20000);
}

}  // namespace vekta
