#pragma once

#include <QStringView>
#include <compare>

namespace update {

// Orders version strings the way release feeds use them. A version is read as runs of digits (numbers,
// compared by value, however long), dots (separators) and runs of anything else (text, which marks a
// pre-release). So 1.10 > 1.9, 1.5 > 1.5b3, 1.5.1 > 1.5 and 1.2.0 > 1.2rc1.
//
// Trailing zero components do not make a version newer: 1.0 and 1.0.0 are equivalent, so a feed that
// writes a version with fewer or more components than the application never offers the same release.
// Surrounding white space is ignored.
class VersionComparator {
public:
    static std::weak_ordering compare(QStringView a, QStringView b);
};

} // namespace update
