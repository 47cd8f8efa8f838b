// The number services: which texts count as numbers, floored and rounded conversions at the
// edges of their ranges, checked addition and the fixed-point formats.

#include "app/runtime.h"

#include <QLocale>
#include <QScopeGuard>
#include <QtTest>

#include <cfenv>
#include <cmath>
#include <limits>

namespace {

template <typename T> std::optional<qint64> Wide(std::optional<T> v) {
    return v ? std::optional<qint64>(static_cast<qint64>(*v)) : std::nullopt;
}

// One entry point for every target type, so a single table covers them all.
template <typename A> std::optional<qint64> Convert(int bits, bool rounded, A v) {
    if (bits == 8)
        return rounded ? Wide(rt::RoundedTo<std::uint8_t>(v))
                       : Wide(rt::FlooredTo<std::uint8_t>(v));
    if (bits == 16)
        return rounded ? Wide(rt::RoundedTo<std::int16_t>(v))
                       : Wide(rt::FlooredTo<std::int16_t>(v));
    return rounded ? Wide(rt::RoundedTo<std::int32_t>(v)) : Wide(rt::FlooredTo<std::int32_t>(v));
}

// Results as text, so a failure shows both sides.
QString Show(std::optional<qint64> v) {
    return v ? QString::number(*v) : QStringLiteral("none");
}

constexpr bool kFloor = false;
constexpr bool kRound = true;

} // namespace

class TstRuntime : public QObject {
    Q_OBJECT

private slots:
    void isNumeric_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<double>("value");
        const auto yes = [](const char *name, const QString &text, double value) {
            QTest::newRow(name) << text << true << value;
        };
        const auto no = [](const char *name, const QString &text) {
            QTest::newRow(name) << text << false << 0.0;
        };
        yes("blanks around", QStringLiteral(" 12 "), 12.0);
        yes("negative fraction", QStringLiteral("-0.5"), -0.5);
        yes("plus sign", QStringLiteral("+3"), 3.0);
        yes("exponent", QStringLiteral("1e3"), 1000.0);
        yes("capital exponent with sign", QStringLiteral("1.5E-2"), 0.015);
        yes("no digit before point", QStringLiteral(".5"), 0.5);
        yes("no digit after point", QStringLiteral("7."), 7.0);
        yes("tabs around", QStringLiteral("\t4\t"), 4.0);
        yes("underflow reads as zero", QStringLiteral("1e-400"), 0.0);
        no("empty", QString());
        no("only a blank", QStringLiteral(" "));
        no("only a point", QStringLiteral("."));
        no("exponent without mantissa", QStringLiteral("e3"));
        no("exponent without digits", QStringLiteral("1e"));
        no("exponent with only a sign", QStringLiteral("1e+"));
        no("thousands separator", QStringLiteral("1,000"));
        no("hexadecimal", QStringLiteral("0x10"));
        no("trailing letters", QStringLiteral("12abc"));
        no("double sign", QStringLiteral("--1"));
        no("blank inside", QStringLiteral("1 2"));
        no("newline is not a blank", QStringLiteral("4\n"));
        no("full-width digits", QStringLiteral("１２"));
        no("overflows a double", QStringLiteral("1e999"));
        no("nan", QStringLiteral("nan"));
        no("inf", QStringLiteral("inf"));
    }
    void isNumeric() {
        QFETCH(QString, text);
        QFETCH(bool, accepted);
        QFETCH(double, value);
        QCOMPARE(rt::IsNumeric(text), accepted);
        const std::optional<double> number = rt::ToNumber(text);
        QCOMPARE(number.has_value(), accepted);
        if (number)
            QCOMPARE(*number, value);
        // Every accepted row fits an int32, so the text conversions must agree with the test.
        QCOMPARE(rt::RoundedTo<std::int32_t>(QStringView(text)).has_value(), accepted);
        QCOMPARE(rt::FlooredTo<std::int32_t>(QStringView(text)).has_value(), accepted);
    }

    void conversion_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("rounded");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        const auto row = [](const char *name, int bits, bool rounded, double value,
                            std::optional<qint64> expected) {
            QTest::newRow(name) << bits << rounded << value << Show(expected);
        };
        const std::nullopt_t fails = std::nullopt;
        row("floor of -0.5 is -1", 32, kFloor, -0.5, -1);
        row("floor of 2.9 is 2", 32, kFloor, 2.9, 2);
        row("floor of -2.0 is -2", 32, kFloor, -2.0, -2);
        row("half rounds to even 0.5", 32, kRound, 0.5, 0);
        row("half rounds to even 1.5", 32, kRound, 1.5, 2);
        row("half rounds to even 2.5", 32, kRound, 2.5, 2);
        row("half rounds to even 3.5", 32, kRound, 3.5, 4);
        row("half rounds to even -2.5", 32, kRound, -2.5, -2);
        row("half rounds to even -3.5", 32, kRound, -3.5, -4);
        row("just above a half goes up 2.5000001", 32, kRound, 2.5000001, 3);
        row("just below a half goes down 2.4999999", 32, kRound, 2.4999999, 2);
        row("byte rounds 255.4 to 255", 8, kRound, 255.4, 255);
        row("byte rounds 255.5 to 256, out of range", 8, kRound, 255.5, fails);
        row("byte rounds -0.4 to 0", 8, kRound, -0.4, 0);
        row("byte rounds -0.5 to 0", 8, kRound, -0.5, 0);
        row("byte rounds -0.6 to -1, out of range", 8, kRound, -0.6, fails);
        row("byte floor of 255.9 is 255", 8, kFloor, 255.9, 255);
        row("byte floor of -0.1 is -1, out of range", 8, kFloor, -0.1, fails);
        row("int16 rounds 32767.4 to the top", 16, kRound, 32767.4, 32767);
        row("int16 rounds 32767.5 past the top", 16, kRound, 32767.5, fails);
        row("int16 rounds -32768.5 to the bottom", 16, kRound, -32768.5, -32768);
        row("int16 rounds -32768.6 past the bottom", 16, kRound, -32768.6, fails);
        row("int16 floor of -32768.1 is past the bottom", 16, kFloor, -32768.1, fails);
        row("int32 rounds 2147483646.5 down to even", 32, kRound, 2147483646.5, 2147483646);
        row("int32 rounds 2147483647.5 past the top", 32, kRound, 2147483647.5, fails);
        row("int32 rounds -2147483648.5 to the bottom", 32, kRound, -2147483648.5,
            std::numeric_limits<std::int32_t>::min());
        row("int32 floor of -2147483648.5 is past the bottom", 32, kFloor, -2147483648.5, fails);
        row("infinity", 32, kFloor, std::numeric_limits<double>::infinity(), fails);
        row("nan", 32, kRound, std::nan(""), fails);
    }
    void conversion() {
        QFETCH(int, bits);
        QFETCH(bool, rounded);
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(Show(Convert(bits, rounded, value)), expected);
        // The same value as text (17 digits round-trip exactly) must give the same result.
        const QString text = QString::number(value, 'g', 17);
        QCOMPARE(Show(Convert<QStringView>(bits, rounded, text)), expected);
    }

    void roundHalfEven_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<double>("expected");
        QTest::newRow("half to even 2.5") << 2.5 << 2.0;
        QTest::newRow("half to even -0.5") << -0.5 << 0.0;
        QTest::newRow("half to even -3.5") << -3.5 << -4.0;
        QTest::newRow("largest double below 2.5") << std::nextafter(2.5, 0.0) << 2.0;
        QTest::newRow("smallest double above 2.5") << std::nextafter(2.5, 3.0) << 3.0;
        QTest::newRow("half just below 2^52") << 4503599627370495.5 << 4503599627370496.0;
    }
    void roundHalfEven() {
        QFETCH(double, value);
        QFETCH(double, expected);
        // Must not depend on the current rounding mode, as rint or nearbyint would.
        const int saved = std::fegetround();
        const auto restore = qScopeGuard([saved] { std::fesetround(saved); });
        for (const int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
            QCOMPARE(std::fesetround(mode), 0);
            volatile double in = value;
            QCOMPARE(rt::RoundHalfEven(in), expected);
        }
    }

    void checkedAdd_data() {
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("a");
        QTest::addColumn<int>("b");
        QTest::addColumn<QString>("sum");
        constexpr int max32 = std::numeric_limits<std::int32_t>::max();
        constexpr int min32 = std::numeric_limits<std::int32_t>::min();
        QTest::newRow("int32 reaches the top") << 32 << max32 - 1 << 1 << QString::number(max32);
        QTest::newRow("int32 one past the top") << 32 << max32 << 1 << QStringLiteral("none");
        QTest::newRow("int32 one past the bottom") << 32 << min32 << -1 << QStringLiteral("none");
        QTest::newRow("int32 bottom plus top") << 32 << min32 << max32 << QStringLiteral("-1");
        QTest::newRow("int16 one past the top") << 16 << 32767 << 1 << QStringLiteral("none");
        QTest::newRow("int16 one past the bottom") << 16 << -32768 << -1 << QStringLiteral("none");
        QTest::newRow("int16 bottom plus top") << 16 << -32768 << 32767 << QStringLiteral("-1");
    }
    void checkedAdd() {
        QFETCH(int, bits);
        QFETCH(int, a);
        QFETCH(int, b);
        QFETCH(QString, sum);
        const auto add = [](auto x, auto y) { return Show(Wide(rt::CheckedAdd(x, y))); };
        QCOMPARE(bits == 16 ? add(static_cast<std::int16_t>(a), static_cast<std::int16_t>(b))
                            : add(a, b),
                 sum);
    }

    void formatFixed_data() {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two decimals 25.34") << 2534 / 100.0 << 2 << QStringLiteral("25.34");
        QTest::newRow("leading zero 0.07") << 7 / 100.0 << 2 << QStringLiteral("0.07");
        QTest::newRow("largest word 655.35") << 65535 / 100.0 << 2 << QStringLiteral("655.35");
        QTest::newRow("four decimals 0.5000") << 5000 / 10000.0 << 4 << QStringLiteral("0.5000");
        QTest::newRow("four decimals 1.0000") << 10000 / 10000.0 << 4 << QStringLiteral("1.0000");
        QTest::newRow("zero") << 0.0 << 2 << QStringLiteral("0.00");
        QTest::newRow("negative zero") << -0.0 << 2 << QStringLiteral("0.00");
        QTest::newRow("tiny negative shows no minus") << -0.001 << 2 << QStringLiteral("0.00");
        QTest::newRow("negative keeps its minus") << -1.5 << 2 << QStringLiteral("-1.50");
        QTest::newRow("no digit grouping") << 1234567.0 << 2 << QStringLiteral("1234567.00");
    }
    void formatFixed() {
        QFETCH(double, value);
        QFETCH(int, decimals);
        QFETCH(QString, expected);
        QCOMPARE(rt::FormatFixed(value, decimals), expected);
        // A German default locale would write "25,34" if the format followed it.
        const QLocale saved;
        const auto restore = qScopeGuard([saved] { QLocale::setDefault(saved); });
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(rt::FormatFixed(value, decimals), expected);
    }

    void decimalText() {
        QCOMPARE(rt::DecimalText(-5), QStringLiteral("-5"));
        QCOMPARE(rt::DecimalText(0), QStringLiteral("0"));
    }
};

QTEST_GUILESS_MAIN(TstRuntime)
#include "tst_runtime.moc"
