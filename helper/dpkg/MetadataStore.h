#pragma once

#include "helper/UniqueFd.h"
#include "helper/dpkg/DebArchive.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace helper::dpkg {

// A root-only folder of this tool's own inside the volume, var/lib/varnel/<name> (the metadata cache,
// the receipts). Its folders are 0700 and its files 0600, owned by whoever runs the tool (root). Files
// are written whole under a temporary name and renamed into place, never through a link; a file read
// back counts only when it is a regular file with one link, of our owner, open to nobody else and
// well-formed, so a corrupt or planted file is ignored, never believed.
class MetadataStore {
public:
    // The store, created (with var/lib/varnel) when `create` is set and it is missing; none when it
    // is missing, or when it or var/lib/varnel is not a folder of ours that only we may write.
    static std::optional<MetadataStore> open(int rootFd, std::string_view name, bool create);

    // A file's text; none when it is missing or not to be believed (see above), or over `maxSize`.
    std::optional<std::string> readFile(const std::string& name, size_t maxSize = 64u << 20) const;
    bool writeFile(const std::string& name, std::string_view content) const;

    // The file of one package version: "<name>_<version, ':' as %3a>_<architecture>", as apt names them.
    static std::string fileName(std::string_view package, std::string_view version,
                                std::string_view architecture);

    // The entries of one package version, read back only when the file says it holds exactly that
    // package, version and architecture, of this `kind`, and every entry is well-formed.
    bool readEntries(std::string_view kind, std::string_view package, std::string_view version,
                     std::string_view architecture, std::vector<DebEntry>& entries) const;
    bool writeEntries(std::string_view kind, std::string_view package, std::string_view version,
                      std::string_view architecture, const std::vector<DebEntry>& entries) const;
    // Removes the files of the package's other versions on that architecture (fileName's form).
    void removeOtherVersions(std::string_view package, std::string_view version,
                             std::string_view architecture) const;

    // One package version's entries as the store's files hold them (without the file's magic), and
    // back: false unless it holds exactly that kind, package, version and architecture and every entry
    // is well-formed.
    static std::string record(std::string_view kind, std::string_view package, std::string_view version,
                              std::string_view architecture, const std::vector<DebEntry>& entries);
    static bool parseRecord(std::string_view record, std::string_view kind, std::string_view package,
                            std::string_view version, std::string_view architecture,
                            std::vector<DebEntry>& entries);

    int fd() const { return m_folder.get(); }

private:
    explicit MetadataStore(UniqueFd folder)
        : m_folder(std::move(folder)) {}
    UniqueFd m_folder;
};

// Many package versions' records in one file of a store, read whole once and replaced whole once: the
// metadata cache, where a file per package would cost a create and a rename each. Each record is
// length-prefixed; a record is believed only as MetadataStore::parseRecord says, one that is not is
// ignored, and a length that does not fit ends the reading (the records before it stand).
class EntryBundle {
public:
    EntryBundle() = default;
    // The bundle `name` of `store`; empty when it is missing or the file is not to be believed.
    static EntryBundle read(const MetadataStore& store, const std::string& name);

    // The record of one package version and its entries; none when it is missing or not to be believed.
    std::optional<std::string_view> find(std::string_view kind, std::string_view package,
                                         std::string_view version, std::string_view architecture,
                                         std::vector<DebEntry>& entries) const;
    std::string_view text() const { return m_text ? std::string_view(*m_text) : std::string_view(); }

    // A bundle's text: start(), then append() for each record.
    static std::string start();
    static void append(std::string& text, std::string_view record);

private:
    std::unique_ptr<const std::string> m_text; // where the views below point, wherever the bundle moves
    std::unordered_map<std::string_view, std::string_view> m_records; // by their kind, package, version
                                                                      // and architecture fields
};

} // namespace helper::dpkg
