#pragma once

#include "helper/PackagedFile.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace helper {

// rpm's notions of a file, whichever way its values were read: false for a file rpm does not hold in the
// normal state (replaced, not installed, …) or marks %ghost, which the check leaves alone; otherwise
// `file` gets the mode, %missingok and %verify's mode, user and group flags.
bool takeRpmFile(PackagedFile& file, unsigned long mode, long state, unsigned long flags,
                 unsigned long verify);

// One package's header as rpm's database stores it (a row of its sqlite database): the header's tag
// index and its data, big-endian, as rpm exports them. Tags rpm added after the package's own signed
// region (at installation: file states, relocated folders) come after it in the index and take the place
// of the region's; so the last entry of a tag holds.
class RpmHeaderReader {
public:
    // Appends the package's files to `files` as RpmListing yields them from rpm's own listing. False, with
    // nothing appended, when the blob is not a header whose file list this reader understands wholly;
    // failure() says why, and damaged() whether the header is broken (its sizes, places and strings do not
    // hold together: rpm itself would skip it) rather than merely beyond this reader.
    bool read(std::span<const unsigned char> blob, std::vector<PackagedFile>& files);
    const std::string& failure() const { return m_failure; }
    bool damaged() const { return m_damaged; }

private:
    bool fail(std::string why, bool damaged = false);

    std::vector<std::string_view> m_users, m_groups, m_baseNames, m_dirNames, m_capabilities;
    std::string m_failure;
    bool m_damaged = false;
};

} // namespace helper
