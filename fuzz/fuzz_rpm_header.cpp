// The repair tool's reading of a package header from rpm's database (RpmHeaderReader). Besides the
// sanitizers, it checks that a header is taken whole or not at all.
#include "helper/RpmHeader.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static helper::RpmHeaderReader reader;
    std::vector<helper::PackagedFile> files(1);
    const bool whole = reader.read({data, size}, files);
    if (whole != reader.failure().empty() || (!whole && files.size() != 1))
        __builtin_trap();
    for (const helper::PackagedFile& file : files)
        if (file.mode > 0xFFFFu || file.user.find(' ') != std::string::npos)
            __builtin_trap();
    return 0;
}
