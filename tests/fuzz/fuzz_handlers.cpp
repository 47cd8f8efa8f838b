// Every command handler on arbitrary field texts, the port open. After each handler the
// fuzzer reads what reached the line and checks that a request went out exactly when the
// handler's rules allow it, as one 8-byte frame with a valid CRC, and that a refusal
// shows one message instead (a tick of the cyclic query tells a field error only once).
//
// Input: parts separated by zero bytes. The first part is the program, one handler per
// byte (at most 16; bit 7 of its first byte reads the texts as Latin-1 instead of UTF-8);
// the next parts are the texts of txtStationID, txtFunID, txtStartID, txtDataLength,
// txtsetValue(0..2), txtSetID(0..1) and txtTimerSet. A missing part leaves the window's
// own start-up text.

#include "app/runtime.h"
#include "fuzzcheck.h"
#include "fuzzwindow.h"
#include "operations/parameterencoding.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using Frame = std::array<std::uint8_t, 8>;

// CRC-16/MODBUS, bit by bit, independent of the program's table.
std::uint16_t Crc(const std::uint8_t *bytes, int n) {
    std::uint16_t crc = 0xFFFF;
    for (int i = 0; i < n; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
    }
    return crc;
}

// What one handler wrote: nothing, or one request.
std::optional<Frame> OneRequest(const QByteArray &sent) {
    if (sent.isEmpty())
        return std::nullopt;
    Require(sent.size() == 8, "a request that is not 8 bytes");
    Frame f{};
    std::memcpy(f.data(), sent.constData(), 8);
    const std::uint16_t crc = Crc(f.data(), 6);
    Require(f[6] == (crc & 0xFF) && f[7] == (crc >> 8), "a request with a wrong CRC");
    return f;
}

bool Numeric(const QLineEdit *box) {
    return rt::IsNumeric(box->text());
}
double Floor(const QLineEdit *box) {
    return std::floor(*rt::ToNumber(box->text()));
}

struct Fields {
    QLineEdit *station, *function, *start, *length, *timer;
    std::array<QLineEdit *, 3> value;
    std::array<QLineEdit *, 2> id;

    explicit Fields(frmMain &w)
        : station(w.txtStationID), function(w.txtFunID), start(w.txtStartID),
          length(w.txtDataLength),
          timer(w.txtTimerSet), value{w.txtsetValue(0), w.txtsetValue(1), w.txtsetValue(2)},
          id{w.txtSetID(0), w.txtSetID(1)} {}
    std::array<QLineEdit *, 10> all() const {
        return {station,  function, start, length, value[0],
                value[1], value[2], id[0], id[1],  timer};
    }
};

// The query's rule, shared by comDoOnce and the timer tick.
void CheckQuery(const Fields &in, const std::optional<Frame> &req) {
    const bool allowed = Numeric(in.station) && Numeric(in.function) && Numeric(in.start) &&
                         Numeric(in.length) && Floor(in.length) >= 1 && Floor(in.length) <= 7;
    Require(req.has_value() == allowed, "query sent against its rules");
    if (req) {
        const Frame &f = *req;
        Require(f[2] == 0 && f[4] == 0 && f[5] == Floor(in.length), "query frame");
        Require(f[0] == rt::FlooredTo<std::uint8_t>(in.station->text()).value_or(0),
                "query station");
    }
}

// The field error the ticks last told: a tick tells an error once, until a start or a tick
// that sends. The window lives for the whole run, and so does this.
QString toldByTick;

void RunHandler(FuzzWindow &fw, int handler) {
    frmMain &w = fw.window();
    const Fields in(w);
    fw.shown.clear();

    switch (handler) {
    case 0: {
        w.comDoOnce_Click();
        const auto req = OneRequest(fw.sent());
        CheckQuery(in, req);
        Require(fw.shown.size() == (req ? 0u : 1u), "query message");
        break;
    }
    case 1:
    case 2:
    case 3: {
        const auto index = std::int16_t(handler - 1);
        w.cmdREAD_Click(index);
        const auto req = OneRequest(fw.sent());
        Require(req.has_value() && fw.shown.empty(), "parameter read not sent");
        Require((*req)[2] == 0 && (*req)[4] == 0 && (*req)[5] == 1, "parameter read frame");
        break;
    }
    case 4:
    case 5:
    case 6: {
        const auto index = std::int16_t(handler - 4);
        const auto value = operations::ParameterRegisterValue(in.value[index]->text(), index);
        const auto station = rt::FlooredTo<std::uint8_t>(in.station->text());
        w.cmdSet_Click(index);
        const auto req = OneRequest(fw.sent());
        Require(req.has_value() == (value && station), "parameter write against its rules");
        Require(fw.shown.size() == (req ? 0u : 1u), "parameter write message");
        if (req) {
            const Frame expected{*station,
                                 0x06,
                                 0x0A,
                                 std::uint8_t(4 + index),
                                 std::uint8_t(*value >> 8),
                                 std::uint8_t(*value & 0xFF)};
            Require(std::equal(expected.begin(), expected.begin() + 6, req->begin()),
                    "parameter write frame");
        }
        break;
    }
    case 7: {
        w.cmdReadAdd_Click();
        const Frame fixed{0xFA, 0x25, 0x02, 0x00, 0x00, 0x01, 0x99, 0xFE};
        const auto req = OneRequest(fw.sent());
        Require(req == fixed && fw.shown.empty(), "address read is not the fixed request");
        break;
    }
    case 8: {
        const bool allowed = Numeric(in.id[0]) && Numeric(in.id[1]) && Floor(in.id[0]) >= 1 &&
                             Floor(in.id[0]) <= 255 && Floor(in.id[1]) >= 1 &&
                             Floor(in.id[1]) <= 35;
        w.cmdChangeID_Click();
        const auto req = OneRequest(fw.sent());
        Require(req.has_value() == allowed, "address change against its rules");
        Require(fw.shown.size() == (req ? 0u : 1u), "address change message");
        if (req) {
            const Frame expected{std::uint8_t(Floor(in.id[0])), 0x06, 0x0B, 0x00, 0x00,
                                 std::uint8_t(Floor(in.id[1]))};
            Require(std::equal(expected.begin(), expected.begin() + 6, req->begin()),
                    "address change frame");
        }
        break;
    }
    case 9: {
        const bool allowed = Numeric(in.timer) && Floor(in.timer) >= 50 && Floor(in.timer) <= 60000;
        w.cmdOneM_Click();
        toldByTick.clear();
        Require(fw.sent().isEmpty(), "starting the cycle sent by itself");
        Require(w.Timer2->isActive() == allowed, "cycle started against its rules");
        Require(fw.shown.size() == (allowed ? 0u : 1u), "cycle message");
        if (allowed)
            Require(w.Timer2->interval() == *rt::RoundedTo<std::int32_t>(in.timer->text()),
                    "cycle interval");
        w.Timer2->stop(); // it must not tick on its own between inputs
        break;
    }
    case 10: {
        const bool lengthNumeric = Numeric(in.length);
        w.Timer2_Timer();
        const auto req = OneRequest(fw.sent());
        // A length that is not a number is replaced by 1 before the query runs.
        if (!lengthNumeric)
            Require(in.length->text() == u"1", "tick did not repair the length");
        CheckQuery(in, req);
        if (req) {
            Require(fw.shown.empty(), "tick message with a request");
            toldByTick.clear();
        } else if (fw.shown.empty()) {
            Require(!toldByTick.isEmpty(), "tick refused silently an error never told");
        } else {
            Require(fw.shown.size() == 1 && fw.shown[0].text != toldByTick, "tick told again");
            toldByTick = fw.shown[0].text;
        }
        break;
    }
    default:
        w.cmdStopOnce_Click();
        Require(fw.sent().isEmpty() && !w.Timer2->isActive(), "stop");
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzWindow &fw = FuzzWindow::get();
    frmMain &w = fw.window();
    static const std::array<QString, 10> startTexts = [&] {
        std::array<QString, 10> texts;
        const Fields in(w);
        for (std::size_t i = 0; i < texts.size(); ++i)
            texts[i] = in.all()[i]->text();
        return texts;
    }();
    Require(w.CommReady && fw.sent().isEmpty(), "the window is not ready");

    const QList<QByteArray> parts =
        QByteArray(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const QByteArray program = parts.value(0).left(16);
    const bool latin1 = !program.isEmpty() && (program[0] & 0x80);
    const Fields in(w);
    for (std::size_t i = 0; i < startTexts.size(); ++i) {
        const qsizetype part = qsizetype(i) + 1;
        in.all()[i]->setText(part >= parts.size() ? startTexts[i]
                                                  : (latin1 ? QString::fromLatin1(parts[part])
                                                            : QString::fromUtf8(parts[part])));
    }
    w.lblCounter->setText(QStringLiteral("1"));

    for (const char op : program)
        RunHandler(fw, (std::uint8_t(op) & 0x7F) % 12);
    w.Timer2->stop();
    return 0;
}
