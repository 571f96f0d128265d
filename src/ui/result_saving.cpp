#include "ui/result_saving.h"

#include "core/helpers.h"
#include "core/logger.h"
#include "core/text_convert.h"
#include "platform/file_ops.h"
#include "playlist/play_list_ctrl.h"
#include "speech/audio_convert.h"
#include "ui/file_pickers.h"
#include "ui/message_wnd.h"

#include <memory>
#include <vector>

namespace {

void Tell(QWidget* owner, const std::wstring& text, int seconds) {
    auto* box = new CMessageWnd(true, seconds);
    box->SetButtons(L"确定", L"", false);
    box->SetMessageText(text);
    box->ShowMessage(owner);
}

}  // namespace

void SaveResults(QWidget* owner, CPlayListCtrl& playList, CAudioConvert& convert) {
    std::vector<std::shared_ptr<const AudioPiece>> results;
    for (int row = 0; row < playList.GetCount(); ++row) {
        if (playList.GetItemStatus(row) != Done)
            continue;
        const PieceList pieces = convert.GetFinishedPieces(WideToAnsi(playList.GetItemFile(row)));
        if (!pieces.empty())
            results.push_back(pieces.front());
    }
    if (results.empty()) {
        Tell(owner, L"暂无需要保存的内容!", 5);
        return;
    }
    const std::string folder = WideToAnsi(BrowseForFolder(owner, L"选择保存目录"));
    if (folder.empty())
        return;
    int saved = 0;
    for (const auto& piece : results) {
        const std::string source = piece->file.substr(0, piece->file.find_last_of('/')) + "/audio.mp3";
        const std::string target = folder + "/" + PubUtils::ResultFileName(piece->job);
        if (platform::CopyFileReplacing(source, target)) {
            ++saved;
        } else {
            const std::string text = "CopyFileA failed. " + source + " to " + target;
            Log(Error, "RtmpPlayer::OnClick", "%s", text.c_str());
        }
    }
    Tell(owner, L"成功保存 " + std::to_wstring(saved) + L" 个结果", 6);
}
