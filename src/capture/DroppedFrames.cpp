#include "capture/DroppedFrames.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcFrames, "tavrel.capture.frames")

void DroppedFrames::add(std::string_view reason) {
    const uint64_t count = m_count.fetch_add(1) + 1;
    if (m_loggedThisStream) {
        return;
    }
    m_loggedThisStream = true;
    qCWarning(lcFrames).noquote() << m_camera << "dropped a frame:"
                                  << QString::fromUtf8(reason.data(), qsizetype(reason.size()))
                                  << QStringLiteral(
                                         "(%1 dropped so far; later drops of this "
                                         "stream are only counted)")
                                         .arg(count);
}
