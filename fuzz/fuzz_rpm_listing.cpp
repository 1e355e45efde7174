// The repair tool's reading of rpm's listing (RpmListing), as rpm's output would reach it through a
// descriptor. Besides the sanitizers, it checks what every file it yields promises.
#include "helper/RpmDatabase.h"

#include <cstddef>
#include <cstdint>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("listing", MFD_CLOEXEC);
    check(fd >= 0 && ::ftruncate(fd, 0) == 0 && ::pwrite(fd, data, size, 0) == static_cast<ssize_t>(size) &&
          ::lseek(fd, 0, SEEK_SET) == 0);
    helper::RpmListing listing(fd, 1, "Mark"); // the corpus and the dictionary use this mark
    helper::PackagedFile file;
    constexpr unsigned all = helper::PackagedFile::kVerifyMode | helper::PackagedFile::kVerifyUser |
                             helper::PackagedFile::kVerifyGroup;
    for (std::size_t items = 0;; ++items) {
        check(items <= size); // every item takes at least a byte
        const helper::RpmListing::Item item = listing.next(file);
        if (item == helper::RpmListing::Item::End)
            break;
        if (item == helper::RpmListing::Item::Error) {
            check(!listing.failure().empty());
            break;
        }
        // User and group come bare in the listing: never empty, never holding a field's separator.
        if (item == helper::RpmListing::Item::File)
            check(file.mode <= 0xFFFFu && (file.verify & ~all) == 0 && file.path.size() < size &&
                  !file.user.empty() && !file.group.empty() &&
                  file.user.find_first_of(" \n") == std::string::npos &&
                  file.group.find_first_of(" \n") == std::string::npos);
    }
    return 0;
}
