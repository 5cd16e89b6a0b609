#include "platform/json.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace platform {

std::string compactJsonObject(const JsonMembers& members) {
    QJsonObject object;
    for (const auto& [key, value] : members) {
        const QString k = QString::fromStdString(key);
        std::visit(
            [&](const auto& v) {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::string>)
                    object.insert(k, QString::fromStdString(v));
                else
                    object.insert(k, v);
            },
            value);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace platform
