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
    // A field outside a byte's range is sent as 0.
    QueryRegisters(rt::FlooredTo<std::uint8_t>(txtStationID->text()).value_or(0),
                   rt::RoundedTo<std::uint8_t>(txtFunID->text()).value_or(0),
                   rt::FlooredTo<std::uint8_t>(txtStartID->text()).value_or(0),
                   rt::FlooredTo<std::uint8_t>(txtDataLength->text()).value_or(0));
    return std::nullopt;
}

void frmMain::QueryRegisters(std::uint8_t station, std::uint8_t function, std::uint8_t start,
                             std::uint8_t count) {
    CmdText.clear();
    SetText(txtState, QString());
    if (PortFoundOpen())
        SendRead({station, function, 0, start, 0, count}, cmdtype::Query);
}

std::optional<std::uint8_t> frmMain::StationAddress() const {
    return rt::FlooredTo<std::uint8_t>(txtStationID->text());
}
