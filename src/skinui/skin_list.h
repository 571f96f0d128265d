#pragma once
// A list with a header of columns and rows whose cell texts come from a callback when they are
// drawn. Rows are elements in order; a click on a row sends "itemclick" (and "itemselect" when the
// selection changes) with the row element as sender. The rows scroll vertically.

#include "skinui/skin_controls.h"

#include <QScrollBar>

#include <vector>

class CListUI;
class CListTextElementUI;

class IListCallbackUI {
public:
    virtual ~IListCallbackUI() = default;
    virtual QString GetItemText(CListTextElementUI* row, int index, int column) = 0;
};

class CListHeaderItemUI : public CControlUI {
    Q_OBJECT
public:
    using CControlUI::CControlUI;
    bool SetAttribute(const QString& name, const QString& value) override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString sepImage_;
    int sepWidth_ = 1;
};

class CListHeaderUI : public CContainerUI {
    Q_OBJECT
public:
    explicit CListHeaderUI(QWidget* parent = nullptr) : CContainerUI(Direction::Horizontal, parent) {}
};

// One row; its texts are asked for through the list's callback whenever it is drawn.
class CListTextElementUI : public CControlUI {
    Q_OBJECT
public:
    explicit CListTextElementUI(CListUI* list);
    int Index() const;
    // Room for the callback's answer, so that it outlives the call.
    QString userData;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(class QMouseEvent* event) override;
    void mouseDoubleClickEvent(class QMouseEvent* event) override;
    void enterEvent(class QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    friend class CListUI;
    CListUI* list_;
    bool hot_ = false;
};

class CListUI : public CControlUI {
    Q_OBJECT
public:
    explicit CListUI(QWidget* parent = nullptr);
    bool SetAttribute(const QString& name, const QString& value) override;

    void SetTextCallback(IListCallbackUI* callback) { callback_ = callback; }
    IListCallbackUI* TextCallback() const { return callback_; }
    CListHeaderUI* Header() const { return header_; }
    void AddHeaderItem(CListHeaderItemUI* item);
    int ColumnCount() const;
    // A column's rectangle in the list's coordinates (rows use its left and right).
    QRect ColumnRect(int column) const;

    int GetCount() const { return static_cast<int>(rows_.size()); }
    CListTextElementUI* GetItemAt(int index) const;
    // The row number of an element, -1 when it is no row of this list.
    int GetItemIndex(const CControlUI* row) const;
    // Appends a row at the given index (only the end is accepted); false when refused.
    virtual bool AddAt(CListTextElementUI* row, int index);
    virtual bool Remove(CControlUI* row);
    virtual bool RemoveAt(int index);
    virtual void RemoveAll();
    int GetCurSel() const { return selected_; }
    void SelectItem(int index);
    void EnsureVisible(int index);
    void Invalidate() {
        update();
        for (auto* row : rows_)
            row->update();
    }

    QMargins ItemTextPadding() const { return itemTextPadding_; }
    int ItemHeight() const { return itemHeight_; }
    QScrollBar* VerticalScrollBar() const { return scrollBar_; }
    void PlaceChildren() override;

private:
    friend class CListTextElementUI;
    void RowClicked(CListTextElementUI* row, QPoint point, bool doubleClick);

    CListHeaderUI* header_;
    QWidget* body_;
    QScrollBar* scrollBar_;
    std::vector<CListTextElementUI*> rows_;
    IListCallbackUI* callback_ = nullptr;
    int selected_ = -1;
    bool showHeader_ = true;
    bool showScrollBar_ = true;
    int itemHeight_ = 30;
    int itemFont_ = -1;
    QColor itemTextColor_ = Qt::black;
    QColor itemBkColor_, itemAltBkColor_, itemSelectedBkColor_, itemHotBkColor_;
    bool itemAltBk_ = false;  // odd rows take itemAltBkColor_, none when it is unset
    int itemAlign_ = Qt::AlignLeft | Qt::AlignVCenter;
    bool itemEndEllipsis_ = false;
    QMargins itemTextPadding_;
    QMargins inset_;
};
