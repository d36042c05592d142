#pragma once

#include <cstdint>

namespace vekta {

// The printer's money arithmetic, exact in integers. Sums are kopecks; a rate R is hundredths of
// a per cent (2000 is 20.00 %, r = R / 10000).

// Whole goods: quantity x price. Divisible goods (quantity in thousandths, price per 1000):
// (quantity x price + 500) / 1000, the division truncating.
std::int64_t SimLineSum(std::int64_t quantity, std::int64_t price, bool divisible);
// On-sale (type "1") and sale-included (type "2") tax of one line: floor(sum x r).
std::int64_t SimLineAddedTax(std::int64_t sum, int rate);
// Included tax (type "0") of one line: ceil(sum x r / (1 + r)).
std::int64_t SimLineIncludedTax(std::int64_t sum, int rate);
// Tax on a group's total, rounded half up: floor(sum x r + 1/2).
std::int64_t SimTotalTax(std::int64_t sum, int rate);

}  // namespace vekta
