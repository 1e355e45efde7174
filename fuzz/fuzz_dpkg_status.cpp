// dpkg's database texts (status, statoverride, diversions, maintainer scripts, dpkg.log lines) and file
// capability attributes on arbitrary bytes. Besides the sanitizers, it checks what the readers promise:
// names, versions and architectures only in dpkg's alphabets (they become file names), every path
// absolute and normalised, capability text in the alphabet receipts accept.
#include "helper/dpkg/DpkgText.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

void checkPath(const std::string& path) {
    check(!path.empty() && helper::dpkg::normalisePath(path) == path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace helper::dpkg;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const InstalledPackage& package : parseStatus(text)) {
        check(validPackageName(package.name) && validArchitecture(package.architecture) &&
              validVersion(package.version));
        check(package.name.find('/') == std::string::npos && package.version.find('/') == std::string::npos);
        for (const std::string& path : package.conffiles)
            checkPath(path);
    }
    for (const StatOverride& over : parseStatOverrides(text)) {
        checkPath(over.path);
        check(over.mode <= 07777 && !over.user.empty() && !over.group.empty());
    }
    for (const Diversion& diversion : parseDiversions(text)) {
        checkPath(diversion.from);
        checkPath(diversion.to);
    }
    for (const std::string& path : scriptPaths(text))
        checkPath(path);
    ConfiguredLine line;
    if (parseConfiguredLine(text, line))
        check(validPackageName(line.name) && validVersion(line.version));
    // A capability attribute's text holds only names, digits, '_', ',', '=' and ' ' (receipts store it).
    if (const auto capability = capabilityText(text))
        for (const char c : *capability)
            check((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == ',' || c == '=' ||
                  c == ' ');
    return 0;
}
