#include "extras/extratools.h"
#include "fonts.h"
#include "frmMain.h"
#include "serial/mscomm.h"
#include "serial/settingsplace.h"
#include "sessionend.h"
#include "windowstyle.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("sensor-companion"));
    QApplication::setStyle(new WindowStyle); // the same look on every platform
    QApplication::setFont(fonts::Standard());
    EndLikeAClosedWindow();

    frmMain window(SettingsPlaceOf(QCoreApplication::applicationDirPath()));
    new ExtraTools(window); // the tools beyond the window, attached from outside it
    window.Form_Load();     // before the window is first shown
    if (EndWasAsked())
        return 0;
    window.show();
    // Where the end of a session kills the program right after aboutToQuit (Windows), the
    // port is closed here, as closing the window closes it.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, window.MSComm1,
                     [&window] { window.MSComm1->setPortOpen(false); });
    return QApplication::exec();
}
