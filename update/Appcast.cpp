#include "update/Appcast.h"

#include "update/VersionComparator.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QXmlStreamReader>

namespace update {
namespace {

const QString& appcastNamespace() {
    static const QString ns = QString::fromUtf16(kAppcastNamespace);
    return ns;
}

QUrl webLinkOrEmpty(const QString& text, const QUrl& base) {
    const QUrl url(text.trimmed(), QUrl::StrictMode);
    if (!url.isValid())
        return {};
    const QUrl resolved = url.isRelative() ? base.resolved(url) : url;
    return isWebLink(resolved) ? resolved : QUrl();
}

class FeedReader {
public:
    FeedReader(const QByteArray& xml, const QUrl& base)
        : m_xml(xml)
        , m_base(base) {}

    std::optional<Appcast> read(std::vector<AppcastItem>& items, QString* error);

private:
    void readItemChild(AppcastItem& item);
    QString text() { return m_xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement).trimmed(); }

    QXmlStreamReader m_xml;
    QUrl m_base;
};

std::optional<Appcast> FeedReader::read(std::vector<AppcastItem>& items, QString* error) {
    int depth = 0;
    bool inChannel = false;
    std::optional<AppcastItem> item;
    QString problem;
    while (problem.isEmpty() && !m_xml.atEnd()) {
        switch (m_xml.readNext()) {
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            problem = QCoreApplication::translate("update::Appcast",
                                                  "the feed declares a document type, which is not accepted");
            break;
        case QXmlStreamReader::StartElement: {
            if (++depth > kMaxFeedDepth) {
                problem = QCoreApplication::translate("update::Appcast", "the feed is nested too deeply");
                break;
            }
            const bool plain = m_xml.namespaceUri().isEmpty();
            const auto name = m_xml.name();
            if (depth == 1 && !(plain && name == u"rss"))
                problem = QCoreApplication::translate("update::Appcast", "the document is not an RSS feed");
            else if (depth == 2)
                inChannel = plain && name == u"channel";
            else if (depth == 3 && inChannel && plain && name == u"item")
                item.emplace();
            else if (depth == 4 && item) {
                readItemChild(*item);
                // readItemChild may have consumed the element's end tag.
                if (m_xml.tokenType() == QXmlStreamReader::EndElement)
                    --depth;
            }
            break;
        }
        case QXmlStreamReader::EndElement:
            if (depth == 3 && item) {
                items.push_back(std::move(*item));
                item.reset();
            }
            --depth;
            break;
        default:
            break;
        }
    }
    if (problem.isEmpty() && m_xml.hasError())
        problem = QStringLiteral("line %1: %2").arg(m_xml.lineNumber()).arg(m_xml.errorString());
    if (!problem.isEmpty()) {
        if (error)
            *error = problem;
        return std::nullopt;
    }
    return Appcast();
}

void FeedReader::readItemChild(AppcastItem& item) {
    const auto name = m_xml.name();
    if (m_xml.namespaceUri() == appcastNamespace()) {
        if (name == u"version")
            item.version = text();
        else if (name == u"shortVersionString")
            item.shortVersionString = text();
        else if (name == u"minimumSystemVersion")
            item.minimumSystemVersion = text();
        else if (name == u"releaseNotesLink")
            item.releaseNotesLink = webLinkOrEmpty(text(), m_base);
        return;
    }
    if (!m_xml.namespaceUri().isEmpty())
        return;
    if (name == u"title") {
        item.title = text();
    } else if (name == u"link") {
        // The item's own link wins over the enclosure, whichever comes first.
        if (const QUrl link = webLinkOrEmpty(text(), m_base); !link.isEmpty())
            item.downloadPage = link;
    } else if (name == u"enclosure") {
        const auto attributes = m_xml.attributes();
        if (item.version.isEmpty())
            item.version =
                attributes.value(appcastNamespace(), QLatin1String("version")).trimmed().toString();
        if (item.shortVersionString.isEmpty())
            item.shortVersionString =
                attributes.value(appcastNamespace(), QLatin1String("shortVersionString"))
                    .trimmed()
                    .toString();
        if (item.downloadPage.isEmpty())
            item.downloadPage = webLinkOrEmpty(attributes.value(QLatin1String("url")).toString(), m_base);
    }
}

} // namespace

bool isWebLink(const QUrl& url) {
    const QString scheme = url.scheme();
    return url.isValid() && (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

std::optional<Appcast> Appcast::parse(const QByteArray& xml, const QUrl& base, QString* error) {
    std::vector<AppcastItem> items;
    auto feed = FeedReader(xml, base).read(items, error);
    if (feed)
        feed->m_items = std::move(items);
    return feed;
}

std::optional<AppcastItem> Appcast::newestItem(QStringView systemVersion) const {
    const AppcastItem* best = nullptr;
    for (const AppcastItem& item : m_items) {
        if (item.version.isEmpty())
            continue;
        if (!systemVersion.isEmpty() && !item.minimumSystemVersion.isEmpty() &&
            VersionComparator::compare(systemVersion, item.minimumSystemVersion) < 0)
            continue;
        if (!best || VersionComparator::compare(item.version, best->version) > 0)
            best = &item;
    }
    return best ? std::optional(*best) : std::nullopt;
}

} // namespace update
