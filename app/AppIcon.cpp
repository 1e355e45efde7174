#include "app/AppIcon.h"

#include <QDirIterator>

namespace app {

QIcon applicationIcon() {
    QIcon icon;
    // One PNG per size under :/icons/<n>x<n>/; the build decides which sizes there are.
    QDirIterator it(QStringLiteral(":/icons"), {QStringLiteral("*.png")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        icon.addFile(it.next());
    return icon;
}

} // namespace app
