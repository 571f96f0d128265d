#include "skinui/skin_document.h"

#include <QXmlStreamReader>

#include <map>
#include <set>

namespace {

enum class Kind { Int, Bool, Color, Rect, Size, Text, Align, IntOrRect };

using Schema = std::map<QString, Kind>;

const Schema& ControlSchema() {
    static const Schema schema = {
        {"name", Kind::Text},
        {"width", Kind::Int},
        {"height", Kind::Int},
        {"padding", Kind::Rect},
        {"bkcolor", Kind::Color},
        {"bkcolor2", Kind::Color},
        {"bordersize", Kind::IntOrRect},
        {"bordercolor", Kind::Color},
        {"bkimage", Kind::Text},
        {"visible", Kind::Bool},
        {"enabled", Kind::Bool},
        {"tooltip", Kind::Text},
        {"text", Kind::Text},
        {"font", Kind::Int},
        {"textcolor", Kind::Color},
        {"align", Kind::Align},
        {"textpadding", Kind::Rect},
        {"endellipsis", Kind::Bool},
        {"showhtml", Kind::Bool},
        {"multiline", Kind::Bool},
        {"dest", Kind::Rect},
    };
    return schema;
}

Schema Extend(std::initializer_list<std::pair<const QString, Kind>> extra) {
    Schema schema = ControlSchema();
    schema.insert(extra);
    return schema;
}

const std::map<QString, Schema>& Schemas() {
    static const std::map<QString, Schema> schemas = [] {
        std::map<QString, Schema> s;
        s["Window"] = {{"size", Kind::Size},    {"mininfo", Kind::Size},     {"caption", Kind::Rect},
                       {"sizebox", Kind::Rect}, {"roundcorner", Kind::Size}, {"bkcolor", Kind::Color}};
        s["Font"] = {{"id", Kind::Int},      {"name", Kind::Text},   {"size", Kind::Int},
                     {"bold", Kind::Bool},   {"italic", Kind::Bool}, {"underline", Kind::Bool},
                     {"default", Kind::Bool}};
        s["Default"] = {{"class", Kind::Text},
                        {"width", Kind::Int},
                        {"bkcolor", Kind::Color},
                        {"thumbcolor", Kind::Color},
                        {"thumbhotcolor", Kind::Color},
                        {"bkimage", Kind::Text},
                        {"button1normalimage", Kind::Text},
                        {"button1hotimage", Kind::Text},
                        {"button1pushedimage", Kind::Text},
                        {"button2normalimage", Kind::Text},
                        {"button2hotimage", Kind::Text},
                        {"button2pushedimage", Kind::Text},
                        {"thumbnormalimage", Kind::Text},
                        {"thumbhotimage", Kind::Text},
                        {"thumbpushedimage", Kind::Text},
                        {"thumbcorner", Kind::Rect}};
        const Schema layout = Extend({{"inset", Kind::Rect}, {"childpadding", Kind::Int}});
        s["VerticalLayout"] = layout;
        s["HorizontalLayout"] = layout;
        s["Control"] = ControlSchema();
        s["Label"] = ControlSchema();
        s["Text"] = ControlSchema();
        s["Button"] = Extend({{"normalimage", Kind::Text},
                              {"hotimage", Kind::Text},
                              {"pushedimage", Kind::Text},
                              {"disabledimage", Kind::Text}});
        s["Option"] = Extend({{"normalimage", Kind::Text},
                              {"hotimage", Kind::Text},
                              {"pushedimage", Kind::Text},
                              {"selectedimage", Kind::Text},
                              {"group", Kind::Text},
                              {"selected", Kind::Bool}});
        s["RichEdit"] = Extend({{"vscrollbar", Kind::Bool},
                                {"autovscroll", Kind::Bool},
                                {"readonly", Kind::Bool},
                                {"wantreturn", Kind::Bool},
                                {"inset", Kind::Rect}});
        s["List"] = Extend({{"header", Kind::Bool},
                            {"vscrollbar", Kind::Bool},
                            {"itemheight", Kind::Int},
                            {"itemfont", Kind::Int},
                            {"itemtextcolor", Kind::Color},
                            {"itembkcolor", Kind::Color},
                            {"itemaltbk", Kind::Bool},
                            {"itemaltbkcolor", Kind::Color},
                            {"itemselectedbkcolor", Kind::Color},
                            {"itemhotbkcolor", Kind::Color},
                            {"itemalign", Kind::Align},
                            {"itemendellipsis", Kind::Bool},
                            {"itemtextpadding", Kind::Rect},
                            {"inset", Kind::Rect}});
        s["ListHeader"] = Extend({});
        s["ListHeaderItem"] = Extend({{"sepimage", Kind::Text}, {"sepwidth", Kind::Int}});
        return s;
    }();
    return schemas;
}

bool ValidAlign(const QString& text) {
    static const std::set<QString> words = {"left", "center", "right", "top", "vcenter", "bottom"};
    for (const QString& word : text.split(' ', Qt::SkipEmptyParts))
        if (!words.count(word))
            return false;
    return true;
}

bool Valid(Kind kind, const QString& value) {
    switch (kind) {
        case Kind::Int:
            return ParseSkinInt(value).has_value();
        case Kind::Bool:
            return ParseSkinBool(value).has_value();
        case Kind::Color:
            return ParseSkinColor(value).has_value();
        case Kind::Rect:
            return ParseSkinRect(value).has_value();
        case Kind::Size:
            return ParseSkinSize(value).has_value();
        case Kind::Align:
            return ValidAlign(value);
        case Kind::IntOrRect:
            return ParseSkinInt(value).has_value() || ParseSkinRect(value).has_value();
        case Kind::Text:
            return true;
    }
    return true;
}

std::optional<std::vector<int>> Numbers(const QString& text, int count) {
    const QStringList parts = text.split(',');
    if (parts.size() != count)
        return std::nullopt;
    std::vector<int> numbers;
    for (const QString& part : parts) {
        const auto n = ParseSkinInt(part);
        if (!n)
            return std::nullopt;
        numbers.push_back(*n);
    }
    return numbers;
}

}  // namespace

bool SkinNode::Has(const QString& name) const {
    for (const auto& [key, value] : attributes)
        if (key == name)
            return true;
    return false;
}

QString SkinNode::Attr(const QString& name, const QString& fallback) const {
    for (const auto& [key, value] : attributes)
        if (key == name)
            return value;
    return fallback;
}

std::optional<QColor> ParseSkinColor(const QString& text) {
    if (text.size() != 9 || text[0] != '#')
        return std::nullopt;
    bool ok = false;
    const uint argb = text.mid(1).toUInt(&ok, 16);
    if (!ok)
        return std::nullopt;
    return QColor::fromRgba(argb);
}

std::optional<QMargins> ParseSkinRect(const QString& text) {
    const auto n = Numbers(text, 4);
    if (!n)
        return std::nullopt;
    return QMargins((*n)[0], (*n)[1], (*n)[2], (*n)[3]);
}

std::optional<QSize> ParseSkinSize(const QString& text) {
    const auto n = Numbers(text, 2);
    if (!n)
        return std::nullopt;
    return QSize((*n)[0], (*n)[1]);
}

std::optional<int> ParseSkinInt(const QString& text) {
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

std::optional<bool> ParseSkinBool(const QString& text) {
    if (text == "true")
        return true;
    if (text == "false")
        return false;
    return std::nullopt;
}

bool IsBuiltInSkinTag(const QString& tag) {
    return tag != "Window" && Schemas().count(tag) != 0;
}

SkinDocument ParseSkin(const QByteArray& xml, const QString& fileName) {
    SkinDocument document;
    if (xml.trimmed().isEmpty()) {
        document.diagnostics << QString("skin %1: empty skin file\n").arg(fileName);
        return document;
    }
    QXmlStreamReader reader(xml);
    std::vector<SkinNode*> open;
    auto report = [&](int line, const QString& what) {
        document.diagnostics << QString("skin %1 line %2: %3\n").arg(fileName).arg(line).arg(what);
    };
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            SkinNode node;
            node.tag = reader.name().toString();
            node.line = static_cast<int>(reader.lineNumber());
            const auto& schemas = Schemas();
            auto schema = schemas.find(node.tag);
            for (const auto& attribute : reader.attributes()) {
                const QString key = attribute.name().toString();
                const QString value = attribute.value().toString();
                // Unknown tags are custom controls: the control made by the window's hook checks
                // its own attributes when it is built.
                if (schema == schemas.end()) {
                    node.attributes.emplace_back(key, value);
                    continue;
                }
                const Schema& allowed = schema->second;
                auto kind = allowed.find(key);
                if (kind == allowed.end()) {
                    report(node.line, QString("unknown attribute %1 of %2").arg(key, node.tag));
                    continue;
                }
                if (!Valid(kind->second, value)) {
                    report(node.line, QString("bad value \"%1\" for %2 of %3").arg(value, key, node.tag));
                    continue;
                }
                node.attributes.emplace_back(key, value);
            }
            if (open.empty()) {
                if (node.tag != "Window") {
                    report(node.line, "the root element must be Window, not " + node.tag);
                    return document;
                }
                document.root = std::move(node);
                open.push_back(&document.root);
            } else {
                open.back()->children.push_back(std::move(node));
                open.push_back(&open.back()->children.back());
            }
        } else if (token == QXmlStreamReader::EndElement) {
            if (!open.empty())
                open.pop_back();
        }
    }
    if (reader.hasError()) {
        report(static_cast<int>(reader.lineNumber()), "broken XML: " + reader.errorString());
        document.ok = false;
        // What was read before the break still builds a window.
        return document;
    }
    document.ok = !document.root.tag.isEmpty();
    if (!document.ok)
        report(0, "empty skin file");
    return document;
}
