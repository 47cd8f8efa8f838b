// How a line calibration ends: its certificates and its log rows.

#include "linecalibration.h"

#include <QDir>
#include <QFileInfo>

using namespace calibration;

QString LineCalibration::CertificatePath(const QString &folder, const QString &number) {
    return QDir(folder).filePath(QStringLiteral("校准证书-%1.pdf").arg(number));
}

QString
LineCalibration::Numbered(QString number,
                          const std::function<void(std::size_t, const QString &)> &each) const {
    for (std::size_t i = 0; i < modules_.size(); ++i) {
        if (modules_[i].levels.empty())
            continue; // nothing measured, nothing to certify
        each(i, number);
        number = NextCertificateNumber(number).value_or(number);
    }
    return number;
}

QStringList LineCalibration::ExistingCertificates(const QString &folder,
                                                  const QString &number) const {
    QStringList existing;
    Numbered(number, [&](std::size_t, const QString &certificate) {
        if (const QString path = CertificatePath(folder, certificate); QFileInfo::exists(path))
            existing << QDir::toNativeSeparators(path);
    });
    return existing;
}

std::optional<QString> LineCalibration::Finish(const QString &folder, QString &number) {
    if (Busy() || !open_)
        return std::nullopt;
    QStringList failures;
    const QString next = Numbered(number, [&](std::size_t index, const QString &certificate) {
        ModuleRecord &module = modules_[index];
        module.certificateNumber = certificate;
        const QString path = CertificatePath(folder, certificate);
        if (const auto why = WriteLineCertificate(path, setup_, module))
            failures << QStringLiteral("%1：%2").arg(QDir::toNativeSeparators(path), *why);
    });
    if (!failures.isEmpty()) {
        // Nothing is logged yet, so no row names a certificate that is not there: the
        // calibration stays open for another folder, and the numbers are used again.
        for (ModuleRecord &module : modules_)
            module.certificateNumber.clear();
        failures << QStringLiteral("校准尚未结束，未写入记录：可另选文件夹再保存。");
        return failures.join(u'\n');
    }
    number = next;
    return GiveUp({});
}

std::optional<QString> LineCalibration::GiveUp(const QString &why) {
    if (!open_)
        return std::nullopt;
    open_ = false;
    if (!why.isEmpty())
        for (ModuleRecord &module : modules_)
            module.state = module.state.isEmpty() ? why : module.state + u'；' + why;
    QDir().mkpath(logFolder_);
    const auto failure = AppendLineToLog(LogPath(), setup_, modules_);
    if (failure)
        status_ = QStringLiteral("无法写入校准记录 %1：%2")
                      .arg(QDir::toNativeSeparators(LogPath()), *failure);
    emit Changed(); // nothing more may be pressed for it
    return failure;
}
