#include "skinui/skin_controls.h"

#include "skinui/skin_document.h"
#include "skinui/skin_resources.h"
#include "skinui/window_impl_base.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QScrollBar>

namespace {

int ParseAlign(const QString& text) {
    int horizontal = Qt::AlignLeft, vertical = Qt::AlignVCenter;
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts)) {
        if (word == "left")
            horizontal = Qt::AlignLeft;
        else if (word == "center")
            horizontal = Qt::AlignHCenter;
        else if (word == "right")
            horizontal = Qt::AlignRight;
        else if (word == "top")
            vertical = Qt::AlignTop;
        else if (word == "vcenter")
            vertical = Qt::AlignVCenter;
        else if (word == "bottom")
            vertical = Qt::AlignBottom;
    }
    return horizontal | vertical;
}

// The few marks of markup the skins use: <u>...</u> underlines the text.
QString StripMarkup(const QString& text, bool* underline) {
    *underline = text.contains("<u>");
    QString plain = text;
    plain.remove("<u>").remove("</u>");
    return plain;
}

}  // namespace

CControlUI::CControlUI(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_Hover, false);
}

bool CControlUI::SetAttribute(const QString& name, const QString& value) {
    if (name == "name")
        setObjectName(value);
    else if (name == "width")
        fixedWidth_ = ParseSkinInt(value).value_or(0);
    else if (name == "height")
        fixedHeight_ = ParseSkinInt(value).value_or(0);
    else if (name == "padding")
        padding_ = ParseSkinRect(value).value_or(QMargins());
    else if (name == "bkcolor")
        bkColor_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "bkcolor2")
        bkColor2_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "bordersize") {
        const auto all = ParseSkinInt(value);
        border_ = all ? QMargins(*all, *all, *all, *all) : ParseSkinRect(value).value_or(QMargins());
    } else if (name == "bordercolor")
        borderColor_ = ParseSkinColor(value).value_or(QColor());
    else if (name == "bkimage")
        SetBkImage(value);
    else if (name == "visible")
        SetVisible(ParseSkinBool(value).value_or(true));
    else if (name == "enabled")
        setEnabled(ParseSkinBool(value).value_or(true));
    else if (name == "tooltip")
        setToolTip(value);
    else if (name == "text")
        SetText(value);
    else if (name == "font")
        fontIndex_ = ParseSkinInt(value).value_or(-1);
    else if (name == "textcolor")
        textColor_ = ParseSkinColor(value).value_or(Qt::black);
    else if (name == "align")
        align_ = ParseAlign(value);
    else if (name == "textpadding")
        textPadding_ = ParseSkinRect(value).value_or(QMargins());
    else if (name == "endellipsis")
        endEllipsis_ = ParseSkinBool(value).value_or(false);
    else if (name == "showhtml")
        showHtml_ = ParseSkinBool(value).value_or(false);
    else if (name == "multiline")
        multiLine_ = ParseSkinBool(value).value_or(false);
    else if (name == "dest") {
        dest_ = ParseSkinRect(value).value_or(QMargins());
        hasDest_ = true;
    } else
        return false;
    update();
    return true;
}

void CControlUI::SetVisible(bool visible) {
    skinVisible_ = visible;
    QWidget::setVisible(visible);
    if (auto* parent = qobject_cast<CControlUI*>(parentWidget()))
        parent->PlaceChildren();
}

void CControlUI::SetText(const QString& text) {
    text_ = text;
    update();
}

void CControlUI::SetFont(int index) {
    fontIndex_ = index;
    update();
}

void CControlUI::SetTextColor(QColor color) {
    textColor_ = color;
    update();
}

void CControlUI::SetBkImage(const QString& image) {
    bkImage_ = image;
    if (!image.isEmpty())
        SkinResources::Instance().Image(image);  // reports a missing image at once
    update();
}

QFont CControlUI::TextFont() const {
    return window_ ? window_->Font(fontIndex_) : font();
}

void CControlUI::Notify(const QString& type, int wParam, int lParam) {
    if (window_)
        window_->SendNotify(this, type, wParam, lParam);
}

void CControlUI::resizeEvent(QResizeEvent*) {
    PlaceChildren();
}

void CControlUI::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    PaintBackground(painter);
    PaintStatusImage(painter);
    PaintText(painter);
    if (!border_.isNull() && borderColor_.isValid()) {
        const QRect r = rect();
        painter.fillRect(QRect(r.left(), r.top(), border_.left(), r.height()), borderColor_);
        painter.fillRect(QRect(r.left(), r.top(), r.width(), border_.top()), borderColor_);
        painter.fillRect(QRect(r.right() + 1 - border_.right(), r.top(), border_.right(), r.height()),
                         borderColor_);
        painter.fillRect(QRect(r.left(), r.bottom() + 1 - border_.bottom(), r.width(), border_.bottom()),
                         borderColor_);
    }
}

void CControlUI::PaintBackground(QPainter& painter) {
    if (bkColor_.isValid()) {
        if (bkColor2_.isValid()) {
            QLinearGradient gradient(0, 0, 0, height());
            gradient.setColorAt(0, bkColor_);
            gradient.setColorAt(1, bkColor2_);
            painter.fillRect(rect(), gradient);
        } else {
            painter.fillRect(rect(), bkColor_);
        }
    }
    DrawImage(painter, bkImage_);
}

void CControlUI::DrawImage(QPainter& painter, const QString& image) {
    if (image.isEmpty())
        return;
    const QPixmap pixmap = SkinResources::Instance().Image(image);
    if (pixmap.isNull())
        return;
    const QRect target =
        hasDest_ ? QRect(QPoint(dest_.left(), dest_.top()), QPoint(dest_.right() - 1, dest_.bottom() - 1))
                 : rect();
    painter.drawPixmap(target, pixmap);
}

void CControlUI::PaintStatusImage(QPainter&) {}

void CControlUI::PaintText(QPainter& painter) {
    if (text_.isEmpty())
        return;
    bool underline = false;
    const QString text = showHtml_ ? StripMarkup(text_, &underline) : text_;
    QFont font = TextFont();
    if (underline)
        font.setUnderline(true);
    painter.setFont(font);
    painter.setPen(isEnabled() ? textColor_ : QColor(Qt::gray));
    const QRect box = rect().marginsRemoved(textPadding_);
    if (multiLine_) {
        painter.drawText(box, align_ | Qt::TextWordWrap, text);
    } else {
        const QString shown =
            endEllipsis_ ? QFontMetrics(font).elidedText(text, Qt::ElideRight, box.width()) : text;
        painter.drawText(box, align_ | Qt::TextSingleLine, shown);
    }
}

CContainerUI::CContainerUI(Direction direction, QWidget* parent)
    : CControlUI(parent), direction_(direction) {}

bool CContainerUI::SetAttribute(const QString& name, const QString& value) {
    if (name == "inset")
        inset_ = ParseSkinRect(value).value_or(QMargins());
    else if (name == "childpadding")
        childPadding_ = ParseSkinInt(value).value_or(0);
    else
        return CControlUI::SetAttribute(name, value);
    PlaceChildren();
    return true;
}

void CContainerUI::Add(CControlUI* child) {
    child->setParent(this);
    children_.push_back(child);
    child->QWidget::setVisible(child->IsSkinVisible());
}

void CContainerUI::PlaceChildren() {
    const QRect area = rect().marginsRemoved(inset_);
    const bool vertical = direction_ == Direction::Vertical;
    std::vector<CControlUI*> shown;
    for (CControlUI* child : children_)
        if (child->IsSkinVisible())
            shown.push_back(child);
    if (shown.empty())
        return;
    // Along the layout: fixed sizes first, then what remains shared equally by the others.
    int fixed = childPadding_ * static_cast<int>(shown.size() - 1);
    int flexible = 0;
    for (CControlUI* child : shown) {
        const QMargins p = child->Padding();
        const int size = vertical ? child->FixedHeight() : child->FixedWidth();
        fixed += size + (vertical ? p.top() + p.bottom() : p.left() + p.right());
        flexible += size <= 0;
    }
    const int total = vertical ? area.height() : area.width();
    const int remaining = std::max(0, total - fixed);
    int share = flexible ? remaining / flexible : 0;
    int leftover = flexible ? remaining - share * flexible : 0;
    int position = vertical ? area.top() : area.left();
    for (CControlUI* child : shown) {
        const QMargins p = child->Padding();
        int along = vertical ? child->FixedHeight() : child->FixedWidth();
        if (along <= 0) {
            along = share + (--flexible == 0 ? leftover : 0);
        }
        const int crossFixed = vertical ? child->FixedWidth() : child->FixedHeight();
        if (vertical) {
            const int width = crossFixed > 0 ? crossFixed : std::max(0, area.width() - p.left() - p.right());
            position += p.top();
            child->setGeometry(area.left() + p.left(), position, width, along);
            position += along + p.bottom() + childPadding_;
        } else {
            const int height =
                crossFixed > 0 ? crossFixed : std::max(0, area.height() - p.top() - p.bottom());
            position += p.left();
            child->setGeometry(position, area.top() + p.top(), along, height);
            position += along + p.right() + childPadding_;
        }
        child->PlaceChildren();
    }
}

CTextUI::CTextUI(QWidget* parent) : CControlUI(parent) {
    multiLine_ = true;
    align_ = Qt::AlignLeft | Qt::AlignTop;
}

bool CButtonUI::SetAttribute(const QString& name, const QString& value) {
    QString* image = name == "normalimage"     ? &normalImage_
                     : name == "hotimage"      ? &hotImage_
                     : name == "pushedimage"   ? &pushedImage_
                     : name == "disabledimage" ? &disabledImage_
                                               : nullptr;
    if (!image)
        return CControlUI::SetAttribute(name, value);
    *image = value;
    SkinResources::Instance().Image(value);
    update();
    return true;
}

void CButtonUI::PaintStatusImage(QPainter& painter) {
    const QString* image = &normalImage_;
    if (!isEnabled() && !disabledImage_.isEmpty())
        image = &disabledImage_;
    else if (pushed_ && !pushedImage_.isEmpty())
        image = &pushedImage_;
    else if (hot_ && !hotImage_.isEmpty())
        image = &hotImage_;
    DrawImage(painter, *image);
}

void CButtonUI::enterEvent(QEnterEvent*) {
    hot_ = true;
    update();
}

void CButtonUI::leaveEvent(QEvent*) {
    hot_ = false;
    pushed_ = false;
    update();
}

void CButtonUI::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        pushed_ = true;
        update();
    }
}

void CButtonUI::mouseReleaseEvent(QMouseEvent* event) {
    const bool wasPushed = pushed_;
    pushed_ = false;
    update();
    if (event->button() == Qt::LeftButton && wasPushed && rect().contains(event->position().toPoint()))
        Activate();
}

void CButtonUI::Activate() {
    if (isEnabled())
        OnActivated();
}

void CButtonUI::OnActivated() {
    Notify("click");
}

bool COptionUI::SetAttribute(const QString& name, const QString& value) {
    if (name == "group")
        group_ = value;
    else if (name == "selected")
        Selected(ParseSkinBool(value).value_or(false), false);
    else if (name == "selectedimage") {
        selectedImage_ = value;
        SkinResources::Instance().Image(value);
    } else
        return CButtonUI::SetAttribute(name, value);
    update();
    return true;
}

void COptionUI::Selected(bool selected, bool notify) {
    if (selected_ == selected)
        return;
    selected_ = selected;
    if (selected_ && window_ && !group_.isEmpty())
        for (COptionUI* other : window_->OptionGroup(group_))
            if (other != this)
                other->Selected(false, notify);
    update();
    if (notify)
        Notify("selectchanged");
}

void COptionUI::PaintStatusImage(QPainter& painter) {
    if (selected_ && !selectedImage_.isEmpty())
        DrawImage(painter, selectedImage_);
    else
        CButtonUI::PaintStatusImage(painter);
}

void COptionUI::OnActivated() {
    // In a group a click selects; alone it toggles.
    Selected(group_.isEmpty() ? !selected_ : true);
    Notify("click");
}

CRichEditUI::CRichEditUI(QWidget* parent) : CControlUI(parent), editor_(new QPlainTextEdit(this)) {
    editor_->setFrameShape(QFrame::NoFrame);
    editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor_->installEventFilter(this);
    connect(editor_, &QPlainTextEdit::textChanged, this, [this] {
        if (autoScroll_)
            editor_->verticalScrollBar()->setValue(editor_->verticalScrollBar()->maximum());
        Notify("textchanged");
    });
}

bool CRichEditUI::SetAttribute(const QString& name, const QString& value) {
    if (name == "vscrollbar")
        editor_->setVerticalScrollBarPolicy(ParseSkinBool(value).value_or(true) ? Qt::ScrollBarAsNeeded
                                                                                : Qt::ScrollBarAlwaysOff);
    else if (name == "autovscroll")
        autoScroll_ = ParseSkinBool(value).value_or(false);
    else if (name == "readonly")
        editor_->setReadOnly(ParseSkinBool(value).value_or(false));
    else if (name == "wantreturn")
        wantReturn_ = ParseSkinBool(value).value_or(true);
    else if (name == "inset")
        inset_ = ParseSkinRect(value).value_or(QMargins());
    else if (name == "font" || name == "textcolor") {
        CControlUI::SetAttribute(name, value);
        editor_->setFont(TextFont());
        QPalette palette = editor_->palette();
        palette.setColor(QPalette::Text, textColor_);
        editor_->setPalette(palette);
        return true;
    } else if (name == "text") {
        SetText(value);
        return true;
    } else
        return CControlUI::SetAttribute(name, value);
    return true;
}

QString CRichEditUI::GetText() const {
    return editor_->toPlainText();
}

void CRichEditUI::SetText(const QString& text) {
    editor_->setPlainText(text);
}

void CRichEditUI::AppendText(const QString& text) {
    QTextCursor cursor = editor_->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}

void CRichEditUI::resizeEvent(QResizeEvent*) {
    editor_->setGeometry(rect().marginsRemoved(inset_));
    editor_->setFont(TextFont());
}

bool CRichEditUI::eventFilter(QObject* watched, QEvent* event) {
    if (watched == editor_ && event->type() == QEvent::KeyPress && !wantReturn_) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            event->ignore();
            return true;  // Enter belongs to the window, not to the text
        }
    }
    return CControlUI::eventFilter(watched, event);
}
