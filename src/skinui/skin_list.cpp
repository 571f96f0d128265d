#include "skinui/skin_list.h"

#include "skinui/skin_document.h"
#include "skinui/skin_resources.h"
#include "skinui/window_impl_base.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

namespace {

int ParseItemAlign(const QString& text) {
    int horizontal = Qt::AlignLeft;
    if (text.contains("center"))
        horizontal = Qt::AlignHCenter;
    if (text.contains("right"))
        horizontal = Qt::AlignRight;
    return horizontal | Qt::AlignVCenter;
}

// Wheel turns over the rows scroll the list.
class ListBody : public QWidget {
public:
    ListBody(QWidget* parent, QScrollBar* bar) : QWidget(parent), bar_(bar) {}

protected:
    void wheelEvent(QWheelEvent* event) override {
        bar_->setValue(bar_->value() - event->angleDelta().y() / 4);
        event->accept();
    }

private:
    QScrollBar* bar_;
};

}  // namespace

bool CListHeaderItemUI::SetAttribute(const QString& name, const QString& value) {
    if (name == "sepimage") {
        sepImage_ = value;
        SkinResources::Instance().Image(value);
    } else if (name == "sepwidth") {
        sepWidth_ = ParseSkinInt(value).value_or(1);
    } else {
        return CControlUI::SetAttribute(name, value);
    }
    return true;
}

void CListHeaderItemUI::paintEvent(QPaintEvent* event) {
    CControlUI::paintEvent(event);
    if (sepImage_.isEmpty())
        return;
    const QPixmap sep = SkinResources::Instance().Image(sepImage_);
    if (!sep.isNull()) {
        QPainter painter(this);
        painter.drawPixmap(QRect(width() - sepWidth_, 0, sepWidth_, height()), sep);
    }
}

CListTextElementUI::CListTextElementUI(CListUI* list) : CControlUI(nullptr), list_(list) {}

int CListTextElementUI::Index() const {
    return list_ ? list_->GetItemIndex(this) : -1;
}

void CListTextElementUI::paintEvent(QPaintEvent*) {
    if (!list_)
        return;
    QPainter painter(this);
    const int index = Index();
    QColor background = list_->itemBkColor_;
    if (index % 2 == 1 && (list_->itemAltBkColor_.isValid() || list_->itemAltBk_))
        background = list_->itemAltBkColor_;  // alternating without a colour: the list shows through
    if (index == list_->selected_ && list_->itemSelectedBkColor_.isValid())
        background = list_->itemSelectedBkColor_;
    else if (hot_ && list_->itemHotBkColor_.isValid())
        background = list_->itemHotBkColor_;
    if (background.isValid())
        painter.fillRect(rect(), background);
    if (!list_->callback_)
        return;
    painter.setFont(window_ ? window_->Font(list_->itemFont_) : font());
    painter.setPen(list_->itemTextColor_);
    const QFontMetrics metrics(painter.font());
    for (int column = 0; column < list_->ColumnCount(); ++column) {
        const QRect header = list_->ColumnRect(column);
        const QRect cell = QRect(header.left() - list_->body_->x(), 0, header.width(), height())
                               .marginsRemoved(list_->itemTextPadding_);
        QString text = list_->callback_->GetItemText(this, index, column);
        if (list_->itemEndEllipsis_)
            text = metrics.elidedText(text, Qt::ElideRight, cell.width());
        painter.drawText(cell, list_->itemAlign_ | Qt::TextSingleLine, text);
    }
}

void CListTextElementUI::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && list_)
        list_->RowClicked(this, event->position().toPoint(), false);
}

void CListTextElementUI::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && list_)
        list_->RowClicked(this, event->position().toPoint(), true);
}

void CListTextElementUI::enterEvent(QEnterEvent*) {
    hot_ = true;
    update();
}

void CListTextElementUI::leaveEvent(QEvent*) {
    hot_ = false;
    update();
}

CListUI::CListUI(QWidget* parent)
    : CControlUI(parent), header_(new CListHeaderUI(this)), scrollBar_(new QScrollBar(Qt::Vertical, this)) {
    body_ = new ListBody(this, scrollBar_);
    scrollBar_->setRange(0, 0);
    connect(scrollBar_, &QScrollBar::valueChanged, this, [this](int value) {
        PlaceChildren();
        Notify("valuechanged", value);
    });
}

bool CListUI::SetAttribute(const QString& name, const QString& value) {
    if (name == "header")
        showHeader_ = ParseSkinBool(value).value_or(true);
    else if (name == "vscrollbar")
        showScrollBar_ = ParseSkinBool(value).value_or(true);
    else if (name == "itemheight")
        itemHeight_ = std::max(1, ParseSkinInt(value).value_or(30));
    else if (name == "itemfont")
        itemFont_ = ParseSkinInt(value).value_or(-1);
    else if (name == "itemtextcolor")
        itemTextColor_ = ParseSkinColor(value).value_or(Qt::black);
    else if (name == "itembkcolor")
        itemBkColor_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "itemaltbk")
        itemAltBk_ = ParseSkinBool(value).value_or(false);
    else if (name == "itemaltbkcolor")
        itemAltBkColor_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "itemselectedbkcolor")
        itemSelectedBkColor_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "itemhotbkcolor")
        itemHotBkColor_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "itemalign")
        itemAlign_ = ParseItemAlign(value);
    else if (name == "itemendellipsis")
        itemEndEllipsis_ = ParseSkinBool(value).value_or(false);
    else if (name == "itemtextpadding")
        itemTextPadding_ = ParseSkinRect(value).value_or(QMargins());
    else if (name == "inset")
        inset_ = ParseSkinRect(value).value_or(QMargins());
    else
        return CControlUI::SetAttribute(name, value);
    PlaceChildren();
    return true;
}

void CListUI::AddHeaderItem(CListHeaderItemUI* item) {
    item->SetOwnerWindow(window_);
    header_->Add(item);
    PlaceChildren();
}

int CListUI::ColumnCount() const {
    return static_cast<int>(header_->Children().size());
}

QRect CListUI::ColumnRect(int column) const {
    if (column < 0 || column >= ColumnCount())
        return {};
    const QRect item = header_->Children()[static_cast<size_t>(column)]->geometry();
    return QRect(header_->x() + item.x(), header_->y(), item.width(), header_->height());
}

CListTextElementUI* CListUI::GetItemAt(int index) const {
    return index >= 0 && index < GetCount() ? rows_[static_cast<size_t>(index)] : nullptr;
}

int CListUI::GetItemIndex(const CControlUI* row) const {
    for (size_t i = 0; i < rows_.size(); ++i)
        if (rows_[i] == row)
            return static_cast<int>(i);
    return -1;
}

bool CListUI::AddAt(CListTextElementUI* row, int index) {
    if (!row || index != GetCount() || GetItemIndex(row) >= 0)
        return false;
    row->setParent(body_);
    row->SetOwnerWindow(window_);
    rows_.push_back(row);
    row->show();
    PlaceChildren();
    return true;
}

bool CListUI::Remove(CControlUI* row) {
    return RemoveAt(GetItemIndex(row));
}

bool CListUI::RemoveAt(int index) {
    if (index < 0 || index >= GetCount())
        return false;
    CListTextElementUI* row = rows_[static_cast<size_t>(index)];
    rows_.erase(rows_.begin() + index);
    if (selected_ == index)
        selected_ = -1;
    else if (selected_ > index)
        --selected_;
    // Later: the row may be the widget whose click is being handled right now.
    row->hide();
    row->list_ = nullptr;
    row->deleteLater();
    PlaceChildren();
    return true;
}

void CListUI::RemoveAll() {
    for (CListTextElementUI* row : rows_)
        delete row;
    rows_.clear();
    selected_ = -1;
    PlaceChildren();
}

void CListUI::SelectItem(int index) {
    if (index == selected_ || index < -1 || index >= GetCount())
        return;
    selected_ = index;
    Invalidate();
    if (index >= 0)
        Notify("itemselect", index);
}

void CListUI::EnsureVisible(int index) {
    if (index < 0 || index >= GetCount())
        return;
    const int top = index * itemHeight_;
    if (top < scrollBar_->value())
        scrollBar_->setValue(top);
    else if (top + itemHeight_ > scrollBar_->value() + body_->height())
        scrollBar_->setValue(top + itemHeight_ - body_->height());
}

void CListUI::RowClicked(CListTextElementUI* row, QPoint point, bool doubleClick) {
    const int index = GetItemIndex(row);
    if (index < 0)
        return;
    SelectItem(index);
    if (window_)
        window_->SendNotify(row, doubleClick ? "itemactivate" : "itemclick", index, 0,
                            window_->mapFromGlobal(row->mapToGlobal(point)));
}

void CListUI::PlaceChildren() {
    const QRect area = rect().marginsRemoved(inset_);
    const int headerHeight = showHeader_ ? (header_->FixedHeight() > 0 ? header_->FixedHeight() : 24) : 0;
    header_->setVisible(showHeader_);
    const int content = GetCount() * itemHeight_;
    const int bodyHeight = std::max(0, area.height() - headerHeight);
    const bool bar = showScrollBar_ && content > bodyHeight;
    const int barWidth = bar ? scrollBar_->sizeHint().width() : 0;
    // The header spans the rows only, so that its columns line up with their cells.
    header_->setGeometry(area.left(), area.top(), std::max(0, area.width() - barWidth), headerHeight);
    header_->PlaceChildren();
    body_->setGeometry(area.left(), area.top() + headerHeight, std::max(0, area.width() - barWidth),
                       bodyHeight);
    scrollBar_->setVisible(bar);
    scrollBar_->setGeometry(area.right() + 1 - barWidth, area.top(), barWidth, area.height());
    scrollBar_->setRange(0, std::max(0, content - bodyHeight));
    scrollBar_->setPageStep(bodyHeight);
    scrollBar_->setSingleStep(itemHeight_);
    const int offset = bar ? scrollBar_->value() : 0;
    for (size_t i = 0; i < rows_.size(); ++i)
        rows_[i]->setGeometry(0, static_cast<int>(i) * itemHeight_ - offset, body_->width(), itemHeight_);
}
