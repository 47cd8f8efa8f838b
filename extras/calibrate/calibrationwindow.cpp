#include "calibrationwindow.h"

#include "app/frmMain.h"
#include "calibrationsession.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
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
#include <QShortcut>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

// The user's settings, where the program keeps them: ~/.config/sensor-companion/ on Linux.
QSettings UserSettings() {
    return QSettings(QCoreApplication::applicationName().isEmpty()
                         ? QStringLiteral("sensor-companion")
                         : QCoreApplication::applicationName(),
                     QStringLiteral("calibration"));
}

constexpr int kRefreshMs = 1000;

const char16_t *const kRemembered[] = {u"operator", u"instrument", u"certificate"};

} // namespace

CalibrationWindow::CalibrationWindow(frmMain &window)
    : QWidget(&window, Qt::Window), window_(window), session_(new CalibrationSession(window, this)),
      asker_([this](const QString &question) {
          return QMessageBox::question(this, QStringLiteral("校准"), question) == QMessageBox::Yes;
      }),
      logFolder_(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)) {
    setObjectName(QStringLiteral("CalibrationWindow"));
    setWindowTitle(QStringLiteral("校准"));
    setAccessibleName(QStringLiteral("校准"));

    auto *fields = new QGroupBox(QStringLiteral("参考与记录"), this);
    auto *form = new QFormLayout(fields);
    reference_ = AddField(form, QStringLiteral("参考值(&R)"), QStringLiteral("参考值"));
    tolerance_ = AddField(form, QStringLiteral("允许误差(%)(&T)"), QStringLiteral("允许误差(%)"));
    seconds_ = AddField(form, QStringLiteral("测量时间(s)(&M)"), QStringLiteral("测量时间(s)"));
    operator_ = AddField(form, QStringLiteral("操作员(&O)"), QStringLiteral("操作员"));
    instrument_ = AddField(form, QStringLiteral("参考仪器(&I)"), QStringLiteral("参考仪器"));
    certificateNo_ =
        AddField(form, QStringLiteral("参考仪器证书编号(&N)"), QStringLiteral("参考仪器证书编号"));
    tolerance_->setText(QStringLiteral("2"));
    seconds_->setText(QStringLiteral("10"));
    reference_->setToolTip(QStringLiteral("参考仪器的读数，与模块同一单位"));

    auto *now = new QGroupBox(QStringLiteral("当前测量"), this);
    auto *nowForm = new QFormLayout(now);
    count_ = AddField(nowForm, QStringLiteral("读数个数"), QStringLiteral("读数个数"), true);
    mean_ = AddField(nowForm, QStringLiteral("平均值"), QStringLiteral("平均值"), true);
    deviation_ = AddField(nowForm, QStringLiteral("标准差"), QStringLiteral("标准差"), true);
    drift_ = AddField(nowForm, QStringLiteral("漂移(/分钟)"), QStringLiteral("漂移(/分钟)"), true);
    stability_ = AddField(nowForm, QStringLiteral("稳定性"), QStringLiteral("稳定性"), true);
    stability_->setToolTip(QStringLiteral(
        "至少 5 个读数，且标准差与整个测量时间内的漂移均不超过允许误差带的四分之一时为稳定"));

    auto *result = new QGroupBox(QStringLiteral("结果"), this);
    auto *resultForm = new QFormLayout(result);
    foundCoefficient_ =
        AddField(resultForm, QStringLiteral("原系数"), QStringLiteral("原系数"), true);
    foundError_ =
        AddField(resultForm, QStringLiteral("调整前误差"), QStringLiteral("调整前误差"), true);
    newCoefficient_ =
        AddField(resultForm, QStringLiteral("新系数"), QStringLiteral("新系数"), true);
    leftError_ =
        AddField(resultForm, QStringLiteral("调整后误差"), QStringLiteral("调整后误差"), true);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    status_->setFocusPolicy(Qt::TabFocus); // reached by Tab, so a screen reader reads it
    status_->setAccessibleDescription(QStringLiteral("校准状态"));
    status_->setMinimumHeight(status_->fontMetrics().height() * 4);
    status_->setAlignment(Qt::AlignTop | Qt::AlignLeft);

    const auto button = [this](const QString &text) {
        auto *b = new QPushButton(text, this);
        b->setAccessibleName(QString(text).remove(QStringLiteral("&")));
        return b;
    };
    start_ = button(QStringLiteral("开始测量"));
    write_ = button(QStringLiteral("写入新系数"));
    again_ = button(QStringLiteral("再调整一次"));
    restore_ = button(QStringLiteral("恢复原值"));
    certificate_ = button(QStringLiteral("保存证书…"));
    close_ = button(QStringLiteral("关闭"));

    auto *buttons = new QGridLayout;
    buttons->addWidget(start_, 0, 0);
    buttons->addWidget(write_, 0, 1);
    buttons->addWidget(again_, 0, 2);
    buttons->addWidget(restore_, 1, 0);
    buttons->addWidget(certificate_, 1, 1);
    buttons->addWidget(close_, 1, 2);

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
    connect(write_, &QPushButton::clicked, this, &CalibrationWindow::WriteProposal);
    connect(again_, &QPushButton::clicked, this, &CalibrationWindow::WriteProposal);
    connect(restore_, &QPushButton::clicked, this, &CalibrationWindow::RestoreOriginal);
    connect(certificate_, &QPushButton::clicked, this, &CalibrationWindow::ChooseCertificateFile);
    connect(close_, &QPushButton::clicked, this, &QWidget::close);
    // At 20 readings a second, redrawing the figures for each would cost more than the
    // polling itself; once a second still shows them settle.
    refresh_ = new QTimer(this);
    refresh_->setSingleShot(true);
    refresh_->setInterval(kRefreshMs);
    connect(refresh_, &QTimer::timeout, this, [this] {
        if (session_->Busy())
            ShowProgress(session_->Samples());
    });
    connect(session_, &CalibrationSession::Progress, refresh_, [this] {
        if (!refresh_->isActive())
            refresh_->start();
    });
    connect(session_, &CalibrationSession::Failed, this, &CalibrationWindow::Failed);
    connect(session_, &CalibrationSession::WriteSent, this, [this](std::uint16_t value) {
        record_.writes.push_back(
            {QDateTime::currentDateTime(),
             QStringLiteral("量程缩放系数 ") + calibration::CoefficientText(value), false});
    });
    auto *escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    LoadSettings();
    ShowStatus(QStringLiteral("输入参考仪器的读数，然后按“开始测量”。"));
    ShowButtons();
}

CalibrationWindow::~CalibrationWindow() {
    // The program ends with the assistant in the middle: its calibration is still logged.
    if (open_)
        Close(QStringLiteral("程序结束，校准未完成。") + calibration::LastWriteText(record_),
              false);
}

QLineEdit *CalibrationWindow::AddField(QFormLayout *form, const QString &caption,
                                       const QString &name, bool readOnly) {
    auto *box = new QLineEdit(this);
    box->setAccessibleName(name);
    box->setReadOnly(readOnly);
    auto *label = new QLabel(caption + u':', this);
    label->setBuddy(box);
    form->addRow(label, box);
    return box;
}

CalibrationWindow *CalibrationWindow::Open(frmMain &window) {
    auto *assistant = window.findChild<CalibrationWindow *>(QString(), Qt::FindDirectChildrenOnly);
    if (!assistant)
        assistant = new CalibrationWindow(window);
    assistant->show();
    assistant->raise();
    assistant->activateWindow();
    return assistant;
}

void CalibrationWindow::LoadSettings() {
    QSettings settings = UserSettings();
    QLineEdit *boxes[] = {operator_, instrument_, certificateNo_};
    for (int i = 0; i < 3; ++i)
        boxes[i]->setText(settings.value(QString::fromUtf16(kRemembered[i])).toString());
}

void CalibrationWindow::SaveSettings() const {
    QSettings settings = UserSettings();
    const QLineEdit *boxes[] = {operator_, instrument_, certificateNo_};
    for (int i = 0; i < 3; ++i)
        settings.setValue(QString::fromUtf16(kRemembered[i]), boxes[i]->text().trimmed());
}

bool CalibrationWindow::ReadFields() {
    const QLocale c = QLocale::c();
    bool ok = false;
    const double reference = c.toDouble(reference_->text().trimmed(), &ok);
    if (!ok || !std::isfinite(reference) || reference <= 0) {
        Tell(QStringLiteral("参考值应为大于 0 的数字。"));
        reference_->setFocus();
        return false;
    }
    const double tolerance = c.toDouble(tolerance_->text().trimmed(), &ok);
    if (!ok || !(tolerance > 0 && tolerance <= 100)) {
        Tell(QStringLiteral("允许误差(%)应为大于 0 且不超过 100 的数字。"));
        tolerance_->setFocus();
        return false;
    }
    const int seconds = c.toInt(seconds_->text().trimmed(), &ok);
    if (!ok || seconds < 1 || seconds > 3600) {
        Tell(QStringLiteral("测量时间(s)应为 1 到 3600 之间的整数。"));
        seconds_->setFocus();
        return false;
    }
    referenceValue_ = reference;
    toleranceValue_ = tolerance;
    secondsValue_ = seconds;
    return true;
}

void CalibrationWindow::ShowProgress(const std::vector<calibration::Sample> &samples) {
    const auto stats = calibration::StatsOf(samples);
    if (!stats)
        return;
    const QLocale c = QLocale::c();
    ShowText(count_, QString::number(stats->count));
    ShowText(mean_, c.toString(stats->mean, 'f', 3));
    ShowText(deviation_, c.toString(stats->deviation, 'f', 3));
    ShowText(drift_, c.toString(stats->slopePerMinute, 'f', 3));
    ShowText(stability_, calibration::IsStable(*stats, toleranceValue_, secondsValue_)
                             ? QStringLiteral("稳定")
                             : QStringLiteral("不稳定"));
}

// Only a changed text is set: setting a line edit repaints it.
void CalibrationWindow::ShowText(QLineEdit *box, const QString &text) {
    if (box->text() != text)
        box->setText(text);
}

void CalibrationWindow::ShowStatus(const QString &text) {
    status_->setText(text);
}

QString CalibrationWindow::Status() const {
    return status_->text();
}

bool CalibrationWindow::Busy() const {
    return session_->Busy();
}

void CalibrationWindow::ShowButtons() {
    const bool busy = session_->Busy();
    start_->setEnabled(!busy);
    write_->setEnabled(!busy && proposal_ && !canAdjustAgain_);
    again_->setEnabled(!busy && proposal_ && canAdjustAgain_);
    restore_->setEnabled(!busy && canRestore_);
    certificate_->setEnabled(!busy && recorded_);
    for (QLineEdit *field : {reference_, tolerance_, seconds_})
        field->setEnabled(!busy);
}

void CalibrationWindow::Tell(const QString &text) {
    ShowStatus(text);
    window_.MsgBox(text, MsgIcon::Warning, QStringLiteral("校准"));
}

QString CalibrationWindow::LogPath() const {
    return QDir(logFolder_).filePath(QStringLiteral("校准记录.csv"));
}

void CalibrationWindow::closeEvent(QCloseEvent *event) {
    if (session_->Busy()) {
        session_->Stop(); // its polling stops, the window's frames come back
        ShowStatus(QStringLiteral("校准已中断。") + calibration::LastWriteText(record_));
        ShowButtons();
    }
    if (open_)
        Close(QStringLiteral("窗口关闭，校准未完成。") + calibration::LastWriteText(record_),
              record_.passed);
    QWidget::closeEvent(event);
}
