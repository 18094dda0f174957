#include <gtest/gtest.h>

#include <QRandomGenerator>

#include "platform/NativePath.h"

// Any bytes survive the trip through text, and text that is valid UTF-8 reads as Qt reads it.
TEST(NativePath, EveryByteStringRoundTripsAndUtf8ReadsAsQtReadsIt) {
    QRandomGenerator random(30);
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes(random.bounded(1, 12), '\0');
        for (char& b : bytes) {
            // Mostly the bytes of names and of UTF-8 sequences, to hit valid and broken ones.
            const char pool[] = "a/.\x7F\x80\xBF\xC0\xC2\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFF";
            b = random.bounded(3) == 0 ? char(random.bounded(256))
                                       : pool[random.bounded(int(sizeof pool - 1))];
        }
        bytes.replace('\0', 'x');
        const QString text = PathFromNative(bytes);
        ASSERT_EQ(NativePath(text), bytes) << bytes.toHex().constData();
        const QString qt = QString::fromUtf8(bytes);
        if (!qt.contains(QChar(0xFFFD))) {
            EXPECT_EQ(text, qt) << bytes.toHex().constData();
        }
    }
    EXPECT_EQ(NativePath(QString::fromUtf8("日本語/😀.jpg")), QByteArray("日本語/😀.jpg"));
}
