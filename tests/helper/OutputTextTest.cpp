// The pieces of the repair tool's output that need no root: text in the XML and account names.
#include "helper/AccountDatabase.h"
#include "helper/PlistReporter.h"

#include <gtest/gtest.h>

namespace {

using helper::PlistReporter;

TEST(PlistReporterText, MarkupAndBytesXmlCannotHoldBecomeText) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"/usr/bin/plain", "/usr/bin/plain"},
        {"</string><key>End</key><true/>", "&lt;/string&gt;&lt;key&gt;End&lt;/key&gt;&lt;true/&gt;"},
        {"a&amp;b", "a&amp;amp;b"},
        {"]]>", "]]&gt;"},
        {"caf\xc3\xa9 \xe2\x80\x9c\xf0\x9f\x93\x81", "caf\xc3\xa9 \xe2\x80\x9c\xf0\x9f\x93\x81"},
        {"bad\xff\xfe", "bad\uFFFD\uFFFD"},
        {"\xc0\xaf overlong, \xed\xa0\x80 surrogate, \xf4\x90\x80\x80 too high",
         "\uFFFD\uFFFD overlong, \uFFFD\uFFFD\uFFFD surrogate, \uFFFD\uFFFD\uFFFD\uFFFD too high"},
        {"cut \xe2\x80", "cut \uFFFD\uFFFD"},
        {std::string("nul\0bell\a cr\r tab\t lf\n", 22), "nul\uFFFDbell\uFFFD cr\uFFFD tab\t lf\n"},
        {"\xef\xbf\xbe\xef\xbf\xbf", "\uFFFD\uFFFD"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PlistReporter::xmlText(c.in), c.out) << c.in;
}

TEST(AccountDatabase, NamesComeFromTheFilesGivenAndRootIsZero) {
    const auto accounts =
        helper::AccountDatabase::fromText("# comment\nadm:x:3:4::/:/bin/false\nbroken\n:x:9:9::/:\n"
                                          "number:x:12a:1::\nadm:x:33:33::/:\nlast:x:7:7",
                                          "wheel:x:10:alice,bob\n");
    EXPECT_TRUE(accounts.userId("adm") == 3u && accounts.userId("last") == 7u); // the first "adm" counts
    EXPECT_TRUE(accounts.userId("root") == 0u && accounts.groupId("root") == 0u &&
                accounts.groupId("wheel") == 10u);
    for (const char* unknown : {"number", "broken", "", "wheel"})
        EXPECT_FALSE(accounts.userId(unknown)) << unknown;
    EXPECT_EQ(accounts.userName(3) + accounts.userName(0) + accounts.userName(1000), "admroot1000");
}

} // namespace
