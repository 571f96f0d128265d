#include "skinui/window_impl_base.h"

#include "skinui/skin_document.h"
#include "skinui/skin_list.h"
#include "skinui/skin_resources.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QWindow>

namespace {

constexpr std::uintptr_t SC_MINIMIZE = 0xF020;
constexpr std::uintptr_t SC_MAXIMIZE = 0xF030;

const QEvent::Type kPostedEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

// A platform message on its way to the window's thread.
class PostedEvent : public QEvent {
public:
    explicit PostedEvent(platform::Message message) : QEvent(kPostedEvent), message(std::move(message)) {}
    platform::Message message;
};

bool IsInteractive(QObject* object) {
    for (QObject* o = object; o; o = o->parent()) {
        if (qobject_cast<CButtonUI*>(o) || qobject_cast<CRichEditUI*>(o) || qobject_cast<CListUI*>(o) ||
            qobject_cast<QScrollBar*>(o))
            return true;
        if (qobject_cast<WindowImplBase*>(o))
            return false;
    }
    return false;
}

}  // namespace

// Hands platform messages, from any thread, to the window's event queue.
class WindowImplBase::Receiver : public platform::MessageReceiver {
public:
    explicit Receiver(WindowImplBase* window) : window_(window) {}
    void Enqueue(platform::Message message) override {
        QCoreApplication::postEvent(window_, new PostedEvent(std::move(message)));
    }

private:
    WindowImplBase* window_;
};

WindowImplBase::WindowImplBase() : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint) {}

WindowImplBase::~WindowImplBase() {
    qApp->removeEventFilter(this);
    if (handle_ != platform::WindowHandle::Null)
        platform::UnregisterReceiver(handle_);
    // The controls go while the timer table still exists: their timers leave it as they go.
    timers_.clear();
    delete root_;
    root_ = nullptr;
}

CControlUI* WindowImplBase::CreateControl(const QString&) {
    return nullptr;
}

void WindowImplBase::Notify(TNotifyUI& msg) {
    if (msg.sType == "click")
        OnClick(msg);
}

bool WindowImplBase::Create(QWidget* owner, unsigned flags, int x, int y, int width, int height) {
    if (owner) {
        // A window of its own above its owner, gone with it; not a child widget, which would
        // take on the owner's styles and input.
        setWindowFlags((flags & kWindowPopup ? Qt::Dialog : Qt::Window) | Qt::FramelessWindowHint);
        connect(owner, &QObject::destroyed, this, [this] { delete this; });
        owner_ = owner;
    }
    setAttribute(Qt::WA_DeleteOnClose, false);
    static const bool fonts = (SkinResources::InstallFontSubstitutions(), true);
    (void)fonts;

    QSize skinSize(width, height);
    const QString skinFile = GetSkinFile();
    SkinDocument document;
    if (const auto xml = SkinResources::Instance().ReadFile(skinFile))
        document = ParseSkin(*xml, skinFile);
    for (const QString& text : document.diagnostics)
        SkinResources::Instance().Diagnose(text);

    if (!document.root.tag.isEmpty()) {
        ApplyWindowAttributes(document.root);
        if (const auto size = ParseSkinSize(document.root.Attr("size")))
            skinSize = QSize(width > 0 ? width : size->width(), height > 0 ? height : size->height());
        for (const SkinNode& child : document.root.children) {
            if (child.tag == "Font" || child.tag == "Default")
                continue;
            if (root_) {
                SkinResources::Instance().Diagnose("skin " + skinFile + ": more than one root layout");
                break;
            }
            root_ = Build(child, this);
        }
    }
    if (!root_) {
        root_ = new CContainerUI(CContainerUI::Direction::Vertical, this);
        root_->SetOwnerWindow(this);
    }
    if (scrollBarStyle_)
        scrollBarStyle_->Apply(this);
    setGeometry(x, y, std::max(1, skinSize.width()), std::max(1, skinSize.height()));

    receiver_ = std::make_unique<Receiver>(this);
    handle_ = platform::RegisterReceiver(*receiver_, GetWindowClassName().toStdString());
    qApp->installEventFilter(this);
    InitWindow();
    if (flags & kWindowVisible)
        ShowWindow(true);
    return true;
}

void WindowImplBase::ApplyWindowAttributes(const SkinNode& window) {
    if (const auto min = ParseSkinSize(window.Attr("mininfo")))
        setMinimumSize(*min);
    caption_ = ParseSkinRect(window.Attr("caption")).value_or(QMargins());
    sizeBox_ = ParseSkinRect(window.Attr("sizebox")).value_or(QMargins());
    roundCorner_ = ParseSkinSize(window.Attr("roundcorner")).value_or(QSize());
    bkColor_ = ParseSkinColor(window.Attr("bkcolor")).value_or(QColor());
    for (const SkinNode& node : window.children) {
        if (node.tag == "Font") {
            QFont font(node.Attr("name", "Sans Serif"));
            font.setPixelSize(std::max(1, ParseSkinInt(node.Attr("size", "12")).value_or(12)));
            font.setBold(ParseSkinBool(node.Attr("bold")).value_or(false));
            font.setItalic(ParseSkinBool(node.Attr("italic")).value_or(false));
            font.setUnderline(ParseSkinBool(node.Attr("underline")).value_or(false));
            const int id = ParseSkinInt(node.Attr("id", "0")).value_or(0);
            fonts_.insert(id, font);
            if (ParseSkinBool(node.Attr("default")).value_or(false) || fonts_.size() == 1)
                defaultFont_ = font;
        } else if (node.tag == "Default" && node.Attr("class") == "VScrollBar") {
            ApplyScrollBarDefaults(node);
        }
    }
}

void WindowImplBase::ApplyScrollBarDefaults(const SkinNode& node) {
    const int w = ParseSkinInt(node.Attr("width", "8")).value_or(8);
    ScrollBarSkin skin;
    skin.width = w;
    const char* looks[] = {"normal", "hot", "pushed"};
    for (int i = 0; i < 3; ++i) {
        skin.up[i] = node.Attr(QString("button1%1image").arg(looks[i]));
        skin.down[i] = node.Attr(QString("button2%1image").arg(looks[i]));
        skin.thumb[i] = node.Attr(QString("thumb%1image").arg(looks[i]));
    }
    skin.thumbCorner = ParseSkinRect(node.Attr("thumbcorner")).value_or(QMargins());
    skin.background = node.Attr("bkimage");
    if (!skin.thumb[ScrollBarSkin::Normal].isEmpty()) {
        scrollBarStyle_ = std::make_unique<CScrollBarStyle>(std::move(skin));
        return;
    }
    // Without images: plain colours.
    const QString track =
        ParseSkinColor(node.Attr("bkcolor")).value_or(QColor("#FFF0F0F0")).name(QColor::HexArgb);
    const QString thumb =
        ParseSkinColor(node.Attr("thumbcolor")).value_or(QColor("#FFC0C0C0")).name(QColor::HexArgb);
    const QString hot =
        ParseSkinColor(node.Attr("thumbhotcolor")).value_or(QColor("#FFA0A0A0")).name(QColor::HexArgb);
    setStyleSheet(QString("QScrollBar:vertical{width:%1px;background:%2;margin:0}"
                          "QScrollBar::handle:vertical{background:%3;min-height:20px;border-radius:%4px}"
                          "QScrollBar::handle:vertical:hover{background:%5}"
                          "QScrollBar::add-line,QScrollBar::sub-line{height:0}"
                          "QScrollBar::add-page,QScrollBar::sub-page{background:none}")
                      .arg(w)
                      .arg(track, thumb)
                      .arg(w / 2)
                      .arg(hot));
}

CControlUI* WindowImplBase::Build(const SkinNode& node, QWidget* parent) {
    CControlUI* control = nullptr;
    const QString& tag = node.tag;
    if (tag == "VerticalLayout")
        control = new CContainerUI(CContainerUI::Direction::Vertical);
    else if (tag == "HorizontalLayout")
        control = new CContainerUI(CContainerUI::Direction::Horizontal);
    else if (tag == "Control")
        control = new CControlUI;
    else if (tag == "Label")
        control = new CLabelUI;
    else if (tag == "Text")
        control = new CTextUI;
    else if (tag == "Button")
        control = new CButtonUI;
    else if (tag == "Option")
        control = new COptionUI;
    else if (tag == "RichEdit")
        control = new CRichEditUI;
    else if (tag == "List")
        control = new CListUI;
    else if (!IsBuiltInSkinTag(tag))
        control = CreateControl(tag);
    if (!control) {
        SkinResources::Instance().Diagnose(
            QString("skin %1 line %2: unknown control class %3").arg(GetSkinFile()).arg(node.line).arg(tag));
        control = new CControlUI;  // keeps the layout's shape
    }
    control->setParent(parent);
    control->SetOwnerWindow(this);
    for (const auto& [name, value] : node.attributes)
        if (!control->SetAttribute(name, value))
            SkinResources::Instance().Diagnose(QString("skin %1 line %2: %3 does not know %4")
                                                   .arg(GetSkinFile())
                                                   .arg(node.line)
                                                   .arg(tag, name));

    auto* container = qobject_cast<CContainerUI*>(control);
    auto* list = qobject_cast<CListUI*>(control);
    for (const SkinNode& child : node.children) {
        if (list && child.tag == "ListHeader") {
            list->Header()->SetOwnerWindow(this);
            for (const auto& [name, value] : child.attributes)
                list->Header()->SetAttribute(name, value);
            for (const SkinNode& item : child.children) {
                auto* header = new CListHeaderItemUI;
                header->SetOwnerWindow(this);
                for (const auto& [name, value] : item.attributes)
                    header->SetAttribute(name, value);
                list->AddHeaderItem(header);
            }
        } else if (container) {
            container->Add(Build(child, container));
        } else {
            SkinResources::Instance().Diagnose(QString("skin %1 line %2: %3 cannot hold %4")
                                                   .arg(GetSkinFile())
                                                   .arg(child.line)
                                                   .arg(tag, child.tag));
        }
    }
    return control;
}

void WindowImplBase::CenterWindow() {
    QRect area;
    if (QWidget* owner = owner_ ? owner_.data() : parentWidget();
        owner && owner->isVisible() && !owner->isMinimized())
        area = owner->frameGeometry();
    else if (QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
}

void WindowImplBase::ShowWindow(bool show) {
    if (destroyed_)
        return;
    setVisible(show);
}

void WindowImplBase::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (owner_ && windowHandle() && owner_->window()->windowHandle())
        windowHandle()->setTransientParent(owner_->window()->windowHandle());
}

void WindowImplBase::Close(int code) {
    closeCode_ = code;
    platform::PostMessage(handle_, platform::WM_SYSCOMMAND, platform::SC_CLOSE);
}

CControlUI* WindowImplBase::FindControl(const QString& name) const {
    if (!root_ || name.isEmpty())
        return nullptr;
    if (root_->objectName() == name)
        return root_;
    return root_->findChild<CControlUI*>(name);
}

CControlUI* WindowImplBase::FindControlAt(QPoint point) const {
    for (QWidget* w = childAt(point); w; w = w->parentWidget())
        if (auto* control = qobject_cast<CControlUI*>(w))
            return control;
    return nullptr;
}

void WindowImplBase::SetTimer(CControlUI* control, int id, int milliseconds) {
    if (!control)
        return;
    QTimer*& timer = timers_[{control, id}];
    if (!timer) {
        timer = new QTimer(control);
        connect(timer, &QTimer::timeout, this, [this, control, id] { SendNotify(control, "timer", id); });
        connect(control, &QObject::destroyed, this, [this, control] {
            for (auto it = timers_.begin(); it != timers_.end();)
                it = it->first.first == control ? timers_.erase(it) : std::next(it);
        });
    }
    timer->start(milliseconds);
}

void WindowImplBase::KillTimer(CControlUI* control, int id) {
    auto it = timers_.find({control, id});
    if (it == timers_.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

void WindowImplBase::KillTimer(CControlUI* control) {
    for (auto it = timers_.begin(); it != timers_.end();) {
        if (it->first.first == control) {
            it->second->stop();
            it->second->deleteLater();
            it = timers_.erase(it);
        } else {
            ++it;
        }
    }
}

bool WindowImplBase::HasTimer(CControlUI* control, int id) const {
    auto it = timers_.find({control, id});
    return it != timers_.end() && it->second->isActive();
}

QFont WindowImplBase::Font(int index) const {
    return fonts_.value(index, defaultFont_);
}

std::vector<COptionUI*> WindowImplBase::OptionGroup(const QString& group) const {
    std::vector<COptionUI*> options;
    if (root_)
        for (COptionUI* option : root_->findChildren<COptionUI*>())
            if (option->Group() == group)
                options.push_back(option);
    return options;
}

void WindowImplBase::SendNotify(CControlUI* sender, const QString& type, int wParam, int lParam,
                                QPoint point) {
    if (destroyed_)
        return;
    TNotifyUI msg{type, sender, wParam, lParam, point};
    Notify(msg);
}

bool WindowImplBase::Filter(const WindowMessage& message) {
    return MessageHandler(message);
}

void WindowImplBase::SystemCommand(std::uintptr_t command) {
    switch (command) {
        case platform::SC_CLOSE:
            Destroy();
            break;
        case SC_MINIMIZE:
            showMinimized();
            break;
        case SC_MAXIMIZE:
            showMaximized();
            break;
        case platform::SC_RESTORE:
            showNormal();
            break;
        default:
            break;
    }
}

void WindowImplBase::Destroy() {
    if (destroyed_)
        return;
    destroyed_ = true;
    for (auto& [key, timer] : timers_) {
        timer->stop();
        timer->deleteLater();
    }
    timers_.clear();
    hide();
    qApp->removeEventFilter(this);
    platform::UnregisterReceiver(handle_);
    handle_ = platform::WindowHandle::Null;
    // After the current event: the final step may delete the object.
    QTimer::singleShot(0, [self = QPointer<WindowImplBase>(this)] {
        if (self)
            self->OnFinalMessage();
    });
}

bool WindowImplBase::event(QEvent* event) {
    if (event->type() == kPostedEvent) {
        const platform::Message& posted = static_cast<PostedEvent*>(event)->message;
        if (destroyed_)
            return true;
        WindowMessage message{posted.id, posted.wParam, {}, {}, &posted};
        if (Filter(message))
            return true;
        if (posted.id == platform::WM_SYSCOMMAND) {
            SystemCommand(posted.wParam);
        } else if (posted.id == platform::WM_ACTIVATE_REQUEST && isVisible()) {
            if (isMinimized())
                showNormal();
            raise();
            activateWindow();
        }
        return true;
    }
    return QWidget::event(event);
}

bool WindowImplBase::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::KeyPress && type != QEvent::MouseButtonPress)
        return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget || widget->window() != this || destroyed_)
        return false;
    // A press that a child ignores travels on to its parents; offer it once, to its first receiver.
    if (type == QEvent::KeyPress) {
        QWidget* focus = QApplication::focusWidget();
        if (widget != (focus && focus->window() == this ? focus : this))
            return false;
    } else {
        const QPoint at = mapFromGlobal(static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        QWidget* deepest = childAt(at);
        if (widget != (deepest ? deepest : this))
            return false;
    }
    if (type == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        return Filter({WM_KEYDOWN, static_cast<std::uintptr_t>(key->key()), key->modifiers(), {}, nullptr});
    }
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const QPoint point = mapFromGlobal(mouse->globalPosition().toPoint());
    if (Filter({WM_LBUTTONDOWN, 0, mouse->modifiers(), point, nullptr}))
        return true;
    return !IsInteractive(watched) && StartFrameDrag(point);
}

bool WindowImplBase::StartFrameDrag(QPoint point) {
    QWindow* handle = windowHandle();
    if (!handle)
        return false;
    if (!isMaximized()) {
        Qt::Edges edges;
        if (point.x() < sizeBox_.left())
            edges |= Qt::LeftEdge;
        if (point.x() >= width() - sizeBox_.right())
            edges |= Qt::RightEdge;
        if (point.y() < sizeBox_.top())
            edges |= Qt::TopEdge;
        if (point.y() >= height() - sizeBox_.bottom())
            edges |= Qt::BottomEdge;
        if (edges && (sizeBox_.left() || sizeBox_.top() || sizeBox_.right() || sizeBox_.bottom()))
            return handle->startSystemResize(edges);
    }
    const bool inCaption = point.y() >= caption_.top() && point.y() < caption_.bottom() &&
                           point.x() >= caption_.left() && point.x() < width() - caption_.right();
    return inCaption && handle->startSystemMove();
}

void WindowImplBase::closeEvent(QCloseEvent* event) {
    // The window manager's close goes the way of a posted system close, through the filter.
    event->ignore();
    if (!destroyed_)
        platform::PostMessage(handle_, platform::WM_SYSCOMMAND, platform::SC_CLOSE);
}

void WindowImplBase::resizeEvent(QResizeEvent*) {
    if (root_)
        root_->setGeometry(rect().marginsRemoved(root_->Padding()));
    if (!roundCorner_.isEmpty() && !isMaximized()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), roundCorner_.width(), roundCorner_.height());
        setMask(QRegion(path.toFillPolygon().toPolygon()));
    } else {
        clearMask();
    }
}

void WindowImplBase::paintEvent(QPaintEvent*) {
    if (bkColor_.isValid())
        QPainter(this).fillRect(rect(), bkColor_);
}

void WindowImplBase::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        resizeEvent(nullptr);
}
