#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>

#include "platform/FileWrite.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace {

const QByteArray kNew = "new contents\n";
const QByteArray kOld = "the old, longer contents of the file\n";
const QByteArray kVictim = "a file that must never be written\n";

// A path as the system calls take it.
std::string Native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// What stands at the path before the write.
enum class Entry {
    Missing,
    Regular,
    LinkInside,    // symlink to another file of the same folder
    LinkOutside,   // symlink to a file in another folder
    DanglingLink,  // symlink to nothing
    Fifo,          // without a reader, except for the user-named row, which has one
    Directory,
    ForeignLinkInSticky,  // in a sticky folder, a symlink owned by another user
};

// A folder with the path to write, a file beside it and one outside it that links may name.
struct Scene {
    QTemporaryDir root;
    QString folder = root.path() + QStringLiteral("/folder");
    QString path = folder + QStringLiteral("/file.bin");
    QString inside = folder + QStringLiteral("/other.bin");
    QString outside = root.path() + QStringLiteral("/outside/victim.bin");
    QString nowhere = root.path() + QStringLiteral("/nowhere.bin");

    Scene() {
        QDir().mkpath(folder);
        QDir().mkpath(root.path() + QStringLiteral("/outside"));
        WriteBytes(inside, kVictim);
        WriteBytes(outside, kVictim);
    }
    std::string name() const { return Native(path); }
    // Lets another account reach the folder (a temporary folder is its owner's only).
    void openToOthers() const { ::chmod(Native(root.path()).c_str(), 0755); }
    bool tempFilesLeft() const {
        return !QDir(folder)
                    .entryList({QStringLiteral(".tavrel-*")}, QDir::Hidden | QDir::Files)
                    .isEmpty();
    }
};

// Sets the scene up; false when this account cannot (another user's link needs root).
bool Prepare(Scene& s, Entry entry) {
    const std::string n = s.name();
    const char* name = n.c_str();
    switch (entry) {
        case Entry::Missing:
            return true;
        case Entry::Regular:
            return WriteBytes(s.path, kOld) && ::chmod(name, 0640) == 0;
        case Entry::LinkInside:
            return ::symlink("other.bin", name) == 0;
        case Entry::LinkOutside:
            return ::symlink(Native(s.outside).c_str(), name) == 0;
        case Entry::DanglingLink:
            return ::symlink(Native(s.nowhere).c_str(), name) == 0;
        case Entry::Fifo:
            return ::mkfifo(name, 0600) == 0;
        case Entry::Directory:
            return ::mkdir(name, 0700) == 0;
        case Entry::ForeignLinkInSticky:
            return RunningAsRoot() && ::chmod(Native(s.folder).c_str(), 01777) == 0 &&
                   ::symlink(Native(s.outside).c_str(), name) == 0 &&
                   ::lchown(name, 12345, 12345) == 0;
    }
    return false;
}

}  // namespace

// Every kind of entry under every policy: what is written, what is refused, and that nothing
// but the path itself ever changes.
TEST(FileWrite, WritesOnlyWhatEachPolicyAllows) {
    using P = FilePolicy;
    struct Row {
        const char* what;
        Entry entry;
        FilePolicy policy;
        int error;  // 0: written
    };
    const Row rows[] = {
        {"regular file, parameter memory", Entry::Regular, P::RegularInFolder, 0},
        {"regular file, own file", Entry::Regular, P::OwnFile, 0},
        {"regular file, user-named", Entry::Regular, P::UserNamed, 0},
        {"missing, parameter memory", Entry::Missing, P::RegularInFolder, 0},
        {"missing, user-named", Entry::Missing, P::UserNamed, 0},
        {"link inside the folder, parameter memory", Entry::LinkInside, P::RegularInFolder, ELOOP},
        {"link inside the folder, own file", Entry::LinkInside, P::OwnFile, 0},
        {"link outside the folder, parameter memory", Entry::LinkOutside, P::RegularInFolder,
         ELOOP},
        {"link outside the folder, own file", Entry::LinkOutside, P::OwnFile, 0},
        {"link outside the folder, user-named", Entry::LinkOutside, P::UserNamed, 0},
        {"dangling link, parameter memory", Entry::DanglingLink, P::RegularInFolder, ELOOP},
        {"dangling link, user-named", Entry::DanglingLink, P::UserNamed, 0},
        {"FIFO, parameter memory", Entry::Fifo, P::RegularInFolder, ENOTSUP},
        {"FIFO, own file", Entry::Fifo, P::OwnFile, ENOTSUP},
        {"FIFO with a reader, user-named", Entry::Fifo, P::UserNamed, 0},
        {"folder, own file", Entry::Directory, P::OwnFile, EISDIR},
        {"folder, user-named", Entry::Directory, P::UserNamed, EISDIR},
        {"another user's link in a sticky folder, user-named", Entry::ForeignLinkInSticky,
         P::UserNamed, ELOOP},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scene s;
        if (!Prepare(s, row.entry)) {
            ASSERT_EQ(row.entry, Entry::ForeignLinkInSticky) << "set-up failed";
            std::printf("[ skipped  ] %s: needs root to give a link another owner\n", row.what);
            continue;
        }
        const FileKind before = InspectPath(s.path).kind;
        UniqueFd reader;
        if (row.entry == Entry::Fifo && row.policy == P::UserNamed) {
            reader.reset(::open(s.name().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
        }

        const FileResult result = WriteWholeFile(s.path, kNew, row.policy);

        EXPECT_EQ(result.error, row.error) << result.describe().toStdString();
        EXPECT_EQ(ReadBytes(s.outside), kVictim);
        EXPECT_EQ(ReadBytes(s.inside), kVictim);
        EXPECT_FALSE(QFile::exists(s.nowhere));
        EXPECT_FALSE(s.tempFilesLeft());
        if (row.error != 0) {
            EXPECT_EQ(result.step, FileStep::Refuse);
            EXPECT_EQ(InspectPath(s.path).kind, before);
            if (before == FileKind::Regular) {
                EXPECT_EQ(ReadBytes(s.path), kOld);
            }
        } else if (row.entry == Entry::Fifo) {
            EXPECT_EQ(InspectPath(s.path).kind, FileKind::Fifo);
            QByteArray got(64, '\0');
            got.resize(qMax<qsizetype>(0, ::read(reader.get(), got.data(), got.size())));
            EXPECT_EQ(got, kNew);
        } else {
            const FileStatus after = InspectPath(s.path);
            EXPECT_EQ(after.kind, FileKind::Regular);
            EXPECT_EQ(ReadBytes(s.path), kNew);
            if (row.entry == Entry::Regular) {
                EXPECT_EQ(after.mode, 0640u) << "the replacement keeps the file's permissions";
            }
        }
    }
}

// Reading the parameter memory: only a regular file is read, and nothing blocks.
TEST(FileWrite, ReadsOnlyRegularFilesWithoutBlocking) {
    struct Row {
        const char* what;
        Entry entry;
        qint64 maxBytes;
        int error;
        QByteArray bytes;
    };
    const Row rows[] = {
        {"regular file", Entry::Regular, 1024, 0, kOld},
        {"longer than wanted: one byte more shows it", Entry::Regular, 4, 0, kOld.left(5)},
        {"missing", Entry::Missing, 1024, ENOENT, {}},
        {"link", Entry::LinkOutside, 1024, ELOOP, {}},
        {"FIFO without a writer", Entry::Fifo, 1024, ENOTSUP, {}},
        {"folder", Entry::Directory, 1024, EISDIR, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scene s;
        ASSERT_TRUE(Prepare(s, row.entry));
        const FileContent content = ReadRegularFile(s.path, row.maxBytes);
        EXPECT_EQ(content.result.error, row.error) << content.result.describe().toStdString();
        EXPECT_EQ(content.bytes, row.bytes);
    }

    // Permissions count only for an ordinary account.
    Scene s;
    ASSERT_TRUE(Prepare(s, Entry::Regular));
    ASSERT_EQ(::chmod(s.name().c_str(), 0600), 0);
    s.openToOthers();
    const ChildOutcome outcome = RunInChild([&] {
        BecomeNobody();
        const FileContent content = ReadRegularFile(s.path, 1024);
        EXPECT_EQ(content.result.error, EACCES);
        EXPECT_EQ(content.result.step, FileStep::Open);
    });
    EXPECT_NE(outcome, ChildOutcome::Failed);
}

// A device is written into and stays a device; its errors come back as they are. /dev/null and
// /dev/full are bound over files of a private mount namespace, so a fault could never replace
// the system's own.
TEST(FileWrite, WritesIntoCharacterDevices) {
    Scene s;
    const QString nullPath = s.folder + QStringLiteral("/null");
    const QString fullPath = s.folder + QStringLiteral("/full");
    WriteBytes(nullPath, QByteArray());
    WriteBytes(fullPath, QByteArray());
    const ChildOutcome outcome = RunInChild([&] {
        const int flags = RunningAsRoot() ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS;
        if (::unshare(flags) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("/dev/null", Native(nullPath).c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("/dev/full", Native(fullPath).c_str(), nullptr, MS_BIND, nullptr) != 0) {
            SkipChild();
        }
        EXPECT_EQ(InspectPath(nullPath).kind, FileKind::CharDevice);

        OutputFile out = OutputFile::open(nullPath, FilePolicy::UserNamed);
        EXPECT_EQ(out.target(), OutputTarget::Device);
        EXPECT_FALSE(out.createdHere());
        EXPECT_TRUE(out.write(kNew).ok());
        EXPECT_TRUE(out.commit().ok());
        EXPECT_EQ(InspectPath(nullPath).kind, FileKind::CharDevice);

        EXPECT_EQ(WriteWholeFile(nullPath, kNew, FilePolicy::RegularInFolder).error, ENOTSUP);
        const FileResult onFull = WriteWholeFile(fullPath, kNew, FilePolicy::UserNamed);
        EXPECT_EQ(onFull.error, ENOSPC);
        EXPECT_EQ(onFull.step, FileStep::Write);
        EXPECT_EQ(InspectPath(fullPath).kind, FileKind::CharDevice);
    });
    if (outcome == ChildOutcome::Skipped) {
        GTEST_SKIP() << "no private mount namespace here (unshare refused): devices not tried";
    }
    EXPECT_EQ(outcome, ChildOutcome::Passed);
}

// A file-size limit and a full disk fail the write with their own errno; the old file stays
// whole and no temporary file is left.
TEST(FileWrite, SizeLimitAndFullDiskKeepTheOldFile) {
    const QByteArray big(256 * 1024, 'x');
    Scene limited;
    ASSERT_TRUE(Prepare(limited, Entry::Regular));
    EXPECT_EQ(RunInChild([&] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{64 * 1024, 64 * 1024};
                  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
                  for (FilePolicy policy : {FilePolicy::RegularInFolder, FilePolicy::UserNamed}) {
                      const FileResult result = WriteWholeFile(limited.path, big, policy);
                      EXPECT_EQ(result.error, EFBIG);
                      EXPECT_EQ(result.step, FileStep::Write);
                  }
              }),
              ChildOutcome::Passed);
    EXPECT_EQ(ReadBytes(limited.path), kOld);
    EXPECT_FALSE(limited.tempFilesLeft());

    Scene full;
    ASSERT_TRUE(Prepare(full, Entry::Regular));
    const std::string folder = Native(full.folder);
    const ChildOutcome outcome = RunInChild([&] {
        const int flags = RunningAsRoot() ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS;
        if (::unshare(flags) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0) {
            SkipChild();
        }
        WriteBytes(full.path, kOld);
        const FileResult result = WriteWholeFile(full.path, big, FilePolicy::OwnFile);
        EXPECT_EQ(result.error, ENOSPC) << result.describe().toStdString();
        EXPECT_EQ(ReadBytes(full.path), kOld);
        EXPECT_FALSE(full.tempFilesLeft());
    });
    if (outcome == ChildOutcome::Skipped) {
        GTEST_SKIP() << "no tmpfs in a private mount namespace here: the full disk not tried";
    }
    EXPECT_EQ(outcome, ChildOutcome::Passed);
}

// /dev/stdout and /proc/self/fd/1 are the program's output, also when that is a file: the bytes
// go there, after what it holds, and nothing is renamed.
TEST(FileWrite, StandardOutputIsWrittenWhereItGoes) {
    Scene s;
    ASSERT_TRUE(WriteBytes(s.path, "before\n"));
    EXPECT_EQ(RunInChild([&] {
                  const int fd = ::open(s.name().c_str(), O_WRONLY | O_APPEND);
                  ASSERT_GE(fd, 0);
                  ::dup2(fd, STDOUT_FILENO);
                  for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
                      OutputFile out =
                          OutputFile::open(QString::fromLatin1(name), FilePolicy::UserNamed);
                      EXPECT_EQ(out.target(), OutputTarget::StandardOutput) << name;
                      EXPECT_TRUE(out.write(kNew).ok());
                      EXPECT_TRUE(out.commit().ok());
                  }
                  EXPECT_EQ(InspectPath(QStringLiteral("/dev/stdout")).kind, FileKind::Symlink);
              }),
              ChildOutcome::Passed);
    EXPECT_EQ(ReadBytes(s.path), "before\n" + kNew + kNew);
}

// A recording streams into its file and must know what it may remove: a file it created, never
// one that was there or a FIFO. A user's existing file in a folder closed to the program is
// written in place.
TEST(FileWrite, StreamingKnowsWhatItCreated) {
    Scene s;
    OutputFile created = OutputFile::open(s.path, FilePolicy::UserNamed, WriteMode::InPlace);
    EXPECT_EQ(created.target(), OutputTarget::NewFile);
    EXPECT_TRUE(created.createdHere());
    EXPECT_EQ(InspectPath(s.path).kind, FileKind::Regular) << "visible while it grows";
    created.discard();
    EXPECT_EQ(InspectPath(s.path).kind, FileKind::Missing);

    ASSERT_TRUE(Prepare(s, Entry::Regular));
    {
        OutputFile existing = OutputFile::open(s.path, FilePolicy::UserNamed, WriteMode::InPlace);
        EXPECT_EQ(existing.target(), OutputTarget::ExistingFile);
        EXPECT_FALSE(existing.createdHere());
    }  // dropped without commit
    EXPECT_EQ(InspectPath(s.path).kind, FileKind::Regular);

    ASSERT_TRUE(WriteBytes(s.path, kOld));
    ASSERT_EQ(::chmod(s.name().c_str(), 0666), 0);
    ASSERT_EQ(::chmod(Native(s.folder).c_str(), 0555), 0);
    s.openToOthers();
    const ChildOutcome outcome = RunInChild([&] {
        BecomeNobody();
        const FileResult inPlace = WriteWholeFile(s.path, kNew, FilePolicy::UserNamed);
        EXPECT_TRUE(inPlace.ok()) << inPlace.describe().toStdString();
        EXPECT_EQ(WriteWholeFile(s.path, kNew, FilePolicy::RegularInFolder).error, EACCES);
    });
    ::chmod(Native(s.folder).c_str(), 0755);
    EXPECT_NE(outcome, ChildOutcome::Failed);
    if (outcome == ChildOutcome::Passed) {
        EXPECT_EQ(ReadBytes(s.path), kNew) << "written in place and cut to its new length";
    }
}
