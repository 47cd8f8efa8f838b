// "趋势图…": opens the one trend window, beside the main window where the screen has room.
// Closing it hides it; it goes on collecting, so opening it again shows what came since.

#include "app/frmMain.h"
#include "trendwindow.h"

#include <QScreen>

#include <algorithm>

void frmMain::mnuTrend_Click() {
    auto *trend = findChild<TrendWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!trend) {
        trend = new TrendWindow(this);
        connect(this, &frmMain::ReadingDecoded, trend,
                [trend](const QByteArray &, const QByteArray &, const QString &shown) {
                    trend->AddReading(shown);
                });
        connect(this, &frmMain::WriteConfirmed, trend, &TrendWindow::AddMarker);
        connect(trend, &TrendWindow::Message, this,
                [this](const QString &text) { MsgBox(text, MsgIcon::Warning); });
        const QRect frame = frameGeometry();
        QRect place(frame.topRight() + QPoint(1, 0), trend->size());
        if (const QScreen *s = screen()) {
            const QRect room = s->availableGeometry();
            if (place.right() > room.right())
                place.moveRight(room.right());
            place.moveTop(std::clamp(place.top(), room.top(),
                                     std::max(room.top(), room.bottom() - place.height())));
        }
        trend->move(place.topLeft());
    }
    trend->show();
    trend->raise();
    trend->activateWindow();
}
