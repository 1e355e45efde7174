// Reading feeds without the network: structure, namespaces, links and the choice of release.
#include "update/Appcast.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {

using update::Appcast;

const QUrl kBase(QStringLiteral("http://example.test/updates"));

QByteArray feedOf(const QString& items) {
    return QStringLiteral("<rss version=\"2.0\" xmlns:sparkle=\"%1\"><channel>%2</channel></rss>")
        .arg(QString::fromUtf16(update::kAppcastNamespace), items)
        .toUtf8();
}

TEST(Appcast, ReadsElementAndAttributeFormsAndKeepsOnlyWebLinks) {
    const auto feed = Appcast::parse(feedOf(R"(
        <item><title>One</title><sparkle:version>110</sparkle:version>
          <sparkle:shortVersionString>1.1</sparkle:shortVersionString>
          <sparkle:releaseNotesLink>notes.html</sparkle:releaseNotesLink>
          <sparkle:minimumSystemVersion>10.8</sparkle:minimumSystemVersion>
          <link>javascript:alert(1)</link><enclosure url="/dl/1.1.zip"/></item>
        <item><enclosure url="file:///etc/passwd" sparkle:version="100" sparkle:shortVersionString="1.0"/>
          <link>https://example.test/one</link></item>
        <item><link>ftp://example.test/x</link><enclosure url="http:no-host"/></item>)"),
                                     kBase);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->items().size(), 3u);
    const auto& first = feed->items()[0];
    EXPECT_EQ(first.title, u"One");
    EXPECT_EQ(first.version, u"110");
    EXPECT_EQ(first.displayVersion(), u"1.1");
    EXPECT_EQ(first.minimumSystemVersion, u"10.8");
    EXPECT_EQ(first.releaseNotesLink, QUrl("http://example.test/notes.html"));
    EXPECT_EQ(first.downloadPage, QUrl("http://example.test/dl/1.1.zip")); // the unsafe link gives way
    const auto& second = feed->items()[1];
    EXPECT_EQ(second.version, u"100");
    EXPECT_EQ(second.shortVersionString, u"1.0");
    EXPECT_EQ(second.downloadPage, QUrl("https://example.test/one"));
    EXPECT_TRUE(feed->items()[2].downloadPage.isEmpty());
}

TEST(Appcast, MatchesTheNamespaceNotThePrefix) {
    const QString ns = QString::fromUtf16(update::kAppcastNamespace);
    const auto feed = Appcast::parse(QStringLiteral(R"(<rss xmlns:up="%1" xmlns:sparkle="urn:other"><channel>
        <item><up:version>2.0</up:version><sparkle:shortVersionString>fake</sparkle:shortVersionString></item>
        <item><sparkle:version>9.0</sparkle:version><enclosure sparkle:version="8.0"/></item>
        </channel></rss>)")
                                         .arg(ns)
                                         .toUtf8(),
                                     kBase);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->items().size(), 2u);
    EXPECT_EQ(feed->items()[0].version, u"2.0");
    EXPECT_TRUE(feed->items()[0].shortVersionString.isEmpty());
    EXPECT_TRUE(feed->items()[1].version.isEmpty());
    EXPECT_EQ(feed->newestItem()->version, u"2.0");
}

TEST(Appcast, NewestItemSkipsReleasesTheSystemCannotRun) {
    const auto feed = Appcast::parse(feedOf(R"(
        <item><sparkle:version>1.5</sparkle:version></item>
        <item><sparkle:version>3.0</sparkle:version><sparkle:minimumSystemVersion>13.0</sparkle:minimumSystemVersion></item>
        <item><title>no version</title></item>
        <item><enclosure sparkle:version="2.0"/><sparkle:minimumSystemVersion>10.8</sparkle:minimumSystemVersion></item>)"),
                                     kBase);
    ASSERT_TRUE(feed);
    EXPECT_EQ(feed->newestItem()->version, u"3.0");
    EXPECT_EQ(feed->newestItem(u"12.6")->version, u"2.0");
    EXPECT_EQ(feed->newestItem(u"10.7")->version, u"1.5");
    EXPECT_FALSE(Appcast::parse(feedOf(""), kBase)->newestItem());
}

TEST(Appcast, RefusesDocumentTypesGarbageAndDeepNesting) {
    const QByteArray laughs = R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY a "aaaaaaaaaa">
        <!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;">]>
        <rss><channel><item><title>&c;</title></item></channel></rss>)";
    // Well formed, only too deep.
    const QByteArray deep = "<rss><channel><item>" + QByteArray("<x>").repeated(update::kMaxFeedDepth) +
                            QByteArray("</x>").repeated(update::kMaxFeedDepth) + "</item></channel></rss>";
    const QByteArray refused[] = {
        laughs,
        "<rss><channel><item><title>&undeclared;</title></item></channel></rss>",
        "not xml at all",
        "",
        R"(<feed xmlns="http://www.w3.org/2005/Atom"/>)",
        "<rss><channel><item><title>cut off",
        feedOf("<item><sparkle:version>1<b>2</b></sparkle:version></item>"),
        deep,
    };
    for (const QByteArray& xml : refused) {
        QString error;
        EXPECT_FALSE(Appcast::parse(xml, kBase, &error)) << xml.left(60).constData();
        EXPECT_FALSE(error.isEmpty());
    }
}

} // namespace
