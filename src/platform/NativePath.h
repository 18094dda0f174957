#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// File names as the kernel holds them: bytes, usually but not always UTF-8. Qt's own
// conversions (QFile::encodeName, QString::fromLocal8Bit) turn bytes that are not UTF-8 into
// U+FFFD, so a name such as "caf\xE9.jpg" from the command line would name another file. These
// two keep every byte: a byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC80..U+DCFF in the text and that byte again in the name. Valid UTF-8 converts as Qt
// converts it. The file module (platform/FileWrite) names every file through NativePath().

// A name from the system (argv, readdir) as text, losslessly.
QString PathFromNative(QByteArrayView bytes);
// The bytes of a name for the system calls; the inverse of PathFromNative. A lone surrogate
// that stands for no byte becomes U+FFFD.
QByteArray NativePath(const QString& path);
