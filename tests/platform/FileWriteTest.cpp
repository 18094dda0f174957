#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <csignal>

#include "platform/FileWrite.h"
#include "platform/NativePath.h"
#include "support/ChildProcess.h"
#include "support/TestFiles.h"

namespace {

const QByteArray kNew = "new contents\n";
const QByteArray kOld = "the old, longer contents of the file\n";
const QByteArray kVictim = "a file that must never be written\n";

enum class Entry { Missing, Regular, LinkInside, LinkOutside, Dangling, Fifo, Folder, ForeignLink };

// A folder with the path to write, a file beside it and one outside it that links may name.
struct Scene {
    QTemporaryDir root;
    QString folder = root.path() + "/folder";
    QString path = folder + "/file.bin";
    QString inside = folder + "/other.bin";
    QString outside = root.path() + "/victim.bin";
    QString nowhere = root.path() + "/nowhere.bin";
    QByteArray name = NativePath(path);

    Scene() {
        QDir().mkpath(folder);
        WriteBytes(inside, kVictim);
        WriteBytes(outside, kVictim);
    }
    bool tempFilesLeft() const {
        return !QDir(folder).entryList({".tavrel-*"}, QDir::Hidden | QDir::Files).isEmpty();
    }
    // Sets the entry up; false when this account cannot (another user's link needs root).
    bool prepare(Entry entry) {
        const char* n = name.constData();
        // clang-format off
        switch (entry) {
        case Entry::Missing: return true;
        case Entry::Regular: return WriteBytes(path, kOld);
        case Entry::LinkInside: return ::symlink("other.bin", n) == 0;
        case Entry::LinkOutside: return ::symlink(NativePath(outside).constData(), n) == 0;
        case Entry::Dangling: return ::symlink(NativePath(nowhere).constData(), n) == 0;
        case Entry::Fifo: return ::mkfifo(n, 0600) == 0;
        case Entry::Folder: return ::mkdir(n, 0700) == 0;
        case Entry::ForeignLink:  // in a sticky folder, owned by another user
            return RunningAsRoot() && ::chmod(NativePath(folder).constData(), 01777) == 0 &&
                   prepare(Entry::LinkOutside) && ::lchown(n, 12345, 12345) == 0;
        }
        // clang-format on
        return false;
    }
};

// A child in a private mount namespace (so that a fault can never reach the system's files),
// or a skipped child where unshare is refused.
void EnterPrivateMountNamespace() {
    const int flags = RunningAsRoot() ? CLONE_NEWNS : CLONE_NEWUSER | CLONE_NEWNS;
    if (::unshare(flags) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        SkipChild();
    }
}

}  // namespace

// Every kind of entry under every policy: what is written, what is refused, and that nothing
// but the path itself ever changes.
TEST(FileWrite, WritesOnlyWhatEachPolicyAllows) {
    using P = FilePolicy;
    struct Row {
        Entry entry;
        FilePolicy policy;
        int error;  // 0: written
    };
    // clang-format off
    const Row rows[] = {
        {Entry::Regular, P::RegularInFolder, 0},          {Entry::Regular, P::UserNamed, 0},
        {Entry::Missing, P::RegularInFolder, 0},          {Entry::Missing, P::UserNamed, 0},
        {Entry::LinkInside, P::RegularInFolder, ELOOP},   {Entry::LinkInside, P::OwnFile, 0},
        {Entry::LinkOutside, P::RegularInFolder, ELOOP},  {Entry::LinkOutside, P::OwnFile, 0},
        {Entry::LinkOutside, P::UserNamed, 0},            {Entry::Dangling, P::RegularInFolder, ELOOP},
        {Entry::Dangling, P::UserNamed, 0},               {Entry::Fifo, P::RegularInFolder, ENOTSUP},
        {Entry::Fifo, P::OwnFile, ENOTSUP},               {Entry::Fifo, P::UserNamed, 0},
        {Entry::Folder, P::OwnFile, EISDIR},              {Entry::Folder, P::UserNamed, EISDIR},
        {Entry::ForeignLink, P::UserNamed, ELOOP},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << "entry " << int(row.entry) << ", policy " << int(row.policy));
        Scene s;
        if (!s.prepare(row.entry)) {
            ASSERT_EQ(row.entry, Entry::ForeignLink) << "set-up failed";
            std::printf("[ skipped  ] another user's link: needs root to give a link an owner\n");
            continue;
        }
        const FileKind before = InspectPath(s.path).kind;
        // The user-named FIFO has a reader (so the open does not wait); the others have none.
        UniqueFd reader(row.policy == P::UserNamed && row.entry == Entry::Fifo
                            ? ::open(s.name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)
                            : -1);

        const FileResult result = WriteWholeFile(s.path, kNew, row.policy);

        EXPECT_EQ(result.error, row.error) << result.describe().toStdString();
        EXPECT_EQ(ReadBytes(s.outside), kVictim);
        EXPECT_EQ(ReadBytes(s.inside), kVictim);
        EXPECT_FALSE(QFile::exists(s.nowhere));
        EXPECT_FALSE(s.tempFilesLeft());
        if (row.error != 0) {
            EXPECT_EQ(result.step, FileStep::Refuse);
            EXPECT_EQ(InspectPath(s.path).kind, before);
        } else if (reader.isValid()) {
            EXPECT_EQ(InspectPath(s.path).kind, FileKind::Fifo);
            QByteArray got(64, '\0');
            got.resize(qMax<qsizetype>(0, ::read(reader.get(), got.data(), got.size())));
            EXPECT_EQ(got, kNew);
        } else {
            EXPECT_EQ(InspectPath(s.path).kind, FileKind::Regular);
            EXPECT_EQ(ReadBytes(s.path), kNew);
        }
    }
}

// A file-size limit fails with its own errno and keeps the old file whole. A device is written
// into and stays a device, and its errors come back as they are (/dev/full: a full disk);
// /dev/null and /dev/full are bound in a private mount namespace.
TEST(FileWrite, SizeLimitsAndDevices) {
    const QByteArray big(256 * 1024, 'x');
    Scene s;
    ASSERT_TRUE(s.prepare(Entry::Regular));
    EXPECT_EQ(RunInChild([&] {
                  std::signal(SIGXFSZ, SIG_IGN);
                  const rlimit limit{64 * 1024, 64 * 1024};
                  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
                  const FileResult result = WriteWholeFile(s.path, big, FilePolicy::UserNamed);
                  EXPECT_EQ(result.error, EFBIG);
                  EXPECT_EQ(result.step, FileStep::Write);
              }),
              ChildOutcome::Passed);
    EXPECT_EQ(ReadBytes(s.path), kOld);
    EXPECT_FALSE(s.tempFilesLeft());

    const QString null = s.folder + "/null";
    const QString full = s.folder + "/full";
    WriteBytes(null, {});
    WriteBytes(full, {});
    const ChildOutcome outcome = RunInChild([&] {
        EnterPrivateMountNamespace();
        if (::mount("/dev/null", NativePath(null).constData(), nullptr, MS_BIND, nullptr) != 0 ||
            ::mount("/dev/full", NativePath(full).constData(), nullptr, MS_BIND, nullptr) != 0) {
            SkipChild();
        }
        OutputFile out = OutputFile::open(null, FilePolicy::UserNamed);
        EXPECT_EQ(out.target(), OutputTarget::Device);
        EXPECT_FALSE(out.createdHere());
        EXPECT_TRUE(out.write(kNew).ok());
        EXPECT_TRUE(out.commit().ok());
        EXPECT_EQ(InspectPath(null).kind, FileKind::CharDevice);
        EXPECT_EQ(WriteWholeFile(null, kNew, FilePolicy::RegularInFolder).error, ENOTSUP);
        const FileResult onFull = WriteWholeFile(full, kNew, FilePolicy::UserNamed);
        EXPECT_EQ(onFull.error, ENOSPC);
        EXPECT_EQ(InspectPath(full).kind, FileKind::CharDevice);
    });
    if (outcome == ChildOutcome::Skipped) {
        GTEST_SKIP() << "no private mount namespace here (unshare refused): devices not tried";
    }
    EXPECT_EQ(outcome, ChildOutcome::Passed);
}

// /dev/stdout and /proc/self/fd/1 are the program's output, also when that is a file: the bytes
// go there, after what it holds, and nothing is renamed.
TEST(FileWrite, StandardOutputIsWrittenWhereItGoes) {
    Scene s;
    ASSERT_TRUE(WriteBytes(s.path, "before\n"));
    EXPECT_EQ(RunInChild([&] {
                  ::dup2(::open(s.name.constData(), O_WRONLY | O_APPEND), STDOUT_FILENO);
                  for (const char* name : {"/dev/stdout", "/proc/self/fd/1"}) {
                      OutputFile out = OutputFile::open(name, FilePolicy::UserNamed);
                      EXPECT_EQ(out.target(), OutputTarget::StandardOutput) << name;
                      EXPECT_TRUE(out.write(kNew).ok() && out.commit().ok());
                  }
                  EXPECT_EQ(InspectPath("/dev/stdout").kind, FileKind::Symlink);
              }),
              ChildOutcome::Passed);
    EXPECT_EQ(ReadBytes(s.path), "before\n" + kNew + kNew);
}

// A stream written in place removes, when dropped, only a file it created itself. A user's
// existing file in a folder closed to the program is written in place; its own files are not.
TEST(FileWrite, InPlaceWritesRemoveOnlyTheirOwnFiles) {
    Scene s;
    OutputFile created = OutputFile::open(s.path, FilePolicy::UserNamed, WriteMode::InPlace);
    EXPECT_TRUE(created.createdHere());
    created.discard();
    EXPECT_EQ(InspectPath(s.path).kind, FileKind::Missing);
    ASSERT_TRUE(s.prepare(Entry::Regular) && ::chmod(s.name.constData(), 0666) == 0);
    EXPECT_FALSE(OutputFile::open(s.path, FilePolicy::UserNamed, WriteMode::InPlace).createdHere());
    EXPECT_EQ(InspectPath(s.path).kind, FileKind::Regular);

    ASSERT_TRUE(WriteBytes(s.path, kOld));
    ::chmod(NativePath(s.root.path()).constData(), 0755);
    ::chmod(NativePath(s.folder).constData(), 0555);
    EXPECT_EQ(RunInChild([&] {
                  BecomeNobody();
                  EXPECT_TRUE(WriteWholeFile(s.path, kNew, FilePolicy::UserNamed).ok());
                  EXPECT_EQ(WriteWholeFile(s.path, kNew, FilePolicy::RegularInFolder).error,
                            EACCES);
              }),
              ChildOutcome::Passed);
    ::chmod(NativePath(s.folder).constData(), 0755);
    EXPECT_EQ(ReadBytes(s.path), kNew) << "written in place and cut to its new length";
}
