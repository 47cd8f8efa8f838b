// What the technician typed into the line calibration's fields, checked, and kept.

#include "linecalibrationwindow.h"

#include "app/frmMain.h"
#include "extras/toolwindow.h"
#include "serial/mscomm.h"

#include <QLineEdit>
#include <QLocale>

#include <cmath>

using namespace calibration;

void LineCalibrationWindow::Remember(bool save) {
    QSettings settings = toolwindow::UserSettings(QStringLiteral("calibration"));
    const std::pair<QLineEdit *, const char16_t *> kept[] = {
        {operatorBox, u"operator"},
        {instrumentBox, u"instrument"},
        {instrumentCertificateBox, u"certificate"},
        {dueBox, u"instrumentDue"},
        {uncertaintyBox, u"instrumentUncertainty"},
        {numberBox, u"nextCertificateNumber"}};
    for (auto [box, key] : kept) {
        if (save)
            settings.setValue(QString::fromUtf16(key), box->text().trimmed());
        else if (const QVariant value = settings.value(QString::fromUtf16(key)); value.isValid())
            box->setText(value.toString());
    }
}

std::optional<double> LineCalibrationWindow::Reference() {
    const auto reference = ReferenceIn(referenceBox->text());
    if (!reference) {
        Tell(ReferenceRule());
        referenceBox->setFocus();
    }
    return reference;
}

std::optional<LineSetup> LineCalibrationWindow::Setup() {
    const auto wrong = [this](QLineEdit *box, const QString &why) {
        Tell(why);
        box->setFocus();
        return std::nullopt;
    };
    const QLocale c = QLocale::c();
    bool ok = false;
    LineSetup s;
    const auto tolerance = ToleranceIn(toleranceBox->text());
    if (!tolerance)
        return wrong(toleranceBox, ToleranceRule());
    const auto seconds = SecondsIn(secondsBox->text());
    if (!seconds)
        return wrong(secondsBox, SecondsRule());
    s.tolerance = *tolerance;
    s.seconds = *seconds;
    const QString due = dueBox->text().trimmed();
    s.instrumentDue = QDate::fromString(due, DateFormat());
    if (!due.isEmpty() && !s.instrumentDue.isValid())
        return wrong(dueBox, QStringLiteral("参考仪器有效期应为日期，如 2027-06-30。"));
    s.referenceUPercent = c.toDouble(uncertaintyBox->text().trimmed(), &ok);
    if (!ok || !(s.referenceUPercent >= 0 && s.referenceUPercent < 100))
        return wrong(uncertaintyBox,
                     QStringLiteral("参考仪器扩展不确定度(%)应为 0 到 100 之间的数字（k = 2）。"));
    if (!NextCertificateNumber(numberBox->text().trimmed()))
        return wrong(numberBox, QStringLiteral("证书编号应以数字结尾，如 LC-2026-0001。"));
    s.port = QStringLiteral("COM%1").arg(window_.MSComm1->commPort());
    s.rate = QString::number(WindowRate());
    s.operatorName = operatorBox->text().trimmed();
    s.instrument = instrumentBox->text().trimmed();
    s.instrumentCertificate = instrumentCertificateBox->text().trimmed();
    s.temperature = temperatureBox->text().trimmed();
    s.humidity = humidityBox->text().trimmed();
    // One step of the reading as the window shows it.
    s.resolution = std::pow(10.0, -modbus::ShownDecimals(modbus::Reading{}));
    return s;
}
