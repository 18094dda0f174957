#include "app/CommandLine.h"

#include <QtGlobal>

namespace {
constexpr char kFactorySwitch[] = "-FACTORYMODE=1";
}

bool CommandLine::factoryMode() const {
    return rest == QLatin1String(kFactorySwitch);
}

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine result;
    QStringList rest;
    for (const QString& arg : args) {
        if (arg == QLatin1String("-h")) {
            result.showHelp = true;
        } else if (!arg.startsWith(QLatin1String("--"))) {
            // Kept as given, empty arguments included, so that anything beyond the bare factory
            // switch (a trailing blank, a second argument) leaves factory mode off.
            rest.append(arg);
        } else if (arg == QLatin1String("--help")) {
            result.showHelp = true;
        } else if (arg == QLatin1String("--version")) {
            result.showVersion = true;
        } else if (arg == QLatin1String("--virtual-camera")) {
            result.virtualCamera = true;
        } else if (result.unknownOption.isEmpty()) {
            result.unknownOption = arg;
        }
    }
    result.rest = rest.join(u' ');
    if (qgetenv("TAVREL_VIRTUAL_CAMERA") == "1") {
        result.virtualCamera = true;
    }
    return result;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: tavrel [options] [-FACTORYMODE=1]\n"
        "\n"
        "Viewer and controller for USB microscope cameras.\n"
        "\n"
        "Options:\n"
        "  -h, --help        show this text and exit\n"
        "  --version         show the program version and exit\n"
        "  --virtual-camera  offer the built-in virtual camera (also TAVREL_VIRTUAL_CAMERA=1)\n"
        "  -FACTORYMODE=1    factory mode: camera properties, pan and zoom, parameters in\n"
        "                    flash; must be the only argument besides the options above\n");
}
