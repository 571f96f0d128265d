#pragma once
// What the skinned windows of the process share: where skin files come from (the embedded
// archive in the program, a map in tests), the images decoded from them, the font substitution
// for the skins' faces, and the diagnostic hook that hears of everything that could not be found.

#include <QByteArray>
#include <QHash>
#include <QPixmap>
#include <QString>

#include <functional>
#include <optional>
#include <string>

class SkinResources {
public:
    using FileSource = std::function<std::optional<QByteArray>(const QString& name)>;
    using DiagnosticHook = std::function<void(const std::wstring& text)>;

    static SkinResources& Instance();

    void SetFileSource(FileSource source);
    void SetDiagnosticHook(DiagnosticHook hook);
    // Releases the cached images and the file source (the program's teardown step).
    void Clear();

    // A skin file or image; a missing one is reported and gives nullopt.
    std::optional<QByteArray> ReadFile(const QString& name);
    // A decoded image, cached; a missing or broken one is reported and gives a null pixmap.
    QPixmap Image(const QString& name);
    // One diagnostic text; a line feed is added when it has none.
    void Diagnose(QString text);

    // Maps the skins' font faces to an installed CJK sans serif.
    static void InstallFontSubstitutions();

private:
    FileSource source_;
    DiagnosticHook hook_;
    QHash<QString, QPixmap> images_;
};
