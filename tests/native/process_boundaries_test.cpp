// What one process using the library leaves to the others: the FIFO's name in a working directory they
// share, the claim table they share by key (also when a holder is killed), and the descriptors that a
// program started meanwhile would inherit.
#include <csignal>
#include <dirent.h>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "com_trov_jpos_TrovPOSKeyboardService.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "fake_jni.h"
#include "input/iofunctions.h"
#include "sim_fixture.h"

namespace {

// Runs body in a forked process; its result is the exit status.
pid_t spawn(const std::function<int()> &body)
{
    const pid_t child = fork();
    if (child == 0) {
        _exit(body());
    }
    return child;
}

int exitStatus(pid_t child)
{
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A one-shot signal from one process to another.
struct Signal {
    int ends[2];
    Signal() { EXPECT_EQ(0, pipe(ends)); }
    ~Signal() { close(ends[0]); close(ends[1]); }
    void raise() { EXPECT_EQ(1, write(ends[1], "!", 1)); }
    bool await() { char c; return read(ends[0], &c, 1) == 1; }
};

std::set<int> openDescriptors(const std::string &directory)
{
    std::set<int> found;
    std::unique_ptr<DIR, int (*)(DIR *)> listing(opendir(directory.c_str()), closedir);
    const int own = listing ? dirfd(listing.get()) : -1;
    for (dirent *entry; listing && (entry = readdir(listing.get())) != nullptr;) {
        if (entry->d_name[0] != '.' && std::stoi(entry->d_name) != own) {
            found.insert(std::stoi(entry->d_name));
        }
    }
    return found;
}

// Each test runs in a working directory of its own.
class InputFifoName : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(nullptr, getcwd(Previous, sizeof Previous));
        ASSERT_NE(nullptr, mkdtemp(Scratch));
        ASSERT_EQ(0, chdir(Scratch));
    }
    void TearDown() override
    {
        ASSERT_EQ(0, chdir(Previous));
        ASSERT_EQ(0, system((std::string("rm -rf ") + Scratch).c_str()));
    }

    static std::string contents(const char *path)
    {
        char text[64] = {};
        const int fd = open(path, O_RDONLY);
        EXPECT_GE(read(fd, text, sizeof text - 1), 0);
        close(fd);
        return text;
    }

    // Whether the process's FIFO carries its own bytes back, and only those.
    static bool carriesItsOwn(IOFunctions &fifo, uint32_t token)
    {
        if (fifo.iWrite(reinterpret_cast<const char *>(&token), sizeof token) != sizeof token) {
            return false;
        }
        usleep(50);  // time for another process's bytes to show up, were the FIFO shared
        fcntl(fifo.iFd, F_SETFL, O_NONBLOCK);
        char back[64];
        return read(fifo.iFd, back, sizeof back) == sizeof token && std::memcmp(back, &token, sizeof token) == 0;
    }

    char Previous[4096];
    char Scratch[32] = "/tmp/trov-fifo-XXXXXX";
};

TEST_F(InputFifoName, AFileOfTheNameThatIsNotAFifoIsNeitherOpenedNorRemoved)
{
    const int file = open(INPUT_FIFO_NAME, O_WRONLY | O_CREAT, 0600);
    ASSERT_EQ(5, write(file, "keep\n", 5));
    close(file);
    IOFunctions fifo;
    EXPECT_EQ(-1, fifo.iCreateFIFO(INPUT_FIFO_NAME));
    EXPECT_EQ(-1, fifo.iFd);
    ASSERT_NE(nullptr, fifo.pcFailure());
    EXPECT_NE(nullptr, std::strstr(fifo.pcFailure(), "not a FIFO")) << fifo.pcFailure();
    EXPECT_EQ("keep\n", contents(INPUT_FIFO_NAME));
    EXPECT_STREQ(fifo.pcFailure(), IOFunctions::pcNameProblem(INPUT_FIFO_NAME)) << "the diagnostic's view";

    // A link, also one that leads nowhere, is not followed: nothing is made or opened at its target.
    ASSERT_EQ(0, unlink(INPUT_FIFO_NAME));
    ASSERT_EQ(0, symlink("elsewhere", INPUT_FIFO_NAME));
    EXPECT_EQ(-1, fifo.iCreateFIFO(INPUT_FIFO_NAME));
    EXPECT_NE(nullptr, std::strstr(fifo.pcFailure(), "symbolic link")) << fifo.pcFailure();
    EXPECT_NE(0, access("elsewhere", F_OK));
    struct stat link;
    EXPECT_EQ(0, lstat(INPUT_FIFO_NAME, &link));
    EXPECT_TRUE(S_ISLNK(link.st_mode)) << "and it stays";
}

TEST_F(InputFifoName, AFifoLeftBehindIsTakenOverEmptyAndItsNameReleased)
{
    ASSERT_EQ(0, mkfifo(INPUT_FIFO_NAME, 0600));
    const int holder = open(INPUT_FIFO_NAME, O_RDWR);  // say, a program that inherited it from a crashed one
    ASSERT_EQ(5, write(holder, "stale", 5));
    IOFunctions fifo;
    ASSERT_EQ(0, fifo.iCreateFIFO(INPUT_FIFO_NAME)) << fifo.pcFailure();
    EXPECT_EQ(nullptr, fifo.pcFailure());
    EXPECT_NE(0, access(INPUT_FIFO_NAME, F_OK)) << "the name is free for the next process";
    EXPECT_EQ(FD_CLOEXEC, fcntl(fifo.iFd, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(carriesItsOwn(fifo, 7)) << "its stale bytes are gone";
    EXPECT_EQ(0, fifo.iClose());
    close(holder);
}

TEST_F(InputFifoName, TwoProcessesInOneDirectoryNeverShareAFifoNorRemoveEachOthers)
{
    constexpr int ROUNDS = 300;
    const auto makeAndUse = [] {
        IOFunctions fifo;
        for (int round = 0; round < ROUNDS; ++round) {
            if (fifo.iCreateFIFO(INPUT_FIFO_NAME) != 0) {
                return 1;
            }
            if (!carriesItsOwn(fifo, static_cast<uint32_t>(getpid()))) {
                return 2;
            }
            fifo.iClose();
        }
        return 0;
    };
    const pid_t first = spawn(makeAndUse);
    const pid_t second = spawn(makeAndUse);
    EXPECT_EQ(0, exitStatus(first));
    EXPECT_EQ(0, exitStatus(second));
    EXPECT_NE(0, access(INPUT_FIFO_NAME, F_OK));
}

// The claim table seen from several processes, each opening the keylock service through the library.
class ClaimTableAcrossProcesses : public SimTest {
protected:
    // Opens the keylock service in the calling (forked) process.
    struct Keylock {
        FakeJni jni;
        FakeClass cls = FakeJni::keylockClass();
        FakeObject service{&cls};
        jint open() { return Java_com_trov_jpos_TrovKeylockService_OpenKeylock(jni.env(), jni.object(service)); }
        void close() { Java_com_trov_jpos_TrovKeylockService_CloseKeylock(jni.env(), jni.object(service)); }
        void claim(bool c) { Java_com_trov_jpos_TrovKeylockService_claimKeylock(jni.env(), jni.object(service), c); }
        bool claimed() { return Java_com_trov_jpos_TrovKeylockService_isKeylockClaimed(jni.env(), jni.object(service)); }
    };

    void SetUp() override
    {
        SimTest::SetUp();
        plugKeyboard(0);
    }
};

TEST_F(ClaimTableAcrossProcesses, ALastCloseLeavesTheTableToTheProcessesStillUsingIt)
{
    Signal holderReady;
    Signal holderMayClose;
    const pid_t holder = spawn([&] {
        Keylock keylock;
        if (keylock.open() != 0) {
            return 1;
        }
        keylock.claim(true);
        holderReady.raise();
        holderMayClose.await();
        const bool stillClaimed = keylock.claimed();
        keylock.close();
        return stillClaimed ? 0 : 2;
    });
    ASSERT_TRUE(holderReady.await());

    const pid_t visitor = spawn([] {
        Keylock keylock;
        if (keylock.open() != 0 || !keylock.claimed()) {
            return 1;
        }
        keylock.close();  // its own last close
        return 0;
    });
    EXPECT_EQ(0, exitStatus(visitor));
    EXPECT_TRUE(claimSegmentExists()) << "the holder is still attached";

    const pid_t third = spawn([] {
        Keylock keylock;
        const bool sees = keylock.open() == 0 && keylock.claimed();
        keylock.close();
        return sees ? 0 : 1;
    });
    EXPECT_EQ(0, exitStatus(third)) << "a later process sees the holder's claim, not a fresh table";

    holderMayClose.raise();
    EXPECT_EQ(0, exitStatus(holder));
    EXPECT_FALSE(claimSegmentExists()) << "the last process attached removes it";
}

TEST_F(ClaimTableAcrossProcesses, TheClaimOfAKilledHolderIsClearedByTheNextFirstAttach)
{
    Signal holderReady;
    const pid_t holder = spawn([&] {
        Keylock keylock;
        if (keylock.open() != 0) {
            return 1;
        }
        keylock.claim(true);
        holderReady.raise();
        pause();
        return 0;
    });
    ASSERT_TRUE(holderReady.await());
    ASSERT_EQ(0, kill(holder, SIGKILL));
    int status = 0;
    ASSERT_EQ(holder, waitpid(holder, &status, 0));
    EXPECT_TRUE(claimSegmentExists()) << "a killed process cannot remove the table";

    const pid_t next = spawn([] {
        Keylock keylock;
        if (keylock.open() != 0) {
            return 1;
        }
        if (keylock.claimed()) {
            return 2;  // the stale claim was kept
        }
        keylock.claim(true);
        const bool claims = keylock.claimed();
        keylock.claim(false);
        const bool releases = !keylock.claimed();
        keylock.close();
        return claims && releases ? 0 : 3;
    });
    EXPECT_EQ(0, exitStatus(next));
    EXPECT_FALSE(claimSegmentExists());
}

TEST_F(SimTest, AProgramStartedWhileServicesAreOpenInheritsNoneOfTheirDescriptors)
{
    plugKeyboard(0);
    FakeJni jni;
    FakeServiceObjects objects;
    const std::set<int> before = openDescriptors("/proc/self/fd");
    ASSERT_EQ(0, Java_com_trov_jpos_TrovPOSKeyboardService_OpenPOSKeyboard(jni.env(), jni.object(objects.keyboard)));
    Java_com_trov_jpos_TrovPOSKeyboardService_claimPOSKeyboard(jni.env(), jni.object(objects.keyboard), JNI_TRUE);
    Java_com_trov_jpos_TrovPOSKeyboardService_enablePOSKeyboard(jni.env(), jni.object(objects.keyboard), JNI_TRUE);
    std::set<int> library;
    for (int fd : openDescriptors("/proc/self/fd")) {
        if (before.count(fd) == 0) {
            library.insert(fd);
        }
    }
    EXPECT_GE(library.size(), 2u) << "at least the keyboard and the FIFO";

    // The shell lists its own descriptors: those it was started with.
    int output[2];
    ASSERT_EQ(0, pipe2(output, O_CLOEXEC));
    const pid_t child = fork();
    if (child == 0) {
        dup2(output[1], 1);
        execl("/bin/sh", "sh", "-c", "ls /proc/$$/fd; true", static_cast<char *>(nullptr));
        _exit(127);
    }
    close(output[1]);
    std::string listing;
    char chunk[256];
    for (ssize_t got; (got = read(output[0], chunk, sizeof chunk)) > 0;) {
        listing.append(chunk, static_cast<size_t>(got));
    }
    close(output[0]);
    ASSERT_EQ(0, exitStatus(child));
    std::set<int> inherited;
    for (size_t at = 0; at < listing.size();) {
        size_t end = listing.find('\n', at);
        inherited.insert(std::stoi(listing.substr(at, end - at)));
        at = end == std::string::npos ? listing.size() : end + 1;
    }
    ASSERT_TRUE(inherited.count(1)) << listing;
    for (int fd : library) {
        EXPECT_EQ(0u, inherited.count(fd)) << "descriptor " << fd << " was inherited";
    }
    Java_com_trov_jpos_TrovPOSKeyboardService_ClosePOSKeyboard(jni.env(), jni.object(objects.keyboard));
}

}  // namespace
