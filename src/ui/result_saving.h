#pragma once
// Saving results: every Done row's joined MP3 is copied into a folder the user picks, under the
// text's own name (an existing file is replaced), and the count is shown in the message box.

class QWidget;
class CPlayListCtrl;
class CAudioConvert;

void SaveResults(QWidget* owner, CPlayListCtrl& playList, CAudioConvert& convert);
