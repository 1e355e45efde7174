// The ordering of versions, as one table: each row is a pair in ascending order (or equivalent).
#include "update/VersionComparator.h"

#include <QString>
#include <gtest/gtest.h>

namespace {

using update::VersionComparator;

TEST(VersionComparator, OrdersReleasesAndPreReleases) {
    struct Row {
        const char16_t* older;
        const char16_t* newer;
    };
    const Row ascending[] = {
        {u"1.9", u"1.10"},
        {u"0.9", u"0.10"},
        {u"1.5b3", u"1.5"},
        {u"1.5", u"1.5.1"},
        {u"1.2rc1", u"1.2.0"},
        {u"1.0a1", u"1.0b1"},
        {u"1.0b2", u"1.0b10"},
        {u"1.0b1", u"1.0.1"},
        {u"99", u"100"},
        {u"1.0", u"1.0.0.1"},
        {u"1.0.0b1", u"1.0"},
        {u"", u"0.1"},
        {u"009", u"10"},
        {u"2.0", u"10.0"},
        {u"1.0", u"1.0.0.0.2"},
        {u"18446744073709551616", u"18446744073709551617"}, // longer than any integer type
    };
    for (const Row& row : ascending) {
        SCOPED_TRACE(testing::Message() << QStringView(row.older).toString().toStdString() << " < "
                                        << QStringView(row.newer).toString().toStdString());
        EXPECT_TRUE(VersionComparator::compare(row.older, row.newer) < 0);
        EXPECT_TRUE(VersionComparator::compare(row.newer, row.older) > 0);
    }
    const Row equivalent[] = {
        {u"1.0", u"1.0.0"}, {u"1.5", u" 1.5 "}, {u"01.2", u"1.02"}, {u"1.0b1", u"1.0b1"}};
    for (const Row& row : equivalent) {
        EXPECT_TRUE(VersionComparator::compare(row.older, row.newer) == 0);
        EXPECT_TRUE(VersionComparator::compare(row.newer, row.older) == 0);
    }
}

} // namespace
