#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>
#include <optional>
#include <vector>

class QByteArray;

namespace update {

// The namespace of the appcast elements and attributes; matched by URI, whatever prefix a feed uses.
inline constexpr char16_t kAppcastNamespace[] = u"http://www.andymatuschak.org/xml-namespaces/sparkle";

// Deepest element nesting a feed may have; the release elements sit at depth 4.
inline constexpr int kMaxFeedDepth = 32;

// True for an absolute http or https address with a host: the only links the client follows or opens.
bool isWebLink(const QUrl& url);

// One release of the feed. Links are already checked: each is a web link or empty.
struct AppcastItem {
    QString title;
    QString version;            // the machine version, compared with the application's version
    QString shortVersionString; // the version shown to users; may be empty
    QString minimumSystemVersion;
    QUrl downloadPage; // the item's link, else its enclosure's address
    QUrl releaseNotesLink;

    // The version to show: the short version string when the feed gives one.
    QString displayVersion() const { return shortVersionString.isEmpty() ? version : shortVersionString; }
};

// An RSS 2.0 feed of releases. Reading is strict about structure and refuses document type
// declarations (and so every entity but the predefined ones); unknown elements are skipped.
class Appcast {
public:
    // Reads a feed. Relative links are resolved against base. On failure gives nothing and, when error
    // is given, a one-line reason.
    static std::optional<Appcast> parse(const QByteArray& xml, const QUrl& base, QString* error = nullptr);

    const std::vector<AppcastItem>& items() const { return m_items; }

    // The item with the highest version among those that have one and whose minimum system version
    // systemVersion meets; an empty systemVersion sets no constraint.
    std::optional<AppcastItem> newestItem(QStringView systemVersion = {}) const;

private:
    std::vector<AppcastItem> m_items;
};

} // namespace update
