#pragma once
// The state the window's handlers share. Everything starts at zero, false or empty.

#include <QString>

#include <cstdint>

// The codes of the pending operation held in CmdType, which picks the reply's decoder.
namespace cmdtype {
inline constexpr std::int16_t None = 0;           // before the first request
inline constexpr std::int16_t Query = 1;          // one-shot and cyclic query: measured values
inline constexpr std::int16_t ParameterRead = 2;  // one calibration parameter
inline constexpr std::int16_t ParameterWrite = 3; // the echo is shown, not decoded
inline constexpr std::int16_t Address = 5;        // address read or change
} // namespace cmdtype

struct WindowVariables {
    std::int16_t CommNum = 0;  // serial port number, 1 to 16 from the port list
    std::int16_t CommRate = 0; // baud rate
    bool CommReady = false;    // a port was opened; cleared when a send finds it closed
    // The documented names say which byte goes first on the line, not which half of the CRC.
    std::uint8_t HiByte = 0;              // CRC-16 low 8 bits, sent first
    std::uint8_t LoByte = 0;              // CRC-16 high 8 bits, sent second
    QString CmdText;                      // hexadecimal text of the last request built
    std::int16_t CmdType = cmdtype::None; // pending operation, one of cmdtype
    std::int16_t ReplyLen = 0;            // expected reply length in bytes
    std::int32_t CommCount = 0;           // serial events, shown in lblErrCounter
    std::int16_t ParamIndex = 0;          // calibration parameter whose read is pending
};
