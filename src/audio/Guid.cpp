#include "Guid.h"

#include <QByteArray>
#include <QUuid>

namespace tw {

Guid GuidForName(const std::string& name) {
    static const QUuid kNamespace("{5d3e1b7a-0c2f-4e61-9a8b-7f4c2d1e6b30}");
    const QUuid u = QUuid::createUuidV5(kNamespace, QByteArray::fromStdString(name));
    Guid g{};
    for (int i = 0; i < 4; ++i) g[i] = static_cast<uint8_t>(u.data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) g[4 + i] = static_cast<uint8_t>(u.data2 >> (8 * i));
    for (int i = 0; i < 2; ++i) g[6 + i] = static_cast<uint8_t>(u.data3 >> (8 * i));
    for (int i = 0; i < 8; ++i) g[8 + i] = u.data4[i];
    return g;
}

bool IsNullGuid(const Guid& guid) {
    for (uint8_t b : guid)
        if (b) return false;
    return true;
}

std::string GuidText(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text,
                  "{%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x}", g[3],
                  g[2], g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13],
                  g[14], g[15]);
    return text;
}

}  // namespace tw
