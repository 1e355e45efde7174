// The pieces of the repair tool that need no root: text in the XML, account names and the repair rules.
#include "helper/AccountDatabase.h"
#include "helper/PlistReporter.h"
#include "helper/RepairRule.h"
#include "helper/Reporter.h"

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

// What reaches a terminal cannot move its cursor or change its settings (C0 and C1 controls, escape
// sequences), and JSON strings stay valid JSON whatever bytes a file name holds.
TEST(ReporterText, TerminalsGetNoControlsAndJsonStaysValid) {
    const struct {
        std::string in, terminal, json;
    } cases[] = {
        {"/usr/bin/plain", "/usr/bin/plain", R"("/usr/bin/plain")"},
        {"quote\" back\\slash", "quote\" back\\slash", R"("quote\" back\\slash")"},
        {"\x1b]0;title\a\x1b[2J", "\uFFFD]0;title\uFFFD\uFFFD[2J", R"("\u001b]0;title\u0007\u001b[2J")"},
        {"csi\xc2\x9b"
         "2J del\x7f",
         "csi\uFFFD2J del\uFFFD", R"("csi\u009b2J del\u007f")"},
        {std::string("nul\0 cr\r tab\t lf\n", 17), "nul\uFFFD cr\uFFFD tab\uFFFD lf\uFFFD",
         R"("nul\u0000 cr\r tab\t lf\n")"},
        {"bad\xff\xfe cut \xe2\x80", "bad\uFFFD\uFFFD cut \uFFFD\uFFFD",
         R"("bad\ufffd\ufffd cut \ufffd\ufffd")"},
        {"caf\xc3\xa9 \u201c\u2028\U0001F4C1", "caf\xc3\xa9 \u201c\u2028\U0001F4C1",
         "\"caf\xc3\xa9 \u201c\u2028\U0001F4C1\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(helper::HumanReporter::terminalText(c.in), c.terminal) << c.in;
        EXPECT_EQ(helper::JsonReporter::jsonString(c.in), c.json) << c.in;
    }
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
    EXPECT_TRUE(accounts.uidMin() == 1000u && accounts.gidMin() == 1000u);
    const auto defs =
        helper::AccountDatabase::fromText("", "", "# UID_MIN 1\nUID_MIN\t\t 500\nGID_MIN 600x\n");
    EXPECT_TRUE(defs.uidMin() == 500u && defs.gidMin() == 1000u);
}

// What each rule makes of a path (mode, uid, gid), with login accounts from 1000 on.
TEST(RepairRule, ExactRestoresBothWaysUndoDamageOnlyTakesAway) {
    using helper::PackagedFile;
    using D = helper::RepairDecision;
    constexpr auto exact = PackagedFile::Rule::Exact, undo = PackagedFile::Rule::UndoDamage;
    constexpr unsigned all =
        PackagedFile::kVerifyMode | PackagedFile::kVerifyUser | PackagedFile::kVerifyGroup;
    const struct {
        PackagedFile::Rule rule;
        unsigned verify;
        helper::Ownership wanted, found, made;
        unsigned kept;
    } rows[] = {
        // clang-format off
        {exact, all, {04755, 0, 0}, {0700, 1000, 1000}, {04755, 0, 0}, 0},
        {exact, all, {0600, 0, 0}, {04777, 0, 0}, {0600, 0, 0}, 0},
        {exact, PackagedFile::kVerifyUser | PackagedFile::kVerifyGroup, {0600, 0, 0}, {0644, 5, 0}, {0644, 0, 0}, 0},
        {exact, PackagedFile::kVerifyMode, {0644, 0, 0}, {0600, 5, 6}, {0644, 5, 6}, 0},
        {undo, all, {0644, 0, 0}, {0777, 0, 0}, {0644, 0, 0}, 0},                       // only gained bits
        {undo, all, {0640, 0, 0}, {0602, 0, 0}, {0600, 0, 0}, D::kModeNotWidened},      // world write taken
        {undo, all, {0440, 0, 0}, {0400, 0, 0}, {0400, 0, 0}, D::kModeNotWidened},      // never widened
        {undo, all, {0755, 0, 0}, {04777, 0, 0}, {04755, 0, 0}, D::kSpecialKept},       // set-ID stays
        {undo, all, {04755, 0, 0}, {0755, 0, 0}, {0755, 0, 0}, D::kModeNotWidened},     // nor put back
        {undo, all, {0644, 0, 5}, {0644, 1000, 1001}, {0644, 0, 5}, 0},                 // a login account's
        {undo, all, {0644, 0, 0}, {0644, 999, 7}, {0644, 999, 7}, D::kOwnerKept | D::kGroupKept},
        {undo, all, {0644, 1200, 0}, {0644, 1000, 0}, {0644, 1000, 0}, D::kOwnerKept},  // a login account wanted
        // clang-format on
    };
    for (const auto& r : rows) {
        const D d = helper::decideRepair(r.wanted, r.verify, r.rule, r.found, 1000, 1000);
        SCOPED_TRACE(testing::Message() << std::oct << r.wanted.mode << " found " << r.found.mode);
        EXPECT_EQ(d.target.mode, r.made.mode);
        EXPECT_EQ(d.target.uid, r.made.uid);
        EXPECT_EQ(d.target.gid, r.made.gid);
        EXPECT_EQ(d.kept, r.kept);
        EXPECT_TRUE(d.differs());
    }
}

} // namespace
