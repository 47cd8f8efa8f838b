// Calibration parameters: a read asks for one register at the start address + 4 + index,
// a write sets register 0x0A04 + index with function 6.

#include "app/elementtext.h"
#include "app/frmMain.h"
#include "app/runtime.h"
#include "modbus/decoding.h"
#include "parameterencoding.h"
#include "serial/mscomm.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

void frmMain::cmdREAD_Click(std::int16_t Index) {
    // A field that does not convert leaves its byte at 0 and the request still goes out.
    const auto start = rt::ToNumber(txtStartID->text());
    ReadParameter(Index, rt::FlooredTo<std::uint8_t>(txtStationID->text()).value_or(0),
                  rt::RoundedTo<std::uint8_t>(txtFunID->text()).value_or(0),
                  start ? rt::FlooredTo<std::uint8_t>(*start + Index + 4).value_or(0) : 0);
}

void frmMain::ReadParameter(std::int16_t index, std::uint8_t station, std::uint8_t function,
                            std::uint8_t reg) {
    CmdText.clear();
    SetText(txtState, QString());
    ParamIndex = index;
    if (PortFoundOpen())
        SendRead({station, function, 0, reg, 0, 0x01}, cmdtype::ParameterRead);
}

void frmMain::cmdSet_Click(std::int16_t Index) {
    const QLineEdit *entry = txtsetValue(Index);
    if (!entry)
        return;
    // Nothing is sent for a value that has no register encoding, and a station field that
    // does not convert is refused rather than sent as 0: a write to 0 is a broadcast that
    // would reconfigure every module on the bus.
    const auto value = operations::ParameterRegisterValue(entry->text(), Index);
    if (!value) {
        MsgBox(QStringLiteral("你输入的值有误!"));
        return;
    }
    const auto station = rt::FlooredTo<std::uint8_t>(txtStationID->text());
    if (!station) {
        MsgBox(QStringLiteral("你输入的设备地址格式有误!"));
        return;
    }

    WriteParameter(Index, *station, *value);
}

void frmMain::WriteParameter(std::int16_t index, std::uint8_t station, std::uint16_t value) {
    CmdType = cmdtype::ParameterWrite;
    CmdText.clear();
    SetText(txtState, QString());
    const modbus::RequestFrame frame{station,
                                     0x06,
                                     0x0A,
                                     static_cast<std::uint8_t>(index + 4),
                                     static_cast<std::uint8_t>(value / 256),
                                     static_cast<std::uint8_t>(value % 256)};
    const QLabel *name = lblsetValue(index);
    SendWrite(
        frame, 6,
        modbus::WriteChange::Parameter(station, index, name ? name->text() : QString(), value));
}
