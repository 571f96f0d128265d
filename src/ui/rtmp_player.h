#pragma once
// The main window: the text box, the four voices, the add / convert one / convert all / save
// buttons and the play list. It owns the conversion manager, drives it with a one-second timer,
// shows its progress from WM_CONVERT_STATUS, and takes the first step of the orderly shutdown.

#include "skinui/window_impl_base.h"

#include <QUrl>

#include <functional>
#include <memory>

class CAboutAppDlg;
class CAudioConvert;
class CButtonUI;
class COptionUI;
class CPlayListCtrl;
class CRichEditUI;

class RtmpPlayer : public WindowImplBase {
    Q_OBJECT
public:
    static constexpr char kDownloadUrl[] = "http://parlatto.example/";

    RtmpPlayer();
    ~RtmpPlayer() override;

    QString GetWindowClassName() const override { return "Parlatto"; }
    QString GetSkinFile() const override { return "RtmpPlayer.xml"; }
    CControlUI* CreateControl(const QString& className) override;
    void InitWindow() override;
    void Notify(TNotifyUI& msg) override;
    void OnClick(TNotifyUI& msg) override;
    bool MessageHandler(const WindowMessage& msg) override;
    void OnFinalMessage() override;

    // The first step of the orderly shutdown (the close button).
    void Close();
    // Opens the About window, or brings the open one to the top.
    void ShowAbout();
    CAboutAppDlg* About() const { return about_.get(); }

    CPlayListCtrl* PlayList() const { return playList_; }
    CAudioConvert* Converter() const { return convert_.get(); }

protected:
    void dragEnterEvent(class QDragEnterEvent* event) override;
    void dropEvent(class QDropEvent* event) override;

private:
    void ConvertOne();
    void ConvertAll();
    // Starts a row's job; a text the manager refuses puts the row back and tells the user.
    void StartRow(int row);
    void OnPlayListPress(QPoint point);
    void ToggleMaximized();
    void ShowBox(const std::wstring& text, int seconds);

    void OnUpdateStatus(const WindowMessage& msg);

    std::unique_ptr<CAudioConvert> convert_;
    std::unique_ptr<CAboutAppDlg> about_;
    CButtonUI* btnMin_ = nullptr;
    CButtonUI* btnMax_ = nullptr;
    CButtonUI* btnClose_ = nullptr;
    CButtonUI* btnAbout_ = nullptr;
    COptionUI* optAudio_[4] = {};
    CButtonUI* btnAdd_ = nullptr;
    CButtonUI* btnStart_ = nullptr;
    CButtonUI* btnStartAll_ = nullptr;
    CButtonUI* btnSave_ = nullptr;
    CPlayListCtrl* playList_ = nullptr;
    CRichEditUI* edtText_ = nullptr;
    bool closed_ = false;
};
