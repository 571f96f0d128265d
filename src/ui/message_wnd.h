#pragma once
// The program's own non-modal message box: a title, a tip icon, a message and one or two buttons.
// Showing returns at once; the answer (1 OK, 2 cancel or close) comes through the callback. It may
// close itself after a countdown (without a callback) and delete itself when its window is gone.

#include "skinui/window_impl_base.h"

#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class CLabelUI;
class CTextUI;
class CButtonUI;

class CMessageWnd : public WindowImplBase {
    Q_OBJECT
public:
    using ResultCallback = std::function<void(int result, std::uintptr_t userData)>;

    // How long one countdown step lasts; tests shorten it.
    static int tickMilliseconds;

    CMessageWnd(bool autoDelete, int autoCloseSeconds);

    void SetButtons(const std::wstring& okText, const std::wstring& cancelText, bool showCancel);
    void SetMessageText(const std::wstring& text);
    // Creates, places and shows the box; returns at once. With auto-delete the caller must not
    // use the object afterwards.
    void ShowMessage(QWidget* owner, ResultCallback callback = nullptr, std::uintptr_t userData = 0);

    // Where a box of this size goes: centred on the owner (or, with none or a minimised one, on
    // the work area), then kept inside the work area.
    static QPoint Placement(QSize box, std::optional<QRect> owner, QRect workArea);

    QString GetWindowClassName() const override { return "CMessageWnd"; }
    QString GetSkinFile() const override { return "MessageWnd.xml"; }
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnClick(TNotifyUI& msg) override;
    void OnFinalMessage() override;

private:
    void Answer(int result);

    std::wstring title_ = L"提示";
    std::wstring message_;
    std::wstring okText_ = L"确定";
    std::wstring cancelText_ = L"取消";
    bool showCancel_ = true;
    ResultCallback callback_;
    std::uintptr_t userData_ = 0;
    bool autoDelete_;
    int countdown_;
    CLabelUI* title_label_ = nullptr;
    CButtonUI* close_ = nullptr;
    CTextUI* text_ = nullptr;
    CButtonUI* ok_ = nullptr;
    CButtonUI* cancel_ = nullptr;
};
