#pragma once
// The base of every skinned window: it builds its controls from its skin file, turns input into
// notifications ("click", "timer", "itemclick", "itemselect", "selectchanged", "valuechanged"),
// runs per-control timers, offers each key press, left-button press, system command and posted
// platform message to the window's pre-message filter first, and moves and resizes the frameless
// window by its caption and border. When its window is gone, OnFinalMessage runs last.

#include "platform/message.h"
#include "skinui/skin_controls.h"
#include "skinui/skin_scroll_bar.h"

#include <QFont>
#include <QMap>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <map>
#include <memory>
#include <utility>
#include <vector>

class QTimer;
struct SkinNode;

struct TNotifyUI {
    QString sType;
    CControlUI* pSender = nullptr;
    int wParam = 0;
    int lParam = 0;
    QPoint ptMouse;  // in the window's client coordinates
};

inline constexpr std::uint32_t WM_KEYDOWN = 0x0100;
inline constexpr std::uint32_t WM_LBUTTONDOWN = 0x0201;

// One message offered to the pre-message filter.
struct WindowMessage {
    std::uint32_t id = 0;
    std::uintptr_t wParam = 0;  // the key, the system command, or the posted value
    Qt::KeyboardModifiers modifiers;
    QPoint point;                               // left-button presses, in client coordinates
    const platform::Message* posted = nullptr;  // messages of the platform message layer
};

// Window flags in the style of the platform's window styles.
enum WindowFlag : unsigned {
    kWindowPopup = 1u << 0,  // a tool-like window owned by another
    kWindowVisible = 1u << 1,
};

class WindowImplBase : public QWidget {
    Q_OBJECT
public:
    WindowImplBase();
    ~WindowImplBase() override;

    virtual QString GetWindowClassName() const = 0;
    virtual QString GetSkinFile() const = 0;
    // Controls of classes the framework does not know.
    virtual CControlUI* CreateControl(const QString& className);
    // After the controls are built, before the window shows.
    virtual void InitWindow() {}
    virtual void Notify(TNotifyUI& msg);
    virtual void OnClick(TNotifyUI&) {}
    // The pre-message filter: true when the message was handled and must go no further.
    virtual bool MessageHandler(const WindowMessage&) { return false; }
    // The window is gone; the object may delete itself here (nothing touches it afterwards).
    virtual void OnFinalMessage() {}

    // Builds the window from its skin. Zero width or height take the skin's size.
    bool Create(QWidget* owner, unsigned flags, int x, int y, int width, int height);
    void CenterWindow();
    void ShowWindow(bool show = true);
    // Closes the window later, from the event loop; the code is kept for the caller.
    void Close(int code = 0);
    int CloseCode() const { return closeCode_; }
    void SetIcon(const QIcon& icon) { setWindowIcon(icon); }
    platform::WindowHandle Handle() const { return handle_; }

    CControlUI* FindControl(const QString& name) const;
    template <class T>
    T* Find(const QString& name) const {
        return qobject_cast<T*>(FindControl(name));
    }
    // The innermost control under a point of the client area.
    CControlUI* FindControlAt(QPoint point) const;
    CControlUI* Root() const { return root_; }

    // Per-control timers: each tick arrives as "timer" from the control, wParam the timer id.
    void SetTimer(CControlUI* control, int id, int milliseconds);
    void KillTimer(CControlUI* control, int id);
    void KillTimer(CControlUI* control);
    bool HasTimer(CControlUI* control, int id) const;

    QFont Font(int index) const;
    std::vector<class COptionUI*> OptionGroup(const QString& group) const;
    void SendNotify(CControlUI* sender, const QString& type, int wParam = 0, int lParam = 0,
                    QPoint point = {});

    QMargins CaptionRect() const { return caption_; }
    QMargins SizeBox() const { return sizeBox_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    class Receiver;
    void ApplyWindowAttributes(const SkinNode& window);
    void ApplyScrollBarDefaults(const SkinNode& node);
    CControlUI* Build(const SkinNode& node, QWidget* parent);
    void Destroy();
    bool Filter(const WindowMessage& message);
    // Default handling of a system command after the filter let it pass.
    void SystemCommand(std::uintptr_t command);
    bool StartFrameDrag(QPoint point);

    CControlUI* root_ = nullptr;
    QPointer<QWidget> owner_;
    std::unique_ptr<Receiver> receiver_;
    platform::WindowHandle handle_ = platform::WindowHandle::Null;
    std::map<std::pair<CControlUI*, int>, QTimer*> timers_;
    QMap<int, QFont> fonts_;
    QFont defaultFont_;
    QMargins caption_;
    QMargins sizeBox_;
    QSize roundCorner_;
    QColor bkColor_;
    // Outlives the scroll bars that use it: they go with root_ in the destructor's body.
    std::unique_ptr<CScrollBarStyle> scrollBarStyle_;
    int closeCode_ = 0;
    bool destroyed_ = false;
    bool closing_ = false;
};
