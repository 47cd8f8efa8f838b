#include "calibrationwindow.h"

#include "app/frmMain.h"
#include "calibrationflow.h"
#include "extras/toolwindow.h"
#include "serial/mscomm.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kRefreshMs = 1000;

} // namespace

CalibrationWindow::CalibrationWindow(frmMain &window)
    : QWidget(&window, Qt::Window), window_(window), flow_(new CalibrationFlow(window, this)) {
    toolwindow::Prepare(*this, QStringLiteral("CalibrationWindow"), QStringLiteral("校准"));
    const auto add = [this](QFormLayout *form, const QString &caption, bool readOnly) {
        const auto [label, box] = toolwindow::LabelledBox(this, caption, readOnly);
        form->addRow(label, box);
        return box;
    };
    auto *fields = new QGroupBox(QStringLiteral("参考与记录"), this);
    auto *form = new QFormLayout(fields);
    reference_ = add(form, QStringLiteral("参考值(&R)"), false);
    tolerance_ = add(form, QStringLiteral("允许误差(%)(&T)"), false);
    seconds_ = add(form, QStringLiteral("测量时间(s)(&M)"), false);
    operator_ = add(form, QStringLiteral("操作员(&O)"), false);
    instrument_ = add(form, QStringLiteral("参考仪器(&I)"), false);
    certificateNo_ = add(form, QStringLiteral("参考仪器证书编号(&N)"), false);
    tolerance_->setText(QStringLiteral("2"));
    seconds_->setText(QStringLiteral("10"));
    reference_->setToolTip(QStringLiteral("参考仪器的读数，与模块同一单位"));

    // The figures it shows, read-only.
    auto *now = new QGroupBox(QStringLiteral("当前测量"), this);
    auto *nowForm = new QFormLayout(now);
    count_ = add(nowForm, QStringLiteral("读数个数"), true);
    mean_ = add(nowForm, QStringLiteral("平均值"), true);
    deviation_ = add(nowForm, QStringLiteral("标准差"), true);
    drift_ = add(nowForm, QStringLiteral("漂移(/分钟)"), true);
    stability_ = add(nowForm, QStringLiteral("稳定性"), true);
    stability_->setToolTip(QStringLiteral(
        "至少 5 个读数，且标准差与整个测量时间内的漂移均不超过允许误差带的四分之一时为稳定"));
    auto *result = new QGroupBox(QStringLiteral("结果"), this);
    auto *resultForm = new QFormLayout(result);
    foundCoefficient_ = add(resultForm, QStringLiteral("原系数"), true);
    foundError_ = add(resultForm, QStringLiteral("调整前误差"), true);
    newCoefficient_ = add(resultForm, QStringLiteral("新系数"), true);
    leftError_ = add(resultForm, QStringLiteral("调整后误差"), true);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    status_->setFocusPolicy(Qt::TabFocus); // reached by Tab, so a screen reader reads it
    status_->setAccessibleDescription(QStringLiteral("校准状态"));
    status_->setMinimumHeight(status_->fontMetrics().height() * 4);
    status_->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    const std::pair<QPushButton **, const char16_t *> named[] = {
        {&start_, u"开始测量"},   {&write_, u"写入新系数"},      {&again_, u"再调整一次"},
        {&restore_, u"恢复原值"}, {&certificate_, u"保存证书…"}, {&close_, u"关闭"}};
    auto *buttons = new QGridLayout;
    int at = 0;
    for (auto [button, text] : named) {
        *button = toolwindow::Button(this, QString::fromUtf16(text));
        buttons->addWidget(*button, at / 3, at % 3); // two rows of three
        ++at;
    }

    auto *columns = new QHBoxLayout;
    auto *right = new QVBoxLayout;
    right->addWidget(now);
    right->addWidget(result);
    columns->addWidget(fields);
    columns->addLayout(right);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(status_);
    layout->addLayout(buttons);

    connect(start_, &QPushButton::clicked, this, &CalibrationWindow::StartMeasuring);
    for (QPushButton *write : {write_, again_})
        connect(write, &QPushButton::clicked, this, [this] {
            if (LineFree())
                flow_->WriteProposal();
        });
    connect(restore_, &QPushButton::clicked, this, [this] {
        if (LineFree())
            flow_->RestoreOriginal();
    });
    connect(certificate_, &QPushButton::clicked, this, &CalibrationWindow::ChooseCertificateFile);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    // At 20 readings a second, redrawing the figures for each would cost more than the
    // polling itself; once a second still shows them settle.
    refresh_ = new QTimer(this);
    refresh_->setSingleShot(true);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, [this] {
        if (flow_->Busy())
            ShowProgress(flow_->Samples());
    });
    connect(flow_, &CalibrationFlow::Progress, refresh_, [this] {
        if (!refresh_->isActive())
            refresh_->start();
    });
    connect(flow_, &CalibrationFlow::Measured, this, &CalibrationWindow::ShowProgress);
    connect(flow_, &CalibrationFlow::Changed, this, &CalibrationWindow::ShowFlow);
    connect(flow_, &CalibrationFlow::Failed, this, [this](const QString &text) {
        window_.MsgBox(text, MsgIcon::Warning, QStringLiteral("校准"));
    });

    SetAsker([this](const QString &question) {
        return QMessageBox::question(this, QStringLiteral("校准"), question) == QMessageBox::Yes;
    });
    Remember(false);
    ShowFlow();
    status_->setText(QStringLiteral("输入参考仪器的读数，然后按“开始测量”。"));
}

// The flow, a child, outlives this part of the window: what it says while it goes (the log
// row of a calibration cut short) is for nobody.
CalibrationWindow::~CalibrationWindow() {
    flow_->disconnect(this);
}

CalibrationWindow *CalibrationWindow::Open(frmMain &window) {
    return toolwindow::ShowOne<CalibrationWindow>(
        window, [&window] { return new CalibrationWindow(window); });
}

void CalibrationWindow::Remember(bool save) const {
    QSettings settings = toolwindow::UserSettings(QStringLiteral("calibration"));
    const std::pair<QLineEdit *, const char16_t *> kept[] = {
        {operator_, u"operator"}, {instrument_, u"instrument"}, {certificateNo_, u"certificate"}};
    for (auto [box, key] : kept) {
        if (save)
            settings.setValue(QString::fromUtf16(key), box->text().trimmed());
        else
            box->setText(settings.value(QString::fromUtf16(key)).toString());
    }
}

std::optional<calibration::Record> CalibrationWindow::Setup() {
    const auto wrong = [this](QLineEdit *box, const QString &why) {
        Tell(why);
        box->setFocus();
        return std::nullopt;
    };
    calibration::Record r;
    const auto reference = calibration::ReferenceIn(reference_->text());
    if (!reference)
        return wrong(reference_, calibration::ReferenceRule());
    r.reference = *reference;
    const auto tolerance = calibration::ToleranceIn(tolerance_->text());
    if (!tolerance)
        return wrong(tolerance_, calibration::ToleranceRule());
    const auto seconds = calibration::SecondsIn(seconds_->text());
    if (!seconds)
        return wrong(seconds_, calibration::SecondsRule());
    r.tolerance = *tolerance;
    r.seconds = *seconds;
    r.port = QStringLiteral("COM%1").arg(window_.MSComm1->commPort());
    r.rate = window_.MSComm1->settings().section(u',', 0, 0);
    r.device = window_.txtStationID->text().trimmed();
    r.operatorName = operator_->text().trimmed();
    r.instrument = instrument_->text().trimmed();
    r.certificate = certificateNo_->text().trimmed();
    return r;
}

bool CalibrationWindow::LineFree() {
    const auto refusal = flow_->Refusal();
    if (refusal)
        Tell(*refusal);
    return !refusal;
}

void CalibrationWindow::StartMeasuring() {
    if (flow_->Busy())
        return;
    auto setup = Setup();
    if (!setup || !LineFree())
        return;
    Remember(true);
    for (QLineEdit *box : {count_, mean_, deviation_, drift_, stability_})
        box->clear();
    flow_->Start(std::move(*setup));
}

bool CalibrationWindow::SaveCertificate(const QString &path) {
    if (const auto why = calibration::WriteCertificate(path, flow_->Last())) {
        Tell(QStringLiteral("无法保存证书 %1：%2").arg(QDir::toNativeSeparators(path), *why));
        return false;
    }
    return true;
}

void CalibrationWindow::ChooseCertificateFile() {
    const QString proposed = QDir(flow_->LogFolder())
                                 .filePath(flow_->Last().started.toString(
                                     QStringLiteral("'校准证书-'yyyyMMdd-HHmmss'.pdf'")));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("保存证书"), proposed,
                                                      QStringLiteral("PDF 文件 (*.pdf)"));
    if (!path.isEmpty())
        SaveCertificate(path);
}

void CalibrationWindow::ShowProgress(const std::vector<calibration::Sample> &samples) {
    const auto stats = calibration::StatsOf(samples);
    if (!stats)
        return;
    using toolwindow::ShowText;
    const QLocale c = QLocale::c();
    const calibration::Record &r = flow_->Last();
    ShowText(count_, QString::number(stats->count));
    ShowText(mean_, c.toString(stats->mean, 'f', 3));
    ShowText(deviation_, c.toString(stats->deviation, 'f', 3));
    ShowText(drift_, c.toString(stats->slopePerMinute, 'f', 3));
    ShowText(stability_, calibration::IsStable(*stats, r.tolerance, r.seconds)
                             ? QStringLiteral("稳定")
                             : QStringLiteral("不稳定"));
}

void CalibrationWindow::ShowFlow() {
    using toolwindow::ShowText;
    const calibration::Record &r = flow_->Last();
    const auto percent = [](const std::optional<double> &error) {
        return error ? calibration::PercentText(*error) : QString();
    };
    ShowText(foundCoefficient_, r.asFound.coefficient
                                    ? calibration::CoefficientText(*r.asFound.coefficient)
                                    : QString());
    ShowText(foundError_, percent(r.asFound.errorPercent));
    ShowText(newCoefficient_, flow_->ProposedText());
    ShowText(leftError_, percent(r.asLeft.errorPercent));
    status_->setText(flow_->Status());
    const bool busy = flow_->Busy();
    start_->setEnabled(!busy);
    write_->setEnabled(!busy && flow_->CanWrite());
    again_->setEnabled(!busy && flow_->CanAdjustAgain());
    restore_->setEnabled(!busy && flow_->CanRestore());
    certificate_->setEnabled(!busy && flow_->Recorded());
    for (QLineEdit *field : {reference_, tolerance_, seconds_})
        field->setEnabled(!busy);
}

QString CalibrationWindow::Status() const {
    return status_->text();
}

void CalibrationWindow::Tell(const QString &text) {
    status_->setText(text);
    window_.MsgBox(text, MsgIcon::Warning, QStringLiteral("校准"));
}

void CalibrationWindow::closeEvent(QCloseEvent *event) {
    flow_->Interrupt();
    QWidget::closeEvent(event);
}
