#pragma once

#include <QCoreApplication>
#include <QPointer>
#include <QString>

class QLabel;
class QWidget;

namespace app {

// What sets a check without repairing apart from a repair: the tool's verb, the window's words while it
// runs, the count of files a repair would change, and its end, which shows what it found and offers the
// repair instead of storing a time or asking for attention. The controller runs a check as it runs a
// repair and asks this class where the two differ.
class CheckRun {
    Q_DECLARE_TR_FUNCTIONS(app::CheckRun)

public:
    static constexpr char kVerb[] = "verifyPermissions";

    // Whether the run under way is a check.
    bool active() const { return m_active; }
    // A check starts: the caption under the bar says so until it ends.
    void begin(QLabel* caption);
    // The check ends, however it ends; the caption is the repair's again.
    void end();
    // Reads one of the tool's messages; "Would repair “path”." names a file a repair would change.
    void read(const QString& message);
    int wouldRepair() const { return m_wouldRepair; }

    // The last line of the details of a check that ran to its end.
    QString summary() const;
    // Shows what a check that ran to its end found; true when the user asked for the repair now.
    bool offerRepair(QWidget* window) const;

    static QString title(int percent);
    static QString startedLine();
    static QString notStarted(const QString& reason);
    static QString notStartedAlert(const QString& reason);
    static QString stopQuestion();

private:
    bool m_active = false;
    int m_wouldRepair = 0;
    QPointer<QLabel> m_caption;
    QString m_repairCaption; // the caption's text before the check
};

} // namespace app
