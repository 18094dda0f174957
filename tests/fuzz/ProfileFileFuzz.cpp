// Settings files: starting from any file content, a series of writes through ProfileFile must
// read back exactly as written, each key keeping the last value written to it, and a refused
// write must leave the file as it was.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <vector>

#include "FuzzTarget.h"
#include "settings/ProfileFile.h"

namespace {

// A text from a length-prefixed run of input bytes, read as UTF-8.
QString Field(FuzzInput& in) {
    size_t got = 0;
    const uint8_t* bytes = in.take(in.byte() % 48, &got);
    return QString::fromUtf8(reinterpret_cast<const char*>(bytes), qsizetype(got));
}

bool IsBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\v' || c == u'\f';
}

// The name as ProfileFile looks it up: blanks and tabs at either end do not count.
QString Trimmed(QString name) {
    while (!name.isEmpty() && IsBlank(name.front())) {
        name.remove(0, 1);
    }
    while (!name.isEmpty() && IsBlank(name.back())) {
        name.chop(1);
    }
    return name;
}

// Whether ProfileFile accepts the (trimmed) name.
bool UsableName(const QString& name, bool isSection) {
    if (name.isEmpty()) {
        return false;
    }
    if (name.contains(u'\n') || name.contains(u'\r') || name.contains(QChar(0))) {
        return false;
    }
    if (isSection) {
        return !name.contains(u']');
    }
    return !name.contains(u'=') && !name.startsWith(u'[') && !name.startsWith(u';');
}

bool SameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

struct Written {
    QString section;
    QString key;
    QString value;
};

}  // namespace

int FuzzOne(const uint8_t* data, size_t size) {
    // One file per process, removed after each input, in memory where the system has it: every
    // write syncs the file to disk, which on a real disk would make the run crawl.
    const QString folder =
        QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    const QString path =
        QStringLiteral("%1/tavrel-fuzz-%2.ini").arg(folder).arg(QCoreApplication::applicationPid());
    QFile::remove(path);

    FuzzInput in(data, size);
    const uint8_t flags = in.byte();
    if (flags & 1) {  // otherwise the file is missing at first
        size_t got = 0;
        const uint8_t* initial = in.take(in.word() % 2048, &got);
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly));
        FUZZ_CHECK(file.write(reinterpret_cast<const char*>(initial), qint64(got)) == qint64(got));
    }

    ProfileFile profile(path);
    const ProfileFile::State state = profile.state();
    const bool writable =
        state == ProfileFile::State::Missing || state == ProfileFile::State::Loaded;
    std::vector<Written> written;
    for (int i = 0; i < 8 && !in.empty(); ++i) {
        Written w{Field(in), Field(in), Field(in)};
        const bool usable = UsableName(Trimmed(w.section), true) &&
                            UsableName(Trimmed(w.key), false) && !w.value.contains(u'\n') &&
                            !w.value.contains(u'\r') && !w.value.contains(QChar(0));
        const QByteArray before = Contents(path);
        const bool ok = profile.writeString(w.section, w.key, w.value);
        if (!ok) {
            FUZZ_CHECK(Contents(path) == before);  // a refused write changes nothing
            FUZZ_CHECK(!usable || !writable);      // and only bad names or files are refused
            continue;
        }
        FUZZ_CHECK(writable);
        // The lookups below use the names as given; which writes name the same key is decided
        // on the names as the file holds them.
        written.push_back(w);
        // Every key written so far reads the last value written to it.
        for (size_t k = 0; k < written.size(); ++k) {
            const Written& earlier = written[k];
            QString expected = earlier.value;
            for (size_t later = k + 1; later < written.size(); ++later) {
                if (SameName(Trimmed(written[later].section), Trimmed(earlier.section)) &&
                    SameName(Trimmed(written[later].key), Trimmed(earlier.key))) {
                    expected = written[later].value;
                }
            }
            const QString read =
                profile.readString(earlier.section, earlier.key, QStringLiteral("\n<default>"),
                                   ProfileFile::kWholeValue);
            if (read != expected) {
                std::fprintf(stderr, "[%s] %s: wrote \"%s\", read \"%s\"\n",
                             qPrintable(earlier.section), qPrintable(earlier.key),
                             qPrintable(expected), qPrintable(read));
                std::fprintf(stderr, "file: %s\n", Contents(path).toPercentEncoding().constData());
            }
            FUZZ_CHECK(read == expected);
        }
        FUZZ_CHECK(profile.state() == ProfileFile::State::Loaded);
    }
    QFile::remove(path);
    return 0;
}
