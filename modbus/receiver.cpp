// The receiver: every serial event is counted; a receive event takes all buffered bytes,
// shows them, and hands them to the decoder of the pending operation. Replies are not
// checked (CRC, address, length): the technician sees exactly what the line delivered.

#include "app/elementtext.h"
#include "app/frmMain.h"
#include "app/runtime.h"
#include "decoding.h"
#include "serial/mscomm.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <utility>

void frmMain::MSComm1_OnComm() {
    // At the top of its range the counter stays put instead of wrapping.
    if (const auto next = rt::CheckedAdd(CommCount, std::int32_t{1}))
        CommCount = *next;
    lblErrCounter->setText(rt::DecimalText(CommCount));

    if (MSComm1->commEvent() != MSComm::Receive)
        return;
    const QByteArray reply = MSComm1->input();
    MSComm1->setInBufferCount(0);
    SetText(txtState, modbus::ReplyText(reply));

    switch (CmdType) {
    case cmdtype::Query:
        ShowMeasuredValues(reply);
        break;
    case cmdtype::ParameterRead:
        ShowParameter(reply);
        break;
    case cmdtype::ParameterWrite:
        ConfirmWrite(reply);
        break;
    case cmdtype::Address:
        ConfirmWrite(reply);
        ShowAddress(reply);
        break;
    default:
        break; // anything before the first request: shown only
    }
    ShowLamp(imgConnected);
    emit BytesReceived(reply); // last, so a tool that sends again meets the window at rest
}

void frmMain::ShowMeasuredValues(const QByteArray &reply) {
    const modbus::MeasuredDisplay shown = modbus::DecodeMeasured(reply, txtStartID->text());
    std::optional<modbus::Reading> reading;
    for (int channel = 0; channel < modbus::kChannels; ++channel) {
        QLineEdit *box = txtValue(channel);
        if (!box)
            continue;
        if (shown.text[channel]) {
            box->setText(*shown.text[channel]);
            if (!reading) {
                reading.emplace();
                reading->channel = channel;
                reading->value = *shown.value[channel];
            }
        }
        if (shown.black[channel])
            SetTextColor(box, Qt::black);
    }
    if (!reading)
        return;
    reading->time = QDateTime::currentMSecsSinceEpoch();
    if (lastRequest_.size() >= 4) {
        reading->device = static_cast<std::uint8_t>(lastRequest_[0]);
        reading->function = static_cast<std::uint8_t>(lastRequest_[1]);
        reading->start =
            static_cast<std::uint16_t>(256 * static_cast<std::uint8_t>(lastRequest_[2]) +
                                       static_cast<std::uint8_t>(lastRequest_[3]));
    }
    reading->registers = modbus::ReplyRegisters(reply);
    reading->reply = reply;
    emit ReadingDecoded(*reading);
}

// The module answers a write by repeating its request. Address, code, register and value
// suffice, so an echo whose CRC comes in a later event still confirms it.
void frmMain::ConfirmWrite(const QByteArray &reply) {
    if (!pendingWrite_ || reply.size() < 6 || reply.left(6) != lastRequest_.left(6))
        return;
    modbus::WriteChange change = *std::exchange(pendingWrite_, std::nullopt);
    change.time = QDateTime::currentMSecsSinceEpoch();
    emit WriteConfirmed(change);
}

void frmMain::ShowParameter(const QByteArray &reply) {
    const std::uint16_t value = modbus::ParameterRegister(reply);
    const auto text = modbus::ParameterText(ParamIndex, value);
    QLineEdit *box = txtsetValue(ParamIndex);
    if (!text || !box)
        return;
    box->setText(*text);
    emit ParameterDecoded(ParamIndex, value);
}

void frmMain::ShowAddress(const QByteArray &reply) {
    const auto text = modbus::DecodeAddress(reply);
    if (!text)
        return;
    if (QLineEdit *current = txtSetID(0))
        current->setText(*text);
    txtStationID->setText(*text);
}
