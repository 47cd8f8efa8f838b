#include "portloss.h"

PortTrouble JudgePortError(QSerialPort::SerialPortError error, bool emptiedSinceRead) {
    switch (error) {
    case QSerialPort::ReadError:
        return emptiedSinceRead ? PortTrouble::ExplainedReadFailure : PortTrouble::Lost;
    case QSerialPort::ResourceError:
        return PortTrouble::Lost;
    case QSerialPort::WriteError:
        return PortTrouble::TransmitFault;
    default:
        return PortTrouble::None; // open() failures are reported by its result
    }
}
