#include "skinui/skin_resources.h"

#include <QFont>

SkinResources& SkinResources::Instance() {
    static SkinResources resources;
    return resources;
}

void SkinResources::SetFileSource(FileSource source) {
    source_ = std::move(source);
    images_.clear();
}

void SkinResources::SetDiagnosticHook(DiagnosticHook hook) {
    hook_ = std::move(hook);
}

void SkinResources::Clear() {
    images_.clear();
    source_ = nullptr;
}

std::optional<QByteArray> SkinResources::ReadFile(const QString& name) {
    std::optional<QByteArray> data = source_ ? source_(name) : std::nullopt;
    if (!data)
        Diagnose("skin file not found: " + name);
    return data;
}

QPixmap SkinResources::Image(const QString& name) {
    if (name.isEmpty())
        return {};
    auto cached = images_.find(name);
    if (cached != images_.end())
        return cached.value();
    QPixmap pixmap;
    if (const auto data = ReadFile(name); data && !pixmap.loadFromData(*data))
        Diagnose("skin image cannot be decoded: " + name);
    images_.insert(name, pixmap);
    return pixmap;
}

void SkinResources::Diagnose(QString text) {
    if (!text.endsWith('\n'))
        text += '\n';
    if (hook_)
        hook_(text.toStdWString());
}

void SkinResources::InstallFontSubstitutions() {
    for (const char* face : {"微软雅黑", "Microsoft YaHei"})
        QFont::insertSubstitutions(QString::fromUtf8(face),
                                   {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Sans Serif"});
}
