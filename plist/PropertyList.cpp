#include "plist/PropertyList.h"

#include "plist/Readers.h"

namespace plist {

using namespace detail;

std::vector<Value> parseAll(QStringView text) {
    std::vector<Value> lists;
    if (text.size() > kMaxTextLength)
        return lists;

    walkLists(
        text, [&](Value&& value) { lists.push_back(std::move(value)); },
        [&](QStringView list) {
            if (auto value = readXmlList(list))
                lists.push_back(std::move(*value));
        });
    return lists;
}

} // namespace plist
