// Finding and reading property lists in chunks of text, including hostile ones.
#include "plist/PropertyList.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <utility>

using plist::parseAll;
using plist::Value;

namespace {

const QString kHeader = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                       "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n");

QString xmlList(const QString& body) {
    return kHeader + "<plist version=\"1.0\">\n" + body + "\n</plist>\n";
}

Value dict(std::vector<plist::DictionaryEntry> entries) {
    return Value::fromDictionary(std::move(entries));
}
Value str(const char* s) {
    return Value::fromString(QString::fromUtf8(s));
}

// One progress report as the repair tool prints it, and the value read from it.
QString progressList(double percent, bool end = false) {
    return xmlList("<dict>\n\t<key>End</key>\n\t<" + QString(end ? "true" : "false") +
                   "/>\n\t<key>PercentComplete</key>\n\t<real>" + QString::number(percent) +
                   "</real>\n\t<key>Message</key>\n\t<string>Repairing &amp; checking “/”</string>\n</dict>");
}
Value progress(double percent, bool end = false) {
    return dict({{"End", Value::fromBoolean(end)},
                 {"PercentComplete", Value::fromReal(percent)},
                 {"Message", str("Repairing & checking “/”")}});
}

QString nested(int depth, const QString& open, const QString& close, const QString& inner) {
    return open.repeated(depth) + inner + close.repeated(depth);
}

TEST(Parse, EachFormReadsEveryValueType) {
    const Value textForms =
        dict({{"End", str("YES")},
              {"List", Value::fromArray({str("a b"), str("c"), Value::fromData("\x0f\xab")})},
              {"Inner", dict({{"k", str("v")}})}});
    const std::pair<QString, Value> cases[] = {
        {xmlList("<string>a<![CDATA[<b>]]>&#x41;&amp; “/”</string>"), str("a<b>A& “/”")},
        {xmlList("<real> -1.5e3 </real>"), Value::fromReal(-1500)},
        {xmlList("<real>-infinity</real>"), Value::fromReal(-INFINITY)},
        {xmlList("<integer>-9223372036854775808</integer>"), Value::fromInteger(INT64_MIN)},
        {xmlList("<date>2024-02-29T23:59:59Z</date>"), Value::fromDate(1709251199)},
        {xmlList("<date>2000-02-29T00:00:00Z</date>"), Value::fromDate(951782400)}, // every 400th year leaps
        {xmlList("<data>AAEC\n  /w==</data>"), Value::fromData(QByteArray("\x00\x01\x02\xff", 4))},
        {xmlList("<dict><key>a</key><array><integer>1</integer><array/><dict/><true/><false></false><string/>"
                 "</array><!-- c --><?pi x?></dict>"),
         dict({{"a", Value::fromArray({Value::fromInteger(1), Value::fromArray({}), dict({}),
                                       Value::fromBoolean(true), Value::fromBoolean(false), str("")})}})},
        // The old-style form with comments and a trailing comma, and the strings-file form.
        {"// progress\n{ End = YES; /* more */\n  List = (\"a b\", c, <0f ab>,); Inner = { k = v; }; }",
         textForms},
        {"\"End\" = \"YES\";\n'List' = (\"a b\", c, <0fab>);\nInner = { k = v; };\n", textForms},
        // Quoted strings unescape; of repeated keys the last one wins.
        {R"({ s = "tab\tnl\n\"q\" \\ \101\U00e9\z"; k = 1; k = 2; })",
         dict({{"s", str("tab\tnl\n\"q\" \\ Aéz")}, {"k", str("2")}})},
        // The text is already decoded: the encoding a declaration names must not be applied again.
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>é “/”</string></plist>",
         str("é “/”")},
        {"<?xml version=\"1.0\" encoding=\"UTF-16\"?><plist><string>é “/”</string></plist>", str("é “/”")},
        // A document type that only names its DTD reads; the DTD is never fetched.
        {"<!DOCTYPE plist SYSTEM \"file:///etc/passwd\"><plist><true/></plist>", Value::fromBoolean(true)},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(parseAll(text), std::vector{expected}) << text.toStdString();
}

TEST(Parse, MalformedHostileOrCutOffInputYieldsNothing) {
    // Each breaks one rule of the XML form.
    const char* xmlBodies[] = {
        "<dict><key>a</key></dict>", "<dict><string>a</string></dict>",
        "<dict>text<key>a</key><true/></dict>", "<dict><key>a</key><color/></dict>", "<string>a<b/></string>",
        "<real>37,9</real>", "<real></real>", "<integer>9223372036854775808</integer>",
        "<integer>1.5</integer>", "<true>yes</true>", "<date>2023-02-29T00:00:00Z</date>",
        "<date>1900-02-29T00:00:00Z</date>", // other century years do not
        "<date>2024-01-00T00:00:00Z</date>", "<date>2024-01-01T24:00:00Z</date>",
        "<date>2024-01-01T23:59:60Z</date>", "<date>2023-01-01 00:00:00</date>", "<data>AB$=</data>",
        "<string>a</string><string>b</string>", "", "<dict><key>a</key><true/>",
        // An entity the external DTD might declare is never taken as resolved.
        "<string>&unknown;</string>"};
    for (const char* body : xmlBodies)
        EXPECT_TRUE(parseAll(xmlList(body)).empty()) << body;

    const QString texts[] = {
        "{ a = b }", "{ a b; }", "{ = b; }", "( a b )", "{ a = <0f0>; }", "{ a = <zz>; }", "\"a\" = ;",
        "Finished repair", "a = b", "\"a\" = \"b\"; \"c", "", "   \n\t", "<<>> </plist></dict>",
        QString(QChar(0)) + "\x01\x7f", QString(QChar(0xd800)) + "{" + QChar(0xdfff), "/* never closed",
        "<!-- never closed <plist><true/></plist>", "<plist/>",
        // Internal subsets are refused whole: entities are never expanded, however harmless they look.
        "<?xml version=\"1.0\"?><!DOCTYPE plist [<!ENTITY a \"lol\">"
        "<!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\"><!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;\">]>"
        "<plist><dict><key>PercentComplete</key><string>&c;</string></dict></plist>",
        "<!DOCTYPE plist [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><plist><string>&x;</string></plist>"};
    for (const QString& text : texts)
        EXPECT_TRUE(parseAll(text).empty()) << text.toStdString();
}

TEST(ParseChunks, YieldsEveryCompleteListInOrder) {
    // Stray text, a refused list and a stray brace cost the lists around them nothing.
    const auto lists =
        parseAll(progressList(10) + "\n" + progressList(20) + "stray text }{ \n" +
                 "<!DOCTYPE plist [<!ENTITY e \"x\">]><plist><string>&e;</string></plist>" +
                 progressList(30.5) + "\"Status\" = \"5\";\n" + progressList(40, true) + "(7) }");
    ASSERT_EQ(lists, (std::vector{progress(10), progress(20), progress(30.5), dict({{"Status", str("5")}}),
                                  progress(40, true), Value::fromArray({str("7")})}));
    // The look-ups the repair module makes: a key that sorts before the only one there, and in an array.
    EXPECT_EQ(lists[3].find(u"PercentComplete"), nullptr);
    EXPECT_EQ(lists[5].find(u"End"), nullptr);
}

TEST(ParseChunks, ListsCutOffAtEitherEndYieldNothing) {
    const QString whole = progressList(50);
    // Every cut of a list yields nothing of it, the whole neighbour always survives, and a list cut off by
    // the start of the next one gives way to it. (A list cut in its prolog, before <plist>, may still be
    // whole: the declaration and document type are optional.)
    for (qsizetype cut = 1; cut < whole.size() - 1; ++cut) {
        SCOPED_TRACE(cut);
        EXPECT_EQ(parseAll(QString(progressList(10) + whole.first(cut))), std::vector{progress(10)});
        if (cut <= whole.indexOf("<plist"))
            continue;
        EXPECT_EQ(parseAll(QString(whole.first(cut) + progressList(70))), std::vector{progress(70)});
        const auto front = parseAll(QString(whole.sliced(cut) + progressList(60)));
        ASSERT_FALSE(front.empty());
        EXPECT_EQ(front.back(), progress(60));
        for (const auto& v : front)
            EXPECT_NE(plist::doubleValue(v.find(u"PercentComplete")), 50);
    }
    // Likewise every cut of an old-style list.
    const QString text = "{ a = (b, \"c d\", <0f>); e = { f = g; }; }";
    for (qsizetype cut = 1; cut < text.size(); ++cut)
        EXPECT_TRUE(parseAll(text.first(cut)).empty()) << "cut at " << cut;
}

TEST(ParseLimits, NestingBeyondTheLimitYieldsNothing) {
    // A strings file counts as the outermost dictionary.
    EXPECT_EQ(parseAll("a = " + nested(plist::kMaxDepth - 1, "{b=", ";}", "c") + ";").size(), 1u);
    EXPECT_TRUE(parseAll("a = " + nested(plist::kMaxDepth, "{b=", ";}", "c") + ";").empty());
    for (const auto& [open, close] :
         {std::pair("<dict><key>k</key>", "</dict>"), std::pair("<array>", "</array>")}) {
        EXPECT_EQ(parseAll(xmlList(nested(plist::kMaxDepth, open, close, "<true/>"))).size(), 1u) << open;
        EXPECT_TRUE(parseAll(xmlList(nested(plist::kMaxDepth + 1, open, close, "<true/>"))).empty()) << open;
    }
    // Far deeper input costs neither the stack nor the lists that follow it.
    const int deep = 200'000;
    EXPECT_EQ(parseAll(xmlList(nested(deep, "<dict><key>k</key>", "</dict>", "<true/>")) +
                       nested(deep, "(", ")", "") + progressList(80)),
              std::vector{progress(80)});
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
    const QString one = progressList(90);
    const qsizetype count = plist::kMaxTextLength / one.size();
    const QString stream = one.repeated(count).leftJustified(plist::kMaxTextLength);
    EXPECT_EQ(parseAll(stream).size(), static_cast<std::size_t>(count));
    EXPECT_TRUE(parseAll(QString(stream + u' ')).empty());
    // One huge string value inside the limit is read whole.
    const QString big(plist::kMaxTextLength - 100, u'x');
    EXPECT_EQ(parseAll(QString("<plist><string>" + big + "</string></plist>")),
              std::vector{Value::fromString(big)});
}

} // namespace
