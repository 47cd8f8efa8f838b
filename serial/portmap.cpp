#include "portmap.h"

#include <QDir>
#include <QFileInfo>

QString PortDevice(int portNumber, const QString &programDir) {
    const QString name = QStringLiteral("COM%1").arg(portNumber);
#ifdef Q_OS_WIN
    Q_UNUSED(programDir);
    return name;
#else
    const QFileInfo link(QDir(programDir).filePath(name));
    if (link.exists() || link.isSymLink()) {
        // Open the device itself, so that the lock on it is shared with every other
        // program that opens the same device by its own name. A dangling link stays as it
        // is and fails to open.
        const QString target = link.canonicalFilePath();
        return target.isEmpty() ? link.absoluteFilePath() : target;
    }
    return QStringLiteral("/dev/ttyS%1").arg(portNumber - 1);
#endif
}
