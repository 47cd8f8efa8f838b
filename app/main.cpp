#include "fonts.h"
#include "frmMain.h"
#include "serial/settingsdir.h"
#include "windowstyle.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sensor-companion"));
    QApplication::setStyle(new WindowStyle); // the same look on every platform
    QApplication::setFont(fonts::Standard());

    frmMain window(SettingsPlaceOf(QCoreApplication::applicationDirPath()));
    window.Form_Load(); // before the window is first shown
    window.show();
    return QApplication::exec();
}
