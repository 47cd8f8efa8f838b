#pragma once
// What the bus tools ask each module and how they judge what comes back: one read of
// register 0 (function 3, one register), whose reply counts only when its length, CRC,
// address and function are right. No I/O: the tools and the tests share it.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>
#include <variant>

namespace bus {

// The addresses a module takes.
inline constexpr int kFirstAddress = 1;
inline constexpr int kLastAddress = 35;

// The length of the reply to a read of one register, and of an exception reply.
inline constexpr int kReplyLength = 7;
inline constexpr int kExceptionLength = 5;

// The read of one register (function 3) of `address`, sealed with its CRC: register 0, the
// reading, unless another is named.
QByteArray ReadRequest(std::uint8_t address, std::uint16_t reg = 0);
// The write of one register (function 6), sealed with its CRC.
QByteArray WriteRequest(std::uint8_t address, std::uint16_t reg, std::uint16_t value);

// The wait for a silent address at `rate`: the request's and the reply's time on the wire
// and the silence that ends the request, plus a margin for the module to turn round.
int WaitMs(std::int32_t rate);

enum class Heard {
    Incomplete,   // less than one reply so far; more may come
    Silent,       // nothing at all within the wait
    Reply,        // the checked reply of the module asked
    Exception,    // a checked exception reply of the module asked
    WrongAddress, // a checked reply from another address
    Garbled,      // a bad CRC, or more bytes than one reply: two modules may have answered
    Short,        // fewer bytes than a reply when the wait ended: noise, or a wrong rate
};

struct Judged {
    Heard heard = Heard::Incomplete;
    int from = 0;            // the address the reply names (Reply, Exception, WrongAddress)
    std::uint16_t value = 0; // the register (Reply) or the exception code (Exception)
};

// The bytes heard since the read of `asked` went out. With `final` the wait is over, so
// a part of a reply is Short and nothing is silence; before it, less than a reply is
// Incomplete.
Judged Judge(std::uint8_t asked, QByteArrayView bytes, bool final);
// The same for a write, which the module answers by repeating its request: a Reply is
// that echo, its value the one written.
Judged JudgeEcho(QByteArrayView request, QByteArrayView bytes, bool final);

// Register 0's value as the window shows it in its first box.
QString ReadingText(std::uint16_t value);

// "3,5,7-9" or "3 5 7": the addresses in the order given, each once; or why not, in words.
std::variant<QList<int>, QString> ParseAddresses(const QString &text);
// The same list as text, runs of three or more written "7-9".
QString AddressesText(const QList<int> &addresses);

// An address typed into a field: 1 to 35, or nothing.
std::optional<int> AddressIn(const QString &text);

} // namespace bus
