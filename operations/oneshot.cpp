// The one-shot query: the user's four Modbus fields become one read request. The cyclic
// query runs this same handler on every tick that sends.

#include "app/elementtext.h"
#include "app/frmMain.h"
#include "app/runtime.h"

#include <QLineEdit>
#include <QPlainTextEdit>

namespace {

// The first failing field check's message, in the order the user is told about them.
std::optional<QString> QueryFieldError(const QLineEdit *station, const QLineEdit *function,
                                       const QLineEdit *start, const QLineEdit *length) {
    if (!rt::IsNumeric(station->text()))
        return QStringLiteral("你输入的设备地址格式有误!");
    if (!rt::IsNumeric(function->text()))
        return QStringLiteral("你输入的功能码格式有误!");
    if (!rt::IsNumeric(length->text()))
        return QStringLiteral("你输入的数据长度格式有误!");
    if (!rt::IsNumeric(start->text()))
        return QStringLiteral("你输入的起始地址格式有误!");
    const double count = std::floor(*rt::ToNumber(length->text()));
    if (count < 1 || count > 7)
        return QStringLiteral("你输入的数据长度格式有误,正确的值应该为1-7!");
    return std::nullopt;
}

} // namespace

void frmMain::comDoOnce_Click() {
    if (const auto error = Query())
        MsgBox(*error);
}

// The query's steps. A field error ends them before anything is sent and is returned for
// the caller to tell: a click always tells it, a tick of the cyclic query only once.
std::optional<QString> frmMain::Query() {
    PictureShow->setVisible(true);
    CmdText.clear();
    if (auto error = QueryFieldError(txtStationID, txtFunID, txtStartID, txtDataLength))
        return error;
    SetText(txtState, QString());

    // From here on a step that fails is skipped: a field outside a byte's range is sent
    // as 0.
    if (!PortFoundOpen())
        return std::nullopt;

    modbus::RequestFrame frame{};
    frame[0] = rt::FlooredTo<std::uint8_t>(txtStationID->text()).value_or(0);
    frame[1] = rt::RoundedTo<std::uint8_t>(txtFunID->text()).value_or(0);
    frame[3] = rt::FlooredTo<std::uint8_t>(txtStartID->text()).value_or(0);
    frame[5] = rt::FlooredTo<std::uint8_t>(txtDataLength->text()).value_or(0);
    SendRead(frame, cmdtype::Query);
    return std::nullopt;
}
