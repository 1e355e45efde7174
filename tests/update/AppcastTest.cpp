// Reading feeds without the network: links, the choice of release and what is refused.
#include "update/Appcast.h"

#include "FeedServer.h"

#include <QByteArray>
#include <gtest/gtest.h>

namespace {

using update::Appcast;

const QUrl kBase(QStringLiteral("http://example.test/updates"));

TEST(Appcast, KeepsOnlyWebLinksAndPicksTheNewestReleaseTheSystemRuns) {
    const auto feed = Appcast::parse(feedOf(R"(
        <item><sparkle:version>1.5</sparkle:version><link>javascript:alert(1)</link><enclosure url="/d/1.5.zip"/>
          <sparkle:releaseNotesLink>notes.html</sparkle:releaseNotesLink></item>
        <item><sparkle:version>3.0</sparkle:version><sparkle:minimumSystemVersion>13.0</sparkle:minimumSystemVersion>
          <enclosure url="file:///etc/passwd"/><link>https://example.test/3</link></item>
        <item><title>no version</title></item>
        <item><enclosure sparkle:version="2.0" url="http:no-host"/><link>ftp://example.test/</link>
          <sparkle:minimumSystemVersion>10.8</sparkle:minimumSystemVersion></item>)"),
                                     kBase);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->items().size(), 4u);
    EXPECT_EQ(feed->items()[0].downloadPage, QUrl("http://example.test/d/1.5.zip"));
    EXPECT_EQ(feed->items()[0].releaseNotesLink, QUrl("http://example.test/notes.html"));
    EXPECT_EQ(feed->items()[1].downloadPage, QUrl("https://example.test/3"));
    EXPECT_TRUE(feed->items()[3].downloadPage.isEmpty());
    EXPECT_EQ(feed->newestItem()->version, u"3.0");
    EXPECT_EQ(feed->newestItem(u"12.6")->version, u"2.0");
    EXPECT_EQ(feed->newestItem(u"10.7")->version, u"1.5");
}

TEST(Appcast, RefusesEntitiesStrayMarkupAndDeepNesting) {
    const QByteArray deep = "<rss><channel><item>" + QByteArray("<x>").repeated(update::kMaxFeedDepth) +
                            QByteArray("</x>").repeated(update::kMaxFeedDepth) + "</item></channel></rss>";
    const QByteArray refused[] = {
        "<rss><channel><item><title>&undeclared;</title></item></channel></rss>",
        R"(<feed xmlns="http://www.w3.org/2005/Atom"/>)",
        feedOf("<item><sparkle:version>1<b>2</b></sparkle:version></item>"),
        deep, // well formed, only too deep
        R"(<!DOCTYPE rss [<!ENTITY a "aaaa">]><rss><channel>&a;</channel></rss>)",
    };
    for (const QByteArray& xml : refused) {
        QString error;
        EXPECT_FALSE(Appcast::parse(xml, kBase, &error)) << xml.left(60).constData();
        EXPECT_FALSE(error.isEmpty());
    }
}

} // namespace
