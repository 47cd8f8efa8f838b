#pragma once
// Texts that name the program itself.

#include <QString>

namespace appinfo {

inline QString Title() {
    return QStringLiteral("传感器调试助手");
}
inline QString ContactLine() {
    return QStringLiteral("技术支持请联系设备供应商");
}
// The window caption: the program's title, a hyphen and the contact line.
inline QString Caption() {
    return Title() + QStringLiteral(" - ") + ContactLine();
}
inline QString Footer() {
    return QStringLiteral("如需技术支持或校准服务，请联系您的设备供应商。");
}

} // namespace appinfo
