#pragma once
// frmMain: the program's one window. It owns every element, the serial control and the
// window variables; the handlers are its members, defined beside the subsystem they
// belong to (serial/ the port handlers, modbus/ the send steps and the receiver,
// operations/ the commands).

#include "controlarray.h"
#include "dropdownlist.h"
#include "messagebox.h"
#include "modbus/frame.h"
#include "modbus/reading.h"
#include "serial/commset.h"
#include "windowvariables.h"

#include <QColor>
#include <QWidget>

#include <optional>

class DrawnLine;
class LineLease;
class MSComm;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QTimer;

// The window's light grey, shared by its frames, labels and picture boxes.
inline const QColor kWindowGrey(224, 224, 224);

class frmMain : public QWidget, public WindowVariables {
    Q_OBJECT
public:
    // place: where comm.set and the COMn links are kept.
    explicit frmMain(SettingsPlace place, QWidget *parent = nullptr);
    ~frmMain() override;

    // Handlers.
    void Form_Load();
    void Combo1_Click();
    void cmdCom_Click();
    void OpenOnComm();
    void MSComm1_OnComm();
    void comDoOnce_Click();
    void cmdOneM_Click();
    void Timer2_Timer();
    void cmdStopOnce_Click();
    void cmdREAD_Click(std::int16_t Index);
    void cmdSet_Click(std::int16_t Index);
    void cmdReadAdd_Click();
    void cmdChangeID_Click();

    // The CRC-16 of cmdstring(0) to cmdstring(j) into HiByte (low 8 bits, sent first) and
    // LoByte (high 8 bits, sent second). Bytes beyond the array are not covered.
    void Crc16(std::span<const std::uint8_t> cmdstring, std::int16_t j);

    // Every message goes through here: serial events wait while a box is open.
    void MsgBox(const QString &text, MsgIcon icon = MsgIcon::None, const QString &title = {});
    MessageBoxService &messages() { return messages_; }
    // The status image now in front of the other two, and bringing one to the front.
    QLabel *FrontLamp() const;
    void ShowLamp(QLabel *lamp);
    // Where comm.set and the COMn links are kept.
    const SettingsPlace &Place() const { return place_; }

    // The window's commands in numbers. The buttons parse their boxes and call these, and
    // the tools call them directly; either way the request goes out as the button's would,
    // shown in the traffic boxes. A parameter n is read from register `reg` (its place is
    // the start address + 4 + n) and written to 0x0A04 + n.
    void QueryRegisters(std::uint8_t station, std::uint8_t function, std::uint8_t start,
                        std::uint8_t count);
    void ReadParameter(std::int16_t index, std::uint8_t station, std::uint8_t function,
                       std::uint8_t reg);
    void WriteParameter(std::int16_t index, std::uint8_t station, std::uint16_t value);
    void ChangeAddress(std::uint8_t from, std::uint8_t to);
    // The cyclic query of the window's Modbus fields, at `intervalMs`.
    void StartPolling(std::int32_t intervalMs);
    void StopPolling();
    // Port `port` (COMn) at `rate` chosen and saved as "保存设置" does, with its message,
    // and `address` put into the address boxes.
    void UseSettings(std::int16_t port, std::int32_t rate, std::uint8_t address);
    // The numbers the buttons would read from their boxes; nothing where a box does not
    // hold one.
    std::optional<std::uint8_t> StationAddress() const;
    std::optional<std::int32_t> PollInterval() const;

    // Lends the line to one tool at a time.
    LineLease *Lease;

    // Above the elements, which keep their places in Client; the tools fill its menus.
    QMenuBar *MenuBar;
    QMenu *ToolsMenu, *HelpMenu;
    QWidget *Client;

    // Frames and footer.
    QGroupBox *Frame10, *Frame2, *Frame5, *Frame6, *Frame7, *Frame12, *Frame11, *Frame1;
    QLabel *Label4;

    // "MODBUS设置"
    ControlArray<QLabel> Label8;
    QLineEdit *txtStationID, *txtFunID, *txtStartID, *txtDataLength;

    // "观察窗"
    QFrame *PictureShow;
    // "Unit" in the documented name, though each label is the caption of its channel too.
    ControlArray<QLabel> lblDanWei;
    ControlArray<QLineEdit> txtValue;

    // "数据查询操作"
    QLineEdit *txtTimerSet;
    // "单次", "循环", and "停止", which stops the cyclic query.
    QPushButton *comDoOnce, *cmdOneM, *cmdStopOnce;
    QTimer *Timer2;

    // "二次开发命令观察窗口"
    QLabel *Label1, *Label7;
    QLineEdit *txtCommand;
    QPlainTextEdit *txtState;

    // "串口设置"
    QLabel *Label3;
    ControlArray<QLabel> Label5;
    DropDownList *Combo1, *Combo2;
    QPushButton *cmdCom;
    MSComm *MSComm1;

    // "运行状态指示"
    QFrame *Picture2;
    QLabel *imgNotConnected, *ImgYellow, *imgConnected;
    QLabel *lblErrCounter, *lblCounter;
    DrawnLine *Line1;

    // "参数" and "设备地址修改操作"
    ControlArray<QLabel> lblsetValue, Label2;
    ControlArray<QLineEdit> txtsetValue, txtSetID;
    ControlArray<QPushButton> cmdREAD, cmdSet;
    QPushButton *cmdChangeID, *cmdReadAdd;

signals:
    // The bytes of each receive event, as the received-command box shows them: for a tool
    // that judges replies itself (CRC, address) while the window sends.
    void BytesReceived(const QByteArray &bytes);
    // A measurement reply was decoded into the window: its first filled box
    // (txtValue(0), the visible one, for start addresses 0 and 1) and its registers, and the
    // request it answers. The tools follow these rather than the window's texts.
    void ReadingDecoded(const modbus::Reading &reading);
    // The module confirmed a parameter write or an address change.
    void WriteConfirmed(const modbus::WriteChange &change);
    // A parameter read was decoded into its box (txtsetValue(index)): its register value.
    void ParameterDecoded(std::int16_t index, std::uint16_t value);

private:
    // The frames, one function each, in the order they sit on the window.
    void buildLayout();
    void buildModbusFields();
    void buildObservation();
    void buildPortSettings();
    void buildStatus();
    void buildParameters();
    void buildAddressChange();
    void buildQueryControls();
    void buildCommandWatch();
    void connectHandlers();
    void PortStartup(const CommSetContent &saved);
    bool TakeChosenPort();
    void OpenChosenPort();

    std::optional<QString> Query();
    void PollOnce();

    // Steps of the send procedure every command follows.
    void PrepareSerialControl();
    void SealRequest(modbus::RequestFrame &frame);
    bool PortFoundOpen();
    // Every command sends through one of these two, which seal the frame with its CRC.
    void SendRead(modbus::RequestFrame frame, std::int16_t cmdType);
    // writes: what a write changes, announced once the module confirms it.
    void SendWrite(modbus::RequestFrame frame, std::int16_t replyLen,
                   std::optional<modbus::WriteChange> writes = std::nullopt);
    // The decoders: what a reply shows, by the pending operation.
    void ShowMeasuredValues(const QByteArray &reply);
    void ShowParameter(const QByteArray &reply);
    void ShowAddress(const QByteArray &reply);
    // A write's echo that repeats its request tells WriteConfirmed, once.
    void ConfirmWrite(const QByteArray &reply);

    SettingsPlace place_;
    MessageBoxService messages_;
    // The field error the cyclic query last told; ticks that find it again stay silent.
    QString toldFieldError_;
    // The bytes of the last request sent, and what it writes while its echo is awaited.
    QByteArray lastRequest_;
    std::optional<modbus::WriteChange> pendingWrite_;
};
