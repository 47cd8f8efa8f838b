#include "windowharness.h"

#include <QFile>
#include <QLineEdit>

QByteArray Hex(const QString &text) {
    return QByteArray::fromHex(text.toLatin1().replace(' ', ""));
}

QString Shown(const QString &frame) {
    return frame + QLatin1Char(' ');
}

frmMain &WindowHarness::start(bool plugged) {
    dir = std::make_unique<QTemporaryDir>();
    module = std::make_unique<Pty>();
    if (plugged) {
        module->linkAs(dir->path(), 4);
        QFile file(dir->filePath(QStringLiteral("comm.set")));
        if (file.open(QIODevice::WriteOnly))
            file.write("4,19200\r\n");
    }
    w = std::make_unique<frmMain>(dir->path());
    tools = new ExtraTools(*w);
    w->messages().setPresenter([this](const Message &m) { shown.push_back(m); });
    w->Form_Load();
    return *w;
}

void WindowHarness::reset() {
    w.reset();
    module.reset();
    dir.reset();
    shown.clear();
}

QLineEdit *WindowHarness::field(const QString &objectName) const {
    auto *box = w->findChild<QLineEdit *>(objectName);
    if (!box)
        qFatal("no field %s", qPrintable(objectName));
    return box;
}

void WindowHarness::fill(const QStringList &fields) const {
    for (const QString &f : fields) {
        const auto parts = f.split(QLatin1Char('='));
        field(parts[0])->setText(parts.value(1));
    }
}

void WindowHarness::reply(const char *hex) const {
    module->send(Hex(QString::fromLatin1(hex)));
}

bool WindowHarness::lineQuiet() const {
    return module->receive(1, 60).isEmpty();
}
