// The cyclic query: Timer2 runs the one-shot query at the user's interval while a port is
// ready, and lblCounter counts the ticks that send.

#include "app/frmMain.h"
#include "app/runtime.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <cmath>

namespace {

// The poll counter counts 0 to 65535 and starts over: a caption above it is shown as 0.
constexpr double kCounterLimit = 65535;

double CaptionValue(const QLabel *label) {
    return rt::ToNumber(label->text()).value_or(0);
}

// Why an interval's text is refused, in the order the user is told.
std::optional<QString> IntervalError(const QString &interval) {
    if (!rt::IsNumeric(interval))
        return QStringLiteral("你输入的定时时长格式有误，应该为数字，值范围为100-60000!");
    const double whole = std::floor(*rt::ToNumber(interval));
    if (whole < 50 || whole > 60000)
        return QStringLiteral("你输入的定时时长格式有误，应该为数字，值范围为50-60000!");
    return std::nullopt;
}

} // namespace

void frmMain::cmdOneM_Click() {
    toldFieldError_.clear(); // a new start tells a field error again
    PictureShow->setVisible(true);
    lblCounter->setText(QStringLiteral("1"));
    CommCount = 1;
    lblErrCounter->setText(QStringLiteral("1"));

    if (const auto error = IntervalError(txtTimerSet->text())) {
        MsgBox(*error);
        return;
    }
    StartPolling(*PollInterval());
}

std::optional<std::int32_t> frmMain::PollInterval() const {
    if (IntervalError(txtTimerSet->text()))
        return std::nullopt;
    // Rounded, not floored: 60000.9 passes the range test and gives 60001 ms.
    return rt::RoundedTo<std::int32_t>(txtTimerSet->text());
}

void frmMain::StartPolling(std::int32_t intervalMs) {
    Timer2->setInterval(intervalMs);
    if (!Timer2->isActive())
        Timer2->start();
}

void frmMain::StopPolling() {
    Timer2->stop();
}

void frmMain::Timer2_Timer() {
    // While a message box is open the tick is dropped, so boxes never pile up, and polling
    // goes on once the box is closed.
    if (messages().isShowing())
        return;
    if (!rt::IsNumeric(txtDataLength->text()))
        txtDataLength->setText(QStringLiteral("1"));
    if (CaptionValue(lblCounter) > kCounterLimit)
        lblCounter->setText(QStringLiteral("0"));
    if (!CommReady)
        return;
    lblCounter->setText(rt::DecimalText(static_cast<long long>(CaptionValue(lblCounter)) + 1));
    PollOnce();
}

// The one-shot query on a tick. A field error is told once: told on every tick, its modal
// box would come back within one interval of being closed, and the user could never reach
// the field or "停止". Polling goes on, silent, and sends again once the field is mended.
void frmMain::PollOnce() {
    const std::optional<QString> error = Query();
    const bool toldAlready = error && *error == toldFieldError_;
    toldFieldError_ = error.value_or(QString());
    if (error && !toldAlready)
        MsgBox(*error);
}

void frmMain::cmdStopOnce_Click() {
    PictureShow->setVisible(true);
    StopPolling();
}
