#include "platform/resources.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>

#include "platform/files.h"

namespace platform {

std::string resourceFolder() {
    // applicationDirPath resolves /proc/self/exe, so links and the working
    // folder play no part and the app folder can be moved anywhere.
    const QString bin = QCoreApplication::applicationDirPath();
    return QDir::cleanPath(bin + "/../Resources").toStdString();
}

std::optional<std::string> resourcePath(const std::string& name, const std::string& extension) {
    std::string path = joinPath(resourceFolder(), name + "." + extension);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return path;
}

bool registerFontForProcess(const std::string& path) {
    return QFontDatabase::addApplicationFont(QString::fromStdString(path)) >= 0;
}

bool fontFamilyAvailable(const std::string& family) {
    return QFontDatabase::hasFamily(QString::fromStdString(family));
}

}  // namespace platform
