#pragma once

// Archives of exactly the installed versions fetched with apt, for the running system ("/") only: what
// DpkgOptions::fetchArchive does when apt's cache lacks one.
//
// Each package is fetched by `apt-get download <name>:<architecture>=<version>` (apt-get by absolute path,
// a fixed environment, no shell) in a folder of its own inside a fresh root-only temporary folder. All
// downloads of one run share one time budget; apt is killed, with whatever it started, when it runs out.
// The file apt leaves is opened without following a link and used only when its control file says it is
// exactly that package, version and architecture. A version apt cannot get (no network, or the mirror no
// longer has it) leaves its package uncompared, with the reason.

#include "helper/UniqueFd.h"
#include "helper/dpkg/DpkgText.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace helper::dpkg {

class AptDownloader {
public:
    struct Options {
        std::string aptGet = VARNEL_APT_GET_PATH;
        std::chrono::seconds budget{120}; // for every download of the run together
    };

    explicit AptDownloader(Options options);
    AptDownloader()
        : AptDownloader(Options{}) {}
    AptDownloader(const AptDownloader&) = delete;
    AptDownloader& operator=(const AptDownloader&) = delete;
    // Removes the temporary folder and everything apt left in it.
    ~AptDownloader();

    // The archive of exactly that version, open for reading; an empty descriptor and `problem` when there
    // is none. Safe to call from several threads at once.
    UniqueFd fetch(const InstalledPackage& package, std::string& problem);

private:
    Options m_options;
    std::mutex m_deadlineMutex;
    std::chrono::steady_clock::time_point m_deadline; // set by the first download
    std::string m_folder;                             // empty when it could not be made
    UniqueFd m_folderFd;
    std::atomic<unsigned> m_serial{0};
};

} // namespace helper::dpkg
