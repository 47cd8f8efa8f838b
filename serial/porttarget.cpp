#include "porttarget.h"

#include "portmap.h"

#include <QFileInfo>
#ifdef Q_OS_WIN
#include <QSettings>
#endif

namespace {

#ifdef Q_OS_WIN
// The system lists the serial ports it has now, device name to COMn.
bool WindowsPortPresent(const QString &name) {
    const QSettings ports(QStringLiteral("HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM"),
                          QSettings::NativeFormat);
    for (const QString &key : ports.allKeys()) {
        if (ports.value(key).toString().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
#endif

} // namespace

PortTarget PortTargetOf(int portNumber, const SettingsPlace &place) {
    PortTarget target;
#ifdef Q_OS_WIN
    target.device = PortDevice(portNumber, place);
    target.present = WindowsPortPresent(target.device);
#else
    target.link = PortLink(portNumber, place);
    const QFileInfo link(target.link);
    // One step along the link, not to its end: the by-id name is the one a person knows.
    target.device = target.link.isEmpty() ? PortDevice(portNumber, place)
                    : link.isSymLink()    ? link.symLinkTarget()
                                          : target.link;
    target.present = QFileInfo::exists(target.device);
#endif
    return target;
}

QString PortToolTip(int portNumber, const SettingsPlace &place, bool echoing) {
    const PortTarget target = PortTargetOf(portNumber, place);
    const QString text = QStringLiteral("COM%1 → %2\n%3")
                             .arg(portNumber)
                             .arg(target.device, target.present ? QStringLiteral("设备当前存在")
                                                                : QStringLiteral("设备当前不存在"));
    return echoing ? text + QStringLiteral("\n适配器回显发送数据，已自动忽略") : text;
}
