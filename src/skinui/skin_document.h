#pragma once
// The skin format: an XML tree of <Window> with <Font>, <Default> and one root layout of controls.
// ParseSkin reads it into nodes and checks every attribute against the schema of its tag; each
// problem becomes one diagnostic text (ending with a line feed), and parsing goes on where it can.

#include <QColor>
#include <QMargins>
#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

struct SkinNode {
    QString tag;
    std::vector<std::pair<QString, QString>> attributes;  // in document order
    std::vector<SkinNode> children;
    int line = 0;

    bool Has(const QString& name) const;
    QString Attr(const QString& name, const QString& fallback = {}) const;
};

struct SkinDocument {
    SkinNode root;  // <Window>, or empty when the file could not be read at all
    QStringList diagnostics;
    bool ok = false;
};

// Tags a window may resolve through its custom-control hook are accepted with any attribute of a
// plain control.
SkinDocument ParseSkin(const QByteArray& xml, const QString& fileName);

// Value forms: colours "#AARRGGBB", rectangles "l,t,r,b", sizes "w,h", integers, booleans.
std::optional<QColor> ParseSkinColor(const QString& text);
std::optional<QMargins> ParseSkinRect(const QString& text);
std::optional<QSize> ParseSkinSize(const QString& text);
std::optional<int> ParseSkinInt(const QString& text);
std::optional<bool> ParseSkinBool(const QString& text);

// True when the tag is one of the framework's own controls or layouts.
bool IsBuiltInSkinTag(const QString& tag);
