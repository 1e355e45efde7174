#include "helper/RpmHeader.h"

#include <cstdint>

namespace helper {

namespace {

// rpm's limits on a header: the entries of its index and the bytes of its data.
constexpr uint32_t kMostEntries = 0xFFFF, kMostData = 0x0FFFFFFF;
constexpr size_t kMostName = 64 * 1024; // as for a field of rpm's listing

constexpr uint32_t kTypeChar = 1, kTypeInt16 = 3, kTypeInt32 = 4, kTypeString = 6, kTypeStringArray = 8;

constexpr long kStateNormal = 0;
constexpr unsigned long kFlagMissingOk = 1u << 3;
constexpr unsigned long kFlagGhost = 1u << 6;
constexpr unsigned long kVerifyUser = 1u << 3, kVerifyGroup = 1u << 4, kVerifyMode = 1u << 6;

// The tags read, in the order of the table below.
enum Tag {
    Name,
    Modes,
    States,
    Flags,
    Verify,
    Users,
    Groups,
    DirIndexes,
    BaseNames,
    DirNames,
    Capabilities,
    OldFileNames,
    kTagCount
};
constexpr struct {
    uint32_t tag, type;
} kTags[kTagCount] = {{1000, kTypeString},      {1030, kTypeInt16},       {1029, kTypeChar},
                      {1037, kTypeInt32},       {1045, kTypeInt32},       {1039, kTypeStringArray},
                      {1040, kTypeStringArray}, {1116, kTypeInt32},       {1117, kTypeStringArray},
                      {1118, kTypeStringArray}, {5010, kTypeStringArray}, {1027, kTypeStringArray}};

uint32_t be32(const unsigned char* p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// A tag's values: where they begin in the data and how many there are.
struct Values {
    const unsigned char* at = nullptr;
    uint32_t count = 0;
    bool present = false;
};

} // namespace

bool takeRpmFile(PackagedFile& file, unsigned long mode, long state, unsigned long flags,
                 unsigned long verify) {
    if (state != kStateNormal || (flags & kFlagGhost))
        return false;
    file.mode = static_cast<unsigned>(mode) & 0xFFFFu;
    file.missingOk = flags & kFlagMissingOk;
    file.verify = ((verify & kVerifyMode) ? PackagedFile::kVerifyMode : 0u) |
                  ((verify & kVerifyUser) ? PackagedFile::kVerifyUser : 0u) |
                  ((verify & kVerifyGroup) ? PackagedFile::kVerifyGroup : 0u);
    file.rule = PackagedFile::Rule::Exact;
    return true;
}

bool RpmHeaderReader::fail(std::string why, bool damaged) {
    m_failure = std::move(why);
    m_damaged = damaged;
    return false;
}

bool RpmHeaderReader::read(std::span<const unsigned char> blob, std::vector<PackagedFile>& files) {
    m_failure.clear();
    m_damaged = false;
    if (blob.size() < 8)
        return fail("a package header is cut short", true);
    const uint32_t entries = be32(blob.data()), dataSize = be32(blob.data() + 4);
    if (entries == 0 || entries > kMostEntries || dataSize > kMostData ||
        blob.size() != 8 + 16 * size_t{entries} + dataSize)
        return fail("a package header's sizes do not add up", true);
    const unsigned char* const index = blob.data() + 8;
    const unsigned char* const data = index + 16 * size_t{entries};
    const unsigned char* const end = data + dataSize;

    Values values[kTagCount];
    for (uint32_t i = 0; i < entries; ++i) {
        const unsigned char* const entry = index + 16 * size_t{i};
        const uint32_t tag = be32(entry), type = be32(entry + 4), offset = be32(entry + 8),
                       count = be32(entry + 12);
        for (int t = 0; t < kTagCount; ++t) {
            if (kTags[t].tag != tag)
                continue;
            if (offset >= dataSize || count > dataSize)
                return fail("a package header's tag " + std::to_string(tag) + " lies outside its data", true);
            if (type != kTags[t].type || count == 0)
                return fail("a package header holds a tag " + std::to_string(tag) + " it cannot read");
            values[t] = {data + offset, count, true};
        }
    }

    // Fixed-size values must lie inside the data; strings must end there.
    const auto fits = [end](const Values& v, size_t size) {
        return !v.present || static_cast<size_t>(end - v.at) / size >= v.count;
    };
    const auto strings = [end](const Values& v, std::vector<std::string_view>& out) {
        out.clear();
        const unsigned char* at = v.at;
        for (uint32_t i = 0; v.present && i < v.count; ++i) {
            const unsigned char* stop = at;
            while (stop < end && *stop != 0)
                ++stop;
            if (stop == end)
                return false;
            out.emplace_back(reinterpret_cast<const char*>(at), static_cast<size_t>(stop - at));
            at = stop + 1;
        }
        return true;
    };
    std::vector<std::string_view> name;
    if (!values[Name].present)
        return fail("a package header names no package");
    if (!strings(values[Name], name))
        return fail("a package header's name runs past its data", true);
    if (!values[BaseNames].present) {
        if (values[OldFileNames].present)
            return fail("package " + std::string(name[0]) + " lists its files in the old way");
        return true; // a package without files
    }
    const uint32_t count = values[BaseNames].count;
    bool complete =
        values[DirNames].present && (!values[Capabilities].present || values[Capabilities].count == count);
    for (const Tag t : {Modes, States, Flags, Verify, Users, Groups, DirIndexes})
        complete = complete && values[t].present && values[t].count == count;
    if (!complete)
        return fail("package " + std::string(name[0]) + " does not say everything about its files");
    if (!fits(values[Modes], 2) || !fits(values[States], 1) || !fits(values[Flags], 4) ||
        !fits(values[Verify], 4) || !fits(values[DirIndexes], 4) || !strings(values[Users], m_users) ||
        !strings(values[Groups], m_groups) || !strings(values[BaseNames], m_baseNames) ||
        !strings(values[DirNames], m_dirNames) || !strings(values[Capabilities], m_capabilities))
        return fail("package " + std::string(name[0]) + "'s header runs past its data", true);

    const size_t before = files.size();
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t dir = be32(values[DirIndexes].at + 4 * size_t{i});
        const std::string_view user = m_users[i], group = m_groups[i];
        if (dir >= m_dirNames.size()) {
            files.resize(before);
            return fail("package " + std::string(name[0]) + "'s header names a folder it does not hold",
                        true);
        }
        // What rpm's listing could not carry either: an owner's name that is empty or holds a separator.
        if (user.empty() || group.empty() || user.find_first_of(" \n") != std::string_view::npos ||
            group.find_first_of(" \n") != std::string_view::npos ||
            m_dirNames[dir].size() + m_baseNames[i].size() > kMostName) {
            files.resize(before);
            return fail("package " + std::string(name[0]) + "'s header holds a file it cannot read");
        }
        const unsigned char* const mode = values[Modes].at + 2 * size_t{i};
        PackagedFile file;
        if (!takeRpmFile(file, unsigned{mode[0]} << 8 | mode[1], values[States].at[i],
                         be32(values[Flags].at + 4 * size_t{i}), be32(values[Verify].at + 4 * size_t{i})))
            continue;
        file.package = name[0];
        file.path.reserve(m_dirNames[dir].size() + m_baseNames[i].size());
        file.path.append(m_dirNames[dir]).append(m_baseNames[i]);
        file.user = user;
        file.group = group;
        if (values[Capabilities].present)
            file.capability = m_capabilities[i];
        files.push_back(std::move(file));
    }
    return true;
}

} // namespace helper
