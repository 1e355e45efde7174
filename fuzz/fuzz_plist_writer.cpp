// The repair tool's XML writing (PlistReporter) of arbitrary bytes as a message, read back by the
// application's parser: always exactly one well-formed list whose message is the bytes as text, with
// what XML cannot hold replaced.
#include "helper/PlistReporter.h"
#include "plist/PropertyList.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// xmlText's escapes undone: the text a reader should get back.
std::string unescaped(std::string text) {
    for (const auto& [entity, character] : {std::pair{"&lt;", "<"}, {"&gt;", ">"}, {"&amp;", "&"}})
        for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
            text.replace(at, std::char_traits<char>::length(entity), character);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int fd = ::memfd_create("plist", MFD_CLOEXEC);
    check(fd >= 0 && ::ftruncate(fd, 0) == 0 && ::lseek(fd, 0, SEEK_SET) == 0);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    helper::PlistReporter reporter(fd);
    check(reporter.message(bytes));
    const off_t length = ::lseek(fd, 0, SEEK_CUR);
    std::string out(static_cast<size_t>(length), '\0');
    check(::pread(fd, out.data(), out.size(), 0) == length);
    const auto lists = plist::parseAll(QString::fromUtf8(out));
    check(lists.size() == 1);
    const plist::Value* message = lists.front().find(u"Message");
    check(message &&
          message->text() == QString::fromStdString(unescaped(helper::PlistReporter::xmlText(bytes))));
    return 0;
}
