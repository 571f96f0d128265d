#include "ui/message_wnd.h"

#include "skinui/skin_controls.h"

#include <QGuiApplication>
#include <QScreen>

int CMessageWnd::tickMilliseconds = 1000;

CMessageWnd::CMessageWnd(bool autoDelete, int autoCloseSeconds)
    : autoDelete_(autoDelete), countdown_(autoCloseSeconds) {}

void CMessageWnd::SetButtons(const std::wstring& okText, const std::wstring& cancelText, bool showCancel) {
    okText_ = okText;
    cancelText_ = cancelText;
    showCancel_ = showCancel;
}

void CMessageWnd::SetMessageText(const std::wstring& text) {
    message_ = text;
}

QPoint CMessageWnd::Placement(QSize box, std::optional<QRect> owner, QRect work) {
    const QRect area = owner ? *owner : work;
    // Halves rounded towards zero, as integer division does.
    int x = (area.left() + area.left() + area.width()) / 2 - box.width() / 2;
    int y = (area.top() + area.top() + area.height()) / 2 - box.height() / 2;
    const int workRight = work.left() + work.width(), workBottom = work.top() + work.height();
    if (x < work.left())
        x = work.left();
    else if (x + box.width() > workRight)
        x = workRight - box.width();
    if (y < work.top())
        y = work.top();
    else if (y + box.height() > workBottom)
        y = workBottom - box.height();
    return {x, y};
}

void CMessageWnd::ShowMessage(QWidget* owner, ResultCallback callback, std::uintptr_t userData) {
    callback_ = std::move(callback);
    userData_ = userData;
    Create(owner, kWindowPopup, 0, 0, 0, 0);
    QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect work = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    std::optional<QRect> ownerRect;
    if (owner && owner->isVisible() && !owner->isMinimized())
        ownerRect = owner->frameGeometry();
    move(Placement(size(), ownerRect, work));
    show();
    // In front of everything once, then an ordinary window again.
    raise();
    activateWindow();
}

void CMessageWnd::InitWindow() {
    title_label_ = Find<CLabelUI>("TitleTxtLab");
    close_ = Find<CButtonUI>("btnClose");
    text_ = Find<CTextUI>("MainTxtLab");
    ok_ = Find<CButtonUI>("btnOK");
    cancel_ = Find<CButtonUI>("btnCancel");
    if (title_label_) {
        title_label_->SetFont(0);
        title_label_->SetText(QString::fromStdWString(title_));
    }
    if (text_) {
        text_->SetFont(1);
        text_->SetText(QString::fromStdWString(message_));
        text_->SetToolTip(QString::fromStdWString(message_));
    }
    if (ok_)
        ok_->SetText(QString::fromStdWString(okText_));
    if (cancel_) {
        cancel_->SetText(QString::fromStdWString(cancelText_));
        cancel_->SetVisible(showCancel_);
    }
    if (countdown_ > 0 && close_)
        SetTimer(close_, 0, tickMilliseconds);
}

void CMessageWnd::Notify(TNotifyUI& msg) {
    WindowImplBase::Notify(msg);
    if (msg.sType == "timer" && msg.pSender == close_ && close_) {
        if (--countdown_ <= 0) {
            KillTimer(close_);
            Close(2);  // closing by itself answers nobody
        }
    }
}

void CMessageWnd::OnClick(TNotifyUI& msg) {
    if (msg.pSender == ok_)
        Answer(1);
    else if (msg.pSender == cancel_ || msg.pSender == close_)
        Answer(2);
}

void CMessageWnd::Answer(int result) {
    if (callback_)
        callback_(result, userData_);
    Close(result);
}

void CMessageWnd::OnFinalMessage() {
    if (autoDelete_)
        delete this;
}
