// The ordering of versions, as one table of pairs in ascending order, then equivalent pairs.
#include "update/VersionComparator.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

TEST(VersionComparator, OrdersReleasesAndPreReleases) {
    using update::VersionComparator;
    const std::pair<const char16_t*, const char16_t*> ascending[] = {
        {u"1.9", u"1.10"},     {u"0.9", u"0.10"},     {u"1.5b3", u"1.5"},
        {u"1.5", u"1.5.1"},    {u"1.2rc1", u"1.2.0"}, {u"1.0a1", u"1.0b1"},
        {u"1.0b2", u"1.0b10"}, {u"1.0b1", u"1.0.1"},  {u"99", u"100"},
        {u"1.0", u"1.0.0.1"},  {u"1.0.0b1", u"1.0"},  {u"", u"0.1"},
        {u"009", u"10"},       {u"2.0", u"10.0"},     {u"18446744073709551616", u"18446744073709551617"},
    };
    for (const auto& [older, newer] : ascending) {
        SCOPED_TRACE(QString::fromUtf16(older).toStdString() + " < " +
                     QString::fromUtf16(newer).toStdString());
        EXPECT_TRUE(VersionComparator::compare(older, newer) < 0);
        EXPECT_TRUE(VersionComparator::compare(newer, older) > 0);
    }
    const std::pair<const char16_t*, const char16_t*> equivalent[] = {
        {u"1.0", u"1.0.0"}, {u"1.5", u" 1.5 "}, {u"01.2", u"1.02"}, {u"1.0b1", u"1.0b1"}};
    for (const auto& [a, b] : equivalent)
        EXPECT_TRUE(VersionComparator::compare(a, b) == 0 && VersionComparator::compare(b, a) == 0);
}

} // namespace
