#pragma once
// frmMain: the program's one window. It owns every element, the serial control and the
// window variables; the handlers are its members, defined beside the subsystem they
// belong to (serial/ the port handlers, modbus/ the send steps and the receiver,
// operations/ the commands).

#include "controlarray.h"
#include "dropdownlist.h"
#include "messagebox.h"
#include "modbus/frame.h"
#include "serial/commset.h"
#include "windowvariables.h"

#include <QColor>
#include <QPointer>
#include <QWidget>

#include <optional>

class DrawnLine;
class FindModuleDialog;
class MSComm;
class QFrame;
class QGroupBox;
class QLabel;
class QAction;
class QContextMenuEvent;
class QKeySequence;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class Recorder;
struct SearchResult;

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
    // "开始记录…" asks for a file and starts recording; "停止记录" stops.
    void Record_Click();
    // Records into `path` from now on (appending); a file that cannot be written is
    // reported and leaves the recording off.
    bool StartRecording(const QString &path);
    void StopRecording();
    bool Recording() const;
    // "查找模块…": the search in a window of its own, the window's port closed meanwhile.
    void FindModule_Click();
    // "使用此设置": the found port and rate selected and saved, the address filled in.
    void UseFoundModule(const SearchResult &result);
    // "趋势图…": the trend window, one for the window's lifetime.
    void mnuTrend_Click();

    // The CRC-16 of cmdstring(0) to cmdstring(j) into HiByte (low 8 bits, sent first) and
    // LoByte (high 8 bits, sent second). Bytes beyond the array are not covered.
    void Crc16(std::span<const std::uint8_t> cmdstring, std::int16_t j);

    // Every message goes through here: serial events wait while a box is open.
    void MsgBox(const QString &text, MsgIcon icon = MsgIcon::None, const QString &title = {});
    MessageBoxService &messages() { return messages_; }
    // The status image now in front of the other two.
    QLabel *FrontLamp() const;

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

    // The right-click menu of the tools that open in windows of their own.
    QMenu *ToolsMenu;

signals:
    // A measurement reply was decoded into the window. request: the bytes of the query it
    // answers; shown: the value as the window now shows it, in the first box the reply
    // filled (txtValue(0), the visible one, for start addresses 0 and 1). The recorder and
    // the trend follow these.
    void ReadingDecoded(const QByteArray &request, const QByteArray &reply, const QString &shown);
    // The module confirmed a parameter write or an address change; what: a line that says
    // what was written.
    void WriteConfirmed(const QString &what);

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;

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
    void buildToolsMenu();
    // Adds a tool to the menu; its shortcut works anywhere in the window.
    QAction *AddTool(const QString &text, const QKeySequence &keys, void (frmMain::*handler)());
    void PortStartup(const CommSetContent &saved);
    bool TakeChosenPort();
    void OpenChosenPort();

    std::optional<QString> Query();
    void PollOnce();

    // Steps of the send procedure every command follows.
    void PrepareSerialControl();
    void SealRequest(modbus::RequestFrame &frame);
    void ShowLamp(QLabel *lamp);
    bool PortFoundOpen();
    // Every command sends through one of these two, which seal the frame with its CRC.
    void SendRead(modbus::RequestFrame frame, std::int16_t cmdType);
    // writes: what a write changes, for the recording's mark once the module confirms it.
    void SendWrite(modbus::RequestFrame frame, std::int16_t replyLen, const QString &writes = {});
    // The decoders: what a reply shows, by the pending operation.
    void ShowMeasuredValues(const QByteArray &reply);
    void ShowParameter(const QByteArray &reply);
    void ShowAddress(const QByteArray &reply);
    // A write's echo that repeats its request tells WriteConfirmed, once.
    void ConfirmWrite(const QByteArray &reply);
    void ShowRecordingState();

    // Back to how the port and polling were before the search, unless its result was taken.
    void EndFindModule();

    SettingsPlace place_;
    MessageBoxService messages_;
    // The search's window while it is open, and what it closed.
    QPointer<FindModuleDialog> findDialog_;
    struct BeforeSearch {
        bool portOpen = false;
        bool polling = false;
        QLabel *lamp = nullptr;
        bool resultTaken = false;
    } beforeSearch_;
    // The field error the cyclic query last told; ticks that find it again stay silent.
    QString toldFieldError_;
    // The bytes of the last request sent, and what it writes while its echo is awaited.
    QByteArray lastRequest_;
    QString writeLabel_;
    Recorder *recorder_ = nullptr;
    QAction *recordAction_ = nullptr;
};
