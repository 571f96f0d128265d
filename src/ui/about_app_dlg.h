#pragma once
// The About window: the version, the outcome of this run's update check (read when it opens) and
// the link to the maker's web site. When a newer version exists its OK button reads "立即更新"
// and closes the program so that the updater starts.

#include "skinui/window_impl_base.h"

#include <functional>

class CButtonUI;
class CLabelUI;

class CAboutAppDlg : public WindowImplBase {
    Q_OBJECT
public:
    // What the update check knows; asked when the window opens and at the OK click.
    struct UpdateState {
        std::function<bool()> hasRemoteVersion;
        std::function<bool()> hasNewerVersion;
    };
    static constexpr char kWebSite[] = "http://parlatto.example/";

    explicit CAboutAppDlg(UpdateState state) : state_(std::move(state)) {}

    // Opens the window, or brings an open one to the top.
    void Open();
    bool IsOpen() const;

    QString GetWindowClassName() const override { return "CAboutAppDlg"; }
    QString GetSkinFile() const override { return "AboutAppDlg.xml"; }
    void InitWindow() override;
    void OnClick(TNotifyUI& msg) override;

private:
    bool Ask(const std::function<bool()>& question) const { return question && question(); }

    UpdateState state_;
    CButtonUI* btnClose_ = nullptr;
    CButtonUI* btnOK_ = nullptr;
    CButtonUI* btnAppUrl_ = nullptr;
    CLabelUI* labVersion_ = nullptr;
    CLabelUI* labVerInfo_ = nullptr;
};
