// The steps every command takes to send a request: prepare the serial control, seal the
// frame with its CRC, and show the lamp of the request's state.

#include "app/elementtext.h"
#include "app/frmMain.h"
#include "serial/mscomm.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <utility>

void frmMain::Crc16(std::span<const std::uint8_t> cmdstring, std::int16_t j) {
    const auto covered = std::clamp<qsizetype>(qsizetype{j} + 1, 0, cmdstring.size());
    const std::uint16_t crc = modbus::Crc16Value(cmdstring.first(covered));
    HiByte = static_cast<std::uint8_t>(crc & 0xFF);
    LoByte = static_cast<std::uint8_t>(crc >> 8);
}

// Unread input is dropped, one read returns every byte, input comes as bytes, and no
// receive event is raised while the request is being prepared. Each write stands alone:
// one that the control refuses is skipped. An echo still awaited no longer confirms its
// write: the next request has taken the line.
void frmMain::PrepareSerialControl() {
    pendingWrite_.reset();
    MSComm1->setInBufferCount(0);
    MSComm1->setInputLen(0);
    MSComm1->setInputMode(1);
    MSComm1->setRThreshold(0);
}

void frmMain::SealRequest(modbus::RequestFrame &frame) {
    Crc16(frame, 5);
    frame[6] = HiByte;
    frame[7] = LoByte;
}

// The commands that test the port first: a closed port is reported and nothing is built;
// an open one shows the yellow lamp and is prepared for the request.
bool frmMain::PortFoundOpen() {
    if (!MSComm1->portOpen()) {
        MsgBox(QStringLiteral("打开串口出错，请确定串口是否已被占用"));
        ShowLamp(imgNotConnected);
        CommReady = false; // stops cyclic polling until a port is chosen again
        return false;
    }
    ShowLamp(ImgYellow);
    PrepareSerialControl();
    return true;
}

// A read request of the commands that test the port first: the reply holds address, code,
// byte count, two bytes per register and the CRC, and the receive event is armed for all of
// it before the bytes go out.
void frmMain::SendRead(modbus::RequestFrame frame, std::int16_t cmdType) {
    SealRequest(frame);
    ReplyLen = static_cast<std::int16_t>(2 * frame[5] + 5);
    MSComm1->setRThreshold(ReplyLen);
    CmdType = cmdType;
    lastRequest_ = modbus::ToBytes(frame);
    MSComm1->setOutput(lastRequest_);
    CmdText = modbus::RequestText(frame);
    SetText(txtCommand, CmdText);
}

// The commands that test the port last, the two writes and the address read: the request is
// shown whether or not the port is open, and only an open port receives it. Each reply is at
// least 6 bytes: a write's repeats address, code, register and value.
void frmMain::SendWrite(modbus::RequestFrame frame, std::int16_t replyLen,
                        std::optional<modbus::WriteChange> writes) {
    PrepareSerialControl();
    pendingWrite_ = std::move(writes);
    SealRequest(frame);
    ReplyLen = replyLen;
    CmdText = modbus::RequestText(frame);
    MSComm1->setRThreshold(6);
    SetText(txtCommand, CmdText);
    if (!MSComm1->portOpen()) {
        ShowLamp(imgNotConnected);
        return;
    }
    ShowLamp(imgConnected);
    lastRequest_ = modbus::ToBytes(frame);
    MSComm1->setOutput(lastRequest_);
}
