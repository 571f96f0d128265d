#pragma once
// The controls of the skinned windows. Every control is a widget placed by its parent layout
// (never by Qt layouts): a fixed width or height is honoured, the others share what remains.
// Padding is space around a control inside its parent, inset space inside a layout, child padding
// space between a layout's children. Controls report to their window through notifications.

#include <QColor>
#include <QFont>
#include <QMargins>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <vector>

class WindowImplBase;
class QPlainTextEdit;
struct SkinNode;

class CControlUI : public QWidget {
    Q_OBJECT
public:
    explicit CControlUI(QWidget* parent = nullptr);

    // Applies one skin attribute; false for an attribute this control does not know.
    virtual bool SetAttribute(const QString& name, const QString& value);
    void SetOwnerWindow(WindowImplBase* window) { window_ = window; }
    WindowImplBase* OwnerWindow() const { return window_; }

    QString GetName() const { return objectName(); }
    int FixedWidth() const { return fixedWidth_; }
    int FixedHeight() const { return fixedHeight_; }
    void SetFixedWidth(int width) { fixedWidth_ = width; }
    void SetFixedHeight(int height) { fixedHeight_ = height; }
    QMargins Padding() const { return padding_; }
    bool IsSkinVisible() const { return skinVisible_; }
    void SetVisible(bool visible);

    virtual QString GetText() const { return text_; }
    virtual void SetText(const QString& text);
    void SetFont(int index);
    void SetTextColor(QColor color);
    QColor GetTextColor() const { return textColor_; }
    void SetBkImage(const QString& image);
    void SetToolTip(const QString& tip) { setToolTip(tip); }
    int FontIndex() const { return fontIndex_; }

    // Placement within the parent's layout rectangle is done by the parent.
    virtual void PlaceChildren() {}

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    virtual void PaintBackground(class QPainter& painter);
    virtual void PaintStatusImage(class QPainter& painter);
    virtual void PaintText(class QPainter& painter);
    QFont TextFont() const;
    void DrawImage(class QPainter& painter, const QString& image);
    void Notify(const QString& type, int wParam = 0, int lParam = 0);

    WindowImplBase* window_ = nullptr;
    int fixedWidth_ = 0;
    int fixedHeight_ = 0;
    QMargins padding_;
    QColor bkColor_;
    QColor bkColor2_;
    QMargins border_;  // widths of the left, top, right and bottom border
    QColor borderColor_;
    QString bkImage_;
    QString text_;
    int fontIndex_ = -1;
    QColor textColor_ = Qt::black;
    int align_ = Qt::AlignLeft | Qt::AlignVCenter;
    QMargins textPadding_;
    bool endEllipsis_ = false;
    bool showHtml_ = false;
    bool multiLine_ = false;
    QMargins dest_;
    bool hasDest_ = false;
    bool skinVisible_ = true;
};

// A vertical or horizontal layout.
class CContainerUI : public CControlUI {
    Q_OBJECT
public:
    enum class Direction { Vertical, Horizontal };
    explicit CContainerUI(Direction direction, QWidget* parent = nullptr);

    bool SetAttribute(const QString& name, const QString& value) override;
    void Add(CControlUI* child);
    const std::vector<CControlUI*>& Children() const { return children_; }
    void PlaceChildren() override;
    QMargins Inset() const { return inset_; }

private:
    Direction direction_;
    QMargins inset_;
    int childPadding_ = 0;
    std::vector<CControlUI*> children_;
};

class CLabelUI : public CControlUI {
    Q_OBJECT
public:
    using CControlUI::CControlUI;
};

// Multi-line text, wrapped at words.
class CTextUI : public CControlUI {
    Q_OBJECT
public:
    explicit CTextUI(QWidget* parent = nullptr);
};

class CButtonUI : public CControlUI {
    Q_OBJECT
public:
    using CControlUI::CControlUI;
    bool SetAttribute(const QString& name, const QString& value) override;
    bool IsHot() const { return hot_; }
    bool IsPushed() const { return pushed_; }
    QString NormalImage() const { return normalImage_; }
    // Clicks as a person would: notifications "click" (and the option's own) go out.
    void Activate();

protected:
    void PaintStatusImage(class QPainter& painter) override;
    void enterEvent(class QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(class QMouseEvent* event) override;
    void mouseReleaseEvent(class QMouseEvent* event) override;
    virtual void OnActivated();

    QString normalImage_, hotImage_, pushedImage_, disabledImage_;
    bool hot_ = false;
    bool pushed_ = false;
};

// A button with a selected state; options of one group are selected one at a time.
class COptionUI : public CButtonUI {
    Q_OBJECT
public:
    using CButtonUI::CButtonUI;
    bool SetAttribute(const QString& name, const QString& value) override;
    QString Group() const { return group_; }
    bool IsSelected() const { return selected_; }
    // Selecting unselects the others of the group; "selectchanged" goes out when the state changes.
    void Selected(bool selected, bool notify = true);

protected:
    void PaintStatusImage(class QPainter& painter) override;
    void OnActivated() override;

private:
    QString group_;
    QString selectedImage_;
    bool selected_ = false;
};

// Editable multi-line text with a vertical scroll bar.
class CRichEditUI : public CControlUI {
    Q_OBJECT
public:
    explicit CRichEditUI(QWidget* parent = nullptr);
    bool SetAttribute(const QString& name, const QString& value) override;
    QString GetText() const override;
    void SetText(const QString& text) override;
    void AppendText(const QString& text);
    QPlainTextEdit* Editor() const { return editor_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPlainTextEdit* editor_;
    bool autoScroll_ = false;
    bool wantReturn_ = true;
    QMargins inset_;
};
