#include "ui/about_app_dlg.h"

#include "app/data.h"
#include "app/startup.h"
#include "skinui/skin_controls.h"
#include "ui/desktop_opener.h"

void CAboutAppDlg::Open() {
    if (IsOpen()) {
        raise();
        activateWindow();
        return;
    }
    Create(nullptr, 0, 0, 0, 0, 0);  // the skin's size applies
    CenterWindow();
    show();
    activateWindow();
}

bool CAboutAppDlg::IsOpen() const {
    return platform::IsLiveWindow(Handle());
}

void CAboutAppDlg::InitWindow() {
    btnClose_ = Find<CButtonUI>("btnClose");
    btnOK_ = Find<CButtonUI>("btnOK");
    btnAppUrl_ = Find<CButtonUI>("btnAppUrl");
    labVersion_ = Find<CLabelUI>("labVersion");
    labVerInfo_ = Find<CLabelUI>("labVerInfo");
    if (btnAppUrl_) {
        btnAppUrl_->SetAttribute("showhtml", "true");
        btnAppUrl_->SetText(QString("<u>Lumeo官网: %1</u>").arg(kWebSite));
    }
    if (labVersion_)
        labVersion_->SetText("软件版本: " + QString::fromWCharArray(kAppVersion));
    QString info = "已是最新版本", ok = "确定";
    QColor colour(0xFF999999u);
    if (!Ask(state_.hasRemoteVersion)) {
        info = "更新失败,有问题请联系客服!";
        colour = QColor::fromRgba(0xFFFF3333u);
    } else if (Ask(state_.hasNewerVersion)) {
        info = "发现新的版本";
        ok = "立即更新";
        colour = QColor::fromRgba(0xFFFF3333u);
    } else {
        colour = QColor::fromRgba(0xFF999999u);
    }
    if (labVerInfo_) {
        labVerInfo_->SetText(info);
        labVerInfo_->SetTextColor(colour);
    }
    if (btnOK_)
        btnOK_->SetText(ok);
}

void CAboutAppDlg::OnClick(TNotifyUI& msg) {
    if (msg.pSender == btnClose_) {
        Close(2);
    } else if (msg.pSender == btnOK_) {
        Close(1);
        if (Ask(state_.hasNewerVersion)) {
            CData::Instance().PostAppExit();
            CData::Instance().SetUpdateOnExit(true);
        }
    } else if (msg.pSender == btnAppUrl_) {
        OpenWithDesktop(QUrl(kWebSite));
    }
}
