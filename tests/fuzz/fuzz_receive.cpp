// The receive path through the real serial control: a command (or the fuzzer itself) arms
// the receive threshold, then the module's side delivers arbitrary bytes in arbitrary
// pieces and the window handles whatever events they raise.
//
// Input: CmdType (2 bytes), ParamIndex (2), how to arm (1), a threshold (2), an InputLen
// (2), the start-address text (1 length byte + text), then pieces, each one length byte
// (0..64) and its bytes. Arm byte: bits 0-2 the command (comDoOnce, cmdREAD 0-2,
// cmdReadAdd, cmdChangeID, cmdSet 0, or none: the fuzzer prepares the control itself);
// bit 3 sets the threshold afterwards anyway, bit 4 the InputLen; bit 5: the adapter
// echoes: the port is in echo mode before the command, and the request comes back ahead of
// the pieces' bytes, the pieces' lengths cutting the whole; bit 6: COM4 is a TCP connection
// (COM4-tcp.txt) instead of a pseudo-terminal; bit 7 floods: the pieces are then delivered
// again and again, unread, past the control's input buffer.
//
// Whatever the window shows of a reply must be bytes the module sent, in the order it sent
// them: never the adapter's copy.

#include "fuzzcheck.h"
#include "fuzzwindow.h"
#include "modbus/frame.h"
#include "serial/mscomm.h"

#include <QLineEdit>
#include <QPlainTextEdit>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

class Reader {
public:
    Reader(const std::uint8_t *data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    std::int16_t int16() {
        return std::int16_t(std::uint16_t(byte()) | std::uint16_t(byte() << 8));
    }
    QByteArray bytes(std::size_t n) {
        n = std::min(n, size_ - pos_);
        QByteArray out(reinterpret_cast<const char *>(data_ + pos_), qsizetype(n));
        pos_ += n;
        return out;
    }
    bool atEnd() const { return pos_ >= size_; }

private:
    const std::uint8_t *data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

// The fields the commands read, as the window starts with them.
void ResetFields(frmMain &w) {
    w.txtStationID->setText(QStringLiteral("1"));
    w.txtFunID->setText(QStringLiteral("3"));
    w.txtDataLength->setText(QStringLiteral("2"));
    for (int i = 0; i < 3; ++i)
        w.txtsetValue(i)->setText(QStringLiteral("1"));
    w.txtSetID(0)->setText(QStringLiteral("1"));
    w.txtSetID(1)->setText(QStringLiteral("2"));
}

// Well past the control's 64 KiB input buffer.
constexpr qsizetype kFlood = MSComm::kInBufferSize + 4096;

// Each input starts with the port in echo mode or not as it asks, comparing nothing: no
// state is left from the input before. Reopening the port, the one way out of echo mode
// besides a read's reply, costs milliseconds, so it is done only when needed.
void SetEchoMode(FuzzWindow &f, bool echoing) {
    MSComm &comm = *f.window().MSComm1;
    if (comm.echoMode() && !echoing)
        f.Reopen();
    comm.setOutput({}); // nothing sent, nothing to compare
    if (!echoing || comm.echoMode())
        return;
    const QByteArray addressRead = QByteArray::fromHex("FA250200000199FE");
    comm.setOutput(addressRead);
    f.sent();
    f.deliver(addressRead);
    Require(comm.echoMode(), "an address read's copy did not start echo mode");
}

// The same cuts over `stream`: each piece as long as before, the rest last.
std::vector<QByteArray> CutLike(const std::vector<QByteArray> &pieces, const QByteArray &stream) {
    std::vector<QByteArray> cut;
    qsizetype at = 0;
    for (const QByteArray &piece : pieces) {
        cut.push_back(stream.sliced(at, piece.size()));
        at += piece.size();
    }
    cut.push_back(stream.sliced(at));
    return cut;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    Reader in(data, size);
    const std::int16_t cmdType = in.int16();
    const std::int16_t paramIndex = in.int16();
    const std::uint8_t arm = in.byte();
    FuzzWindow &f = (arm & 64) ? FuzzWindow::OverTcp() : FuzzWindow::get();
    frmMain &w = f.window();
    MSComm &comm = *w.MSComm1;

    const std::int16_t threshold = in.int16();
    const std::int16_t inputLen = in.int16();
    const QByteArray start = in.bytes(in.byte() % 16);

    const bool echoing = (arm & 32) != 0;
    SetEchoMode(f, echoing);
    ResetFields(w);
    w.txtState->clear();
    w.txtStartID->setText(QString::fromLatin1(start));
    switch (arm & 7) {
    case 0:
        w.comDoOnce_Click();
        break;
    case 1:
    case 2:
    case 3:
        w.cmdREAD_Click(std::int16_t((arm & 7) - 1));
        break;
    case 4:
        w.cmdReadAdd_Click();
        break;
    case 5:
        w.cmdChangeID_Click();
        break;
    case 6:
        w.cmdSet_Click(0);
        break;
    default:
        comm.setInBufferCount(0);
        comm.setInputLen(0);
        comm.setInputMode(1);
        comm.setRThreshold(threshold);
        break;
    }
    if (arm & 8)
        comm.setRThreshold(threshold);
    if (arm & 16)
        comm.setInputLen(inputLen);
    w.CmdType = cmdType;
    w.ParamIndex = paramIndex;
    const QByteArray request = f.sent(); // the command's, if any

    f.shown.clear(); // a command may refuse a field; only what the bytes cause counts

    std::vector<QByteArray> pieces;
    while (!in.atEnd())
        pieces.push_back(in.bytes(in.byte() % 65));
    QByteArray all;
    for (const QByteArray &piece : pieces)
        all += piece;
    for (const QByteArray &piece :
         echoing && !request.isEmpty() ? CutLike(pieces, request + all) : pieces) {
        f.deliver(piece);
        Require(comm.inBufferCount() <= MSComm::kInBufferSize, "input buffer overran");
    }
    if ((arm & 128) && !all.isEmpty()) {
        // Nothing reads while the bytes pour in, so the buffer fills and overflows. It is
        // then discarded: showing 64 KiB as hexadecimal text would take a tenth of a second
        // under the sanitizers and say nothing new. Delivered in large pieces: one piece per
        // byte would take seconds.
        QByteArray flood;
        while (flood.size() < kFlood)
            flood += all;
        const std::int16_t armed = comm.rThreshold();
        comm.setRThreshold(0);
        f.deliver(flood);
        Require(comm.inBufferCount() == MSComm::kInBufferSize, "a flood did not fill the buffer");
        comm.setInBufferCount(0);
        comm.setRThreshold(armed);
        f.deliver(all.first(std::min<qsizetype>(all.size(), 64))); // the line works on
    }
    f.deliver({});

    Require(comm.portOpen(), "the port closed on received bytes");
    Require(!echoing || comm.echoMode(), "echo mode ended while the adapter echoed");
    Require((arm & 128) || modbus::ReplyText(all).contains(w.txtState->toPlainText()),
            "the window shows bytes the module did not send");
    Require(f.sent().isEmpty(), "the receiver wrote to the line");
    Require(f.shown.empty(), "a message box for received bytes");

    // The next input starts from an empty control, as every command's preparation does.
    comm.setInputLen(0);
    comm.setInBufferCount(0);
    return 0;
}
