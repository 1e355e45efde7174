// The pieces of the repair tool's output that need no root: text in the XML, modes, account names.
#include "helper/AccountDatabase.h"
#include "helper/FileRepairer.h"
#include "helper/PlistReporter.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(FileRepairerModes, ReadAsAListingShowsThem) {
    const struct {
        unsigned mode;
        const char* text;
    } cases[] = {{S_IFREG | 0644, "-rw-r--r--"},  {S_IFDIR | 0750, "drwxr-x---"},
                 {S_IFREG | 04755, "-rwsr-xr-x"}, {S_IFREG | 02644, "-rw-r-Sr--"},
                 {S_IFDIR | 01777, "drwxrwxrwt"}, {S_IFDIR | 01770, "drwxrwx--T"},
                 {S_IFREG | 0, "----------"},     {S_IFREG | 06555, "-r-sr-sr-x"}};
    for (const auto& c : cases)
        EXPECT_EQ(helper::FileRepairer::modeString(c.mode), c.text);
}

TEST(AccountDatabase, NamesComeFromTheFilesGivenAndRootIsZero) {
    const auto accounts = helper::AccountDatabase::fromText(
        "# comment\nadm:x:3:4::/:/bin/false\nbroken line\n:x:9:9::/:\nnumber:x:12a:1::\n"
        "adm:x:33:33::/:\nlast:x:7:7",
        "wheel:x:10:alice,bob\nstaff:x:50\n");
    EXPECT_EQ(accounts.userId("adm"), 3u); // the first of two entries, as getpwnam() answers
    EXPECT_EQ(accounts.userId("last"), 7u);
    EXPECT_EQ(accounts.userId("root"), 0u);
    EXPECT_EQ(accounts.groupId("root"), 0u);
    EXPECT_EQ(accounts.groupId("staff"), 50u);
    for (const char* unknown : {"number", "broken line", "", "wheel", "x"})
        EXPECT_FALSE(accounts.userId(unknown)) << unknown;
    EXPECT_EQ(accounts.userName(3), "adm");
    EXPECT_EQ(accounts.userName(0), "root");
    EXPECT_EQ(accounts.userName(1000), "1000");
    EXPECT_EQ(accounts.groupName(10), "wheel");
}

} // namespace
