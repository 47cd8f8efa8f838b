// The device address: a fixed read request to address 250, and a change that writes the
// new address into register 0x0B00 of the current one.

#include "app/elementtext.h"
#include "app/frmMain.h"
#include "app/runtime.h"
#include "serial/mscomm.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <cmath>

namespace {

const QString kAddressRange = QStringLiteral("请指定正确的设备地址，正确值范围为1-35");

// Above the largest address a byte can carry, or below the smallest.
bool OutsideByte(double whole) {
    return whole < 0 || whole > 255;
}

} // namespace

void frmMain::cmdReadAdd_Click() {
    SetText(txtState, QString());
    CmdType = cmdtype::Address;
    CmdText.clear();
    // The reply is 6 bytes (address, code, count, address, CRC); ReplyLen keeps the length a
    // read of one register would have, 255 and not 256 times byte 4 as it always has.
    const modbus::RequestFrame frame{0xFA, 0x25, 0x02, 0x00, 0x00, 0x01};
    SendWrite(frame, static_cast<std::int16_t>(255 * frame[4] + 2 * frame[5] + 5));
}

void frmMain::cmdChangeID_Click() {
    QLineEdit *current = txtSetID(0);
    QLineEdit *target = txtSetID(1);
    if (!current || !target)
        return;
    if (!rt::IsNumeric(current->text())) {
        MsgBox(QStringLiteral("你输入的原设备地址格式有误!"));
        return;
    }
    if (!rt::IsNumeric(target->text())) {
        MsgBox(QStringLiteral("你输入的目标设备地址格式有误!"));
        return;
    }
    CmdText.clear();
    const double from = std::floor(*rt::ToNumber(current->text()));
    const double to = std::floor(*rt::ToNumber(target->text()));
    if (from == 0 || to == 0) {
        MsgBox(kAddressRange);
        return;
    }
    if (to > 35) {
        MsgBox(kAddressRange + QLatin1Char('!'));
        return;
    }
    // The current address is not held to 1-35, so a module set elsewhere can be brought
    // back; it still has to fit the request's address byte.
    if (OutsideByte(from) || to < 0) {
        MsgBox(kAddressRange);
        return;
    }

    ChangeAddress(static_cast<std::uint8_t>(from), static_cast<std::uint8_t>(to));
}

void frmMain::ChangeAddress(std::uint8_t from, std::uint8_t to) {
    CmdType = cmdtype::Address;
    CmdText.clear();
    SetText(txtState, QString());
    const modbus::RequestFrame frame{from, 0x06, 0x0B, 0x00, 0x00, to};
    SendWrite(frame, 6, modbus::WriteChange::Address(from, to));
}
