// The command line: any arguments are parsed without a crash, and what the parser accepts is
// consistent (one request, sizes and counts in range).
#include <QString>
#include <QStringList>

#include "FuzzTarget.h"
#include "app/CommandLine.h"

int FuzzOne(const uint8_t* data, size_t size) {
    // Arguments are separated by NUL bytes, as the kernel hands them over.
    QStringList args;
    const char* text = reinterpret_cast<const char*>(data);
    size_t start = 0;
    for (size_t i = 0; i <= size; ++i) {
        if (i == size || data[i] == 0) {
            args << QString::fromUtf8(text + start, qsizetype(i - start));
            start = i + 1;
        }
    }
    const CommandLine line = ParseCommandLine(args);
    if (line.factoryMode()) {
        FUZZ_CHECK(line.rest == QStringLiteral("-FACTORYMODE=1"));
    }
    if (line.usageError.isEmpty() && line.unknownOption.isEmpty()) {
        // Accepted values lie in the ranges the capture relies on.
        const CaptureRequest& c = line.capture;
        FUZZ_CHECK(c.count >= 1);
        FUZZ_CHECK(c.warmupFrames >= 0);
        FUZZ_CHECK(c.intervalSeconds >= 0 && c.intervalSeconds <= 86400);
        FUZZ_CHECK(c.recordSeconds >= 0 && c.recordSeconds <= 86400);
        FUZZ_CHECK(c.mode != CaptureMode::Record || c.recordSeconds > 0);
        FUZZ_CHECK(!c.size.isValid() || (c.size.width() > 0 && c.size.height() > 0));
    }
    // Parsing is a function of the arguments alone.
    const CommandLine again = ParseCommandLine(args);
    FUZZ_CHECK(again.rest == line.rest && again.usageError == line.usageError &&
               again.unknownOption == line.unknownOption);
    return 0;
}
