// Finding and reading property lists in chunks of text, including hostile ones.
#include "plist/PropertyList.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using plist::DictionaryEntry;
using plist::parseAll;
using plist::Value;

namespace {

const QString kHeader = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n");

QString xmlList(const QString& body) {
    return kHeader + "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

// One progress report as the repair tool prints it.
QString progressList(const QString& percent, bool end = false) {
    return xmlList("<dict>\n\t<key>End</key>\n\t<" + QString(end ? "true" : "false") +
                   "/>\n\t<key>PercentComplete</key>\n\t<real>" + percent +
                   "</real>\n\t<key>Message</key>\n\t<string>Repairing &amp; checking “/”</string>\n</dict>");
}

double percentOf(const Value& v) {
    return plist::doubleValue(v.find(u"PercentComplete"));
}

Value dict(std::vector<DictionaryEntry> entries) {
    return Value::fromDictionary(std::move(entries));
}
Value str(const char* s) {
    return Value::fromString(QString::fromUtf8(s));
}

QString nested(int depth, const QString& open, const QString& close, const QString& inner) {
    return open.repeated(depth) + inner + close.repeated(depth);
}

TEST(ParseXml, ReadsTheToolsProgressReport) {
    const auto lists = parseAll(progressList("37.9", true));
    ASSERT_EQ(lists.size(), 1u);
    const Value& report = lists[0];
    ASSERT_TRUE(report.isDictionary());
    EXPECT_DOUBLE_EQ(percentOf(report), 37.9);
    EXPECT_TRUE(plist::boolValue(report.find(u"End")));
    EXPECT_EQ(report.find(u"Message")->text(), QString::fromUtf8("Repairing & checking “/”"));
    EXPECT_EQ(report.find(u"Missing"), nullptr);
    EXPECT_EQ(report.find(u"End")->find(u"x"), nullptr); // find on a non-dictionary
}

TEST(ParseXml, ReadsEveryValueType) {
    const auto lists = parseAll(xmlList(R"(<dict>
        <key>s</key><string>a<![CDATA[<b>]]>&#x41;</string>
        <key>empty</key><string/>
        <key>r</key><real> -1.5e3 </real>
        <key>inf</key><real>-infinity</real>
        <key>i</key><integer>-9223372036854775808</integer>
        <key>t</key><true/><key>f</key><false></false>
        <key>d</key><date>2001-01-01T00:00:00Z</date>
        <key>leap</key><date>2024-02-29T23:59:59Z</date>
        <key>bin</key><data>AAEC
            /w==</data>
        <key>a</key><array><integer>1</integer><array/><dict/></array>
        <!-- a comment --><?pi ignored?>
    </dict>)"));
    ASSERT_EQ(lists.size(), 1u);
    const Value& v = lists[0];
    EXPECT_EQ(v.find(u"s")->text(), "a<b>A");
    EXPECT_TRUE(v.find(u"empty")->isString());
    EXPECT_EQ(v.find(u"r")->real(), -1500.0);
    EXPECT_EQ(v.find(u"inf")->real(), -std::numeric_limits<double>::infinity());
    EXPECT_EQ(v.find(u"i")->integer(), std::numeric_limits<std::int64_t>::lowest());
    EXPECT_TRUE(v.find(u"t")->boolean());
    EXPECT_TRUE(v.find(u"f")->isBoolean());
    EXPECT_FALSE(v.find(u"f")->boolean());
    EXPECT_EQ(v.find(u"d")->secondsSince1970(), 978307200.0);
    EXPECT_EQ(v.find(u"leap")->secondsSince1970(), 1709251199.0);
    EXPECT_EQ(v.find(u"bin")->bytes(), QByteArray("\x00\x01\x02\xff", 4));
    EXPECT_EQ(*v.find(u"a"), Value::fromArray({Value::fromInteger(1), Value::fromArray({}), dict({})}));
}

TEST(ParseXml, DeclaredEncodingsDoNotReinterpretTheDecodedText) {
    for (const char* encoding : {"ISO-8859-1", "UTF-16", "US-ASCII"}) {
        const auto lists = parseAll(
            QString::fromUtf8("<?xml version=\"1.0\" encoding=\"%1\"?><plist><string>é “/”</string></plist>")
                .arg(encoding));
        ASSERT_EQ(lists.size(), 1u) << encoding;
        EXPECT_EQ(lists[0].text(), QString::fromUtf8("é “/”")) << encoding;
    }
}

TEST(ParseXml, MalformedListsYieldNothing) {
    const char* bodies[] = {
        "<dict><key>a</key></dict>",              // key without value
        "<dict><string>a</string></dict>",        // value without key
        "<dict>text<key>a</key><true/></dict>",   // text between elements
        "<dict><key>a</key><color/></dict>",      // unknown element
        "<string>a<b/></string>",                 // element inside text
        "<real>37,9</real>",                      // not a number
        "<real></real>",                          // empty number
        "<integer>9223372036854775808</integer>", // beyond 64 bits
        "<integer>1.5</integer>",                 // not an integer
        "<true>yes</true>",                       // content in a boolean
        "<date>2023-02-29T00:00:00Z</date>",      // no such day
        "<date>2023-01-01 00:00:00</date>",       // wrong form
        "<data>AB$=</data>",                      // not base64
        "<string>a</string><string>b</string>",   // two values
        "",                                       // no value
        "<dict><key>a</key><true/>",              // unbalanced, yet ends in </plist>
        "<string>&unknown;</string>",             // undeclared entity
    };
    for (const char* body : bodies)
        EXPECT_TRUE(parseAll(xmlList(body)).empty()) << body;
}

TEST(ParseXml, DocumentTypesOnlyNameTheirDtdAndNeverDeclareEntities) {
    // A bare list, and one with a system identifier that must not be fetched, both read.
    EXPECT_EQ(parseAll(u"<plist><true/></plist>").size(), 1u);
    EXPECT_EQ(parseAll(u"<!DOCTYPE plist SYSTEM \"file:///etc/passwd\"><plist><true/></plist>").size(), 1u);
    // Internal subsets are refused whole: entities are never expanded, however harmless they look.
    const QString laughs =
        "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"lol\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
        "<plist><dict><key>PercentComplete</key><string>&c;</string></dict></plist>";
    EXPECT_TRUE(parseAll(laughs).empty());
    EXPECT_TRUE(
        parseAll(u"<!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><plist><string>&x;</string>"
                 u"</plist>")
            .empty());
    EXPECT_TRUE(parseAll(u"<!DOCTYPE plist [ ]><plist><true/></plist>").empty());
    // An entity left unresolved beside an external DTD is refused too; the next list still reads.
    const auto lists = parseAll(
        u"<!DOCTYPE plist SYSTEM \"x.dtd\"><plist><string>&e;</string></plist><plist><false/></plist>");
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0], Value::fromBoolean(false));
}

TEST(ParseText, ReadsOldStyleAndStringsFileForms) {
    const Value expected =
        dict({{"End", str("YES")},
              {"PercentComplete", str("37.9")},
              {"List", Value::fromArray({str("a b"), str("c"), Value::fromData("\x0f\xab")})},
              {"Inner", dict({{"k", str("v")}})}});
    const auto braced = parseAll(u"// progress\n{ End = YES; PercentComplete = \"37.9\"; /* more */\n"
                                 u"  List = (\"a b\", c, <0f ab>,); Inner = { k = v; }; }");
    ASSERT_EQ(braced.size(), 1u);
    EXPECT_EQ(braced[0], expected);
    const auto stringsFile =
        parseAll(u"\"End\" = \"YES\";\n\"PercentComplete\" = \"37.9\";\n'List' = (\"a b\", c, <0fab>);\n"
                 u"Inner = { k = v; };\n");
    ASSERT_EQ(stringsFile.size(), 1u);
    EXPECT_EQ(stringsFile[0], expected);
}

TEST(ParseText, QuotedStringsUnescapeAndLaterKeysWin) {
    const auto lists = parseAll(uR"({ s = "tab\tnl\n\"q\" \\ \101\U00e9\z"; k = 1; k = 2; })");
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].find(u"s")->text(), QString::fromUtf8("tab\tnl\n\"q\" \\ Aéz"));
    EXPECT_EQ(lists[0].find(u"k")->text(), "2");
    EXPECT_EQ(lists[0].entries().size(), 2u);
}

TEST(ParseText, MalformedListsYieldNothing) {
    const char* texts[] = {
        "{ a = b }",     "{ a b; }", "{ = b; }",  "( a b )",         "{ a = <0f0>; }",
        "{ a = <zz>; }", "a = b",    "\"a\" = ;", "Finished repair", "{ a = b; } }",
    };
    for (const char* text : texts) {
        const auto lists = parseAll(QString::fromUtf8(text));
        // Only a complete list before the fault may come out; nothing is made of the rest.
        EXPECT_LE(lists.size(), 1u) << text;
        for (const auto& v : lists)
            EXPECT_EQ(v, dict({{"a", str("b")}})) << text;
    }
}

TEST(ParseChunks, YieldsEveryCompleteListInOrder) {
    const QString chunk = progressList("10") + "\n" + progressList("20") + "stray text }{ \n" +
                          progressList("30.5") + "\"Note\" = \"x\";\n" + progressList("40", true);
    const auto lists = parseAll(chunk);
    ASSERT_EQ(lists.size(), 5u);
    EXPECT_EQ(percentOf(lists[0]), 10);
    EXPECT_EQ(percentOf(lists[1]), 20);
    EXPECT_EQ(percentOf(lists[2]), 30.5);
    EXPECT_EQ(lists[3], dict({{"Note", str("x")}}));
    EXPECT_EQ(percentOf(lists[4]), 40);
    EXPECT_TRUE(plist::boolValue(lists[4].find(u"End")));
}

TEST(ParseChunks, ListsCutOffAtEitherEndYieldNothing) {
    const QString whole = progressList("50");
    // Every cut of a list yields nothing of it, the whole neighbour always survives. (A list cut in its
    // prolog, before <plist>, may still be whole: the declaration and document type are optional.)
    for (qsizetype cut = 1; cut < whole.size() - 1; ++cut) {
        const auto back = parseAll(QString(progressList("10") + whole.first(cut)));
        ASSERT_EQ(back.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(percentOf(back[0]), 10);
        if (cut <= whole.indexOf("<plist"))
            continue;
        const auto front = parseAll(QString(whole.sliced(cut) + progressList("60")));
        ASSERT_GE(front.size(), 1u) << "cut at " << cut;
        EXPECT_EQ(percentOf(front.back()), 60) << "cut at " << cut;
        for (const auto& v : front)
            EXPECT_NE(percentOf(v), 50) << "cut at " << cut;
    }
    // A list cut off by the start of the next one gives way to it.
    const QString cutByNext = whole.first(whole.size() / 2) + progressList("70");
    const auto lists = parseAll(cutByNext);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(percentOf(lists[0]), 70);
    EXPECT_TRUE(parseAll(u"{ a = b; c = ").empty());
    EXPECT_TRUE(parseAll(u"\"a\" = \"b\"; \"c").empty());
}

TEST(ParseChunks, GarbageYieldsNothing) {
    const QString texts[] = {
        "",
        "   \n\t",
        "hello world",
        "<<<<>>>>",
        "</plist></dict>",
        "<plist",
        "<?xml version=\"1.0\"?>",
        QString(QChar(0)) + "\x01\x7f",
        QString(QChar(0xd800)) + "{" + QChar(0xdfff),
        "/* never closed",
        "<!-- never closed <plist><true/></plist>",
        "\"never closed = 1;",
        "<plist><dict><key>a</key><string>b</string></dict>", // no end tag
        "<plist/>",
    };
    for (const QString& text : texts)
        EXPECT_TRUE(parseAll(text).empty()) << text.toStdString();
}

TEST(ParseLimits, NestingBeyondTheLimitYieldsNothing) {
    const int limit = plist::kMaxDepth;
    EXPECT_EQ(parseAll(xmlList(nested(limit, "<array>", "</array>", ""))).size(), 1u);
    EXPECT_TRUE(parseAll(xmlList(nested(limit + 1, "<array>", "</array>", ""))).empty());
    EXPECT_EQ(parseAll(nested(limit, "(", ")", "")).size(), 1u);
    EXPECT_TRUE(parseAll(nested(limit + 1, "(", ")", "")).empty());
    // A strings file counts as the outermost dictionary.
    EXPECT_EQ(parseAll("a = " + nested(limit - 1, "{b=", ";}", "c") + ";").size(), 1u);
    EXPECT_TRUE(parseAll("a = " + nested(limit, "{b=", ";}", "c") + ";").empty());
    // Far deeper input costs neither the stack nor the lists that follow it.
    const int deep = 200'000;
    const auto lists = parseAll(xmlList(nested(deep, "<dict><key>k</key>", "</dict>", "<true/>")) +
                                nested(deep, "(", ")", "") + progressList("80"));
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(percentOf(lists[0]), 80);
}

TEST(ParseLimits, RepetitiveInputIsReadInOnePass) {
    // Each of these once took time quadratic in its length; the suite's time-out catches a relapse.
    const int n = 200'000;
    EXPECT_EQ(parseAll(QString("{a=<00>;}").repeated(n)).size(), std::size_t{n});
    EXPECT_EQ(parseAll(QString("<plist><true/></plist>/*").repeated(n)).size(), std::size_t{n});
    QString attributes = "<plist";
    for (int i = 0; i < n; ++i)
        attributes += QString(" a%1=''").arg(i);
    EXPECT_TRUE(parseAll(attributes + "><true/></plist>").empty());
}

TEST(ParseLimits, TextBeyondTheSizeLimitYieldsNothing) {
    const QString one = progressList("90");
    QString stream;
    while (stream.size() + one.size() <= plist::kMaxTextLength)
        stream += one;
    const auto count = static_cast<std::size_t>(stream.size() / one.size());
    EXPECT_EQ(parseAll(stream).size(), count);
    stream += QString(plist::kMaxTextLength - stream.size(), u' ');
    EXPECT_EQ(parseAll(stream).size(), count);
    stream += u' ';
    EXPECT_TRUE(parseAll(stream).empty());
    // One huge string value inside the limit is read whole.
    const QString big(plist::kMaxTextLength - 100, u'x');
    const auto lists = parseAll(QString("<plist><string>" + big + "</string></plist>"));
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].text().size(), big.size());
}

} // namespace
