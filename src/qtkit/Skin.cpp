#include "Skin.h"

#include <QFile>
#include <QString>
#include <QWidget>

static void InitResources() {
    Q_INIT_RESOURCE(tonewell);
}

namespace tw {
namespace {
QString g_sheet;
bool g_loaded = false;
}  // namespace

void InitSkin() {
    InitResources();
    QFile file(":/tonewell/skin.qss");
    if (file.open(QIODevice::ReadOnly)) g_sheet = QString::fromUtf8(file.readAll());
    g_loaded = true;
}

void ApplySkin(QWidget* window, const char* skinObject) {
    if (!g_loaded) InitSkin();
    window->setObjectName(skinObject);
    window->setStyleSheet(g_sheet);
}

void ShutdownSkin() {
    g_sheet.clear();
    g_loaded = false;
}

}  // namespace tw
