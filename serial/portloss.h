#pragma once
// What an error that Qt's serial port reports on an open port means for the control.

#include <QSerialPort>

enum class PortTrouble {
    None,
    // Bytes the event loop had seen waiting were emptied by InBufferCount before Qt read
    // them: its read finds nothing and fails, and it reads again when more bytes come.
    ExplainedReadFailure,
    // The device is gone: unplugged, or the other end of a pseudo-terminal closed.
    Lost,
    TransmitFault,
};

// emptiedSinceRead: the control emptied the driver's buffer since Qt last read from it.
// A read failure is explained by that once; a device that is really gone keeps failing,
// and its next failure is taken for the loss.
PortTrouble JudgePortError(QSerialPort::SerialPortError error, bool emptiedSinceRead);
