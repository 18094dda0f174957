#pragma once

#include <unistd.h>
#include <QByteArray>
#include <QFile>
#include <QString>

#include "support/QStringPrinter.h"

// Small file helpers shared by the tests.
inline QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QByteArray();
    }
    return file.readAll();
}

inline bool WriteBytes(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

inline QByteArray Utf8(const char* text) {
    return QByteArray(text);
}

// Permission checks are meaningless for the superuser, who may write anywhere.
inline bool RunningAsRoot() {
    return geteuid() == 0;
}
