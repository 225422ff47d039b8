// The version rule setup orders an installed version by and kxpack warns
// with (base/version_order.h), table-driven: each row says how the first
// version stands to the second, and the reverse must be its mirror.
#include <gtest/gtest.h>

#include <string>

#include "base/version_order.h"

namespace {

using kxversion::Order;

Order Compare(const std::u16string& a, const std::u16string& b) {
  return kxversion::Compare(a.data(), a.size(), b.data(), b.size());
}

Order Mirror(Order order) {
  if (order == Order::kNewer) return Order::kOlder;
  if (order == Order::kOlder) return Order::kNewer;
  return order;
}

TEST(VersionOrder, ComparesPartByPartAsNumbersAndMirrors) {
  const struct {
    const char16_t* a;
    const char16_t* b;
    Order order;
  } cases[] = {
      {u"2.10", u"2.9", Order::kNewer},                 // numbers, not text
      {u"2021.03.01.01", u"2020.01.15.01", Order::kNewer},
      {u"2020.01.15.01", u"2020.01.15.01", Order::kSame},
      {u"2.1", u"2.1.0", Order::kSame},                 // missing parts are 0
      {u"2.1", u"2.1.0.1", Order::kOlder},
      {u"01.002", u"1.2", Order::kSame},                // leading zeros
      {u"10", u"9.99.99", Order::kNewer},
      {u"0", u"0.0.0", Order::kSame},
      // Longer than any machine number: still compared digit by digit.
      {u"1.123456789012345678901234567890", u"1.123456789012345678901234567889", Order::kNewer},
      {u"1.00000000000000000000000000000000009", u"1.8", Order::kNewer},
      // Not orderable: equal texts are the same, others unordered.
      {u"2.1-beta", u"2.1-BETA", Order::kSame},
      {u"2.1-beta", u"2.1", Order::kUnordered},
      {u"v3", u"2", Order::kUnordered},
      {u"", u"1", Order::kUnordered},
      {u"1..2", u"1.2", Order::kUnordered},
      {u".1", u"0.1", Order::kUnordered},
      {u"1.", u"1", Order::kUnordered},
      {u"1 .2", u"1.2", Order::kUnordered},
      {u"\u0661.2", u"1.2", Order::kUnordered},  // Arabic-Indic digit: not ours
  };
  for (const auto& row : cases) {
    EXPECT_EQ(Compare(row.a, row.b), row.order) << std::string(row.a, row.a + std::u16string(row.a).size());
    EXPECT_EQ(Compare(row.b, row.a), Mirror(row.order));
  }
}

TEST(VersionOrder, TellsWhichVersionsCanBeOrdered) {
  for (const char* good : {"1", "2.10", "2020.01.15.01", "0.0.0.0.0"})
    EXPECT_TRUE(kxversion::CanBeOrdered(good, std::string(good).size())) << good;
  for (const char* bad : {"", ".", "1.", ".1", "1..2", "1.2a", "v1", "1,2", "1 2", "-1"})
    EXPECT_FALSE(kxversion::CanBeOrdered(bad, std::string(bad).size())) << bad;
}

}  // namespace
