// The window recording while it polls the simulator every 50 ms, in a process of its own
// for the test that kills it. Prints "recording" once the file is open; messages go to
// stderr.
//   record-child PROGRAM_DIR FILE

#include "app/frmMain.h"
#include "extras/extratools.h"
#include "extras/record/recordtool.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    if (argc != 3)
        return 2;
    frmMain w(QString::fromLocal8Bit(argv[1]));
    w.messages().setPresenter(
        [](const Message &m) { std::fprintf(stderr, "%s\n", qPrintable(m.text)); });
    const ExtraTools *tools = new ExtraTools(w);
    w.Form_Load();
    if (!tools->Recording().Start(QString::fromLocal8Bit(argv[2])))
        return 1;
    w.txtTimerSet->setText(QStringLiteral("50"));
    w.cmdOneM->click();
    std::printf("recording\n");
    std::fflush(stdout);
    return app.exec();
}
