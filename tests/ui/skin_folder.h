#pragma once
// Window tests read the real skin files and images from the source tree's skin folder.

#include "skinui/skin_resources.h"

#include <QFile>

#include <optional>

inline void UseSkinFolder() {
    SkinResources::Instance().SetFileSource([](const QString& name) -> std::optional<QByteArray> {
        QFile file(QString(PARLATTO_SKIN_DIR) + "/" + name);
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    });
}
