#pragma once

#include "update/Appcast.h"

#include <QMetaType>
#include <QString>
#include <optional>

namespace update {

// What one feed check found.
struct CheckResult {
    enum class Outcome { UpToDate, UpdateAvailable, Failed };
    enum class Failure { None, NoFeed, Network, Timeout, Redirect, HttpStatus, TooLarge, UnreadableFeed };

    Outcome outcome = Outcome::Failed;
    Failure failure = Failure::None;
    QString reason;                  // why it failed, as plain text for the user
    QString currentVersion;          // the application's version at the time of the check
    std::optional<AppcastItem> item; // the newest applicable release, when the feed had one
    bool userInitiated = false;      // whether the user asked for this check (or joined it)
};

} // namespace update

Q_DECLARE_METATYPE(update::CheckResult)
