// SPDX-License-Identifier: Apache-2.0
// What one process using the library leaves to the others: the input pipe that no name in a working
// directory leads to, the claim table they share by key (also when a holder is killed or powered off),
// the TCO replies that every process with the keyboard open sees, and the descriptors that a program
// started meanwhile would inherit.
#include <csignal>
#include <dirent.h>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "com_trov_jpos_TrovKeylockService.h"
#include "com_trov_jpos_TrovPOSKeyboardService.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "fake_jni.h"
#include "input/iofunctions.h"
#include "jni/callbacks.h"
#include "process_fixture.h"
#include "sim_fixture.h"

namespace {

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

// Sends the reply frame "11" as input and waits until the decoder has read it.
bool inputReply11()
{
    const uint32_t before = IOFifo.uiRead();
    trovsim_send_raw(0, REPLY_11, sizeof REPLY_11);
    return waitUntil([before] { return IOFifo.uiRead() - before >= sizeof REPLY_11; });
}

class InputPipe : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        plugKeyboard(0);
        ASSERT_NE(nullptr, getcwd(Previous, sizeof Previous));
        ASSERT_NE(nullptr, mkdtemp(Scratch));
        ASSERT_EQ(0, chdir(Scratch));
    }
    void TearDown() override
    {
        ASSERT_EQ(0, chdir(Previous));
        ASSERT_EQ(0, system((std::string("rm -rf ") + Scratch).c_str()));
        SimTest::TearDown();
    }

    char Previous[4096];
    char Scratch[32] = "/tmp/trov-pipe-XXXXXX";
};

TEST_F(InputPipe, AFileNamedInputFifoInTheWorkingDirectoryIsNeverTouched)
{
    // Another program's FIFO of that name, which it holds open without any lock, with its bytes queued.
    ASSERT_EQ(0, mkfifo("InputFifo", 0600));
    const int other = open("InputFifo", O_RDWR | O_NONBLOCK);
    ASSERT_EQ(5, write(other, "other", 5));
    Keylock keylock;
    ASSERT_EQ(0, keylock.open());
    vStore(JposData.bKeylockEnabled, 1);
    trovsim_turn_keylock(0, 2);
    EXPECT_EQ((std::vector<FakeCall>{FakeCall{"keylockStatusUpdateEvent", {3}, {}}}), keylock.jni.waitForCalls(1));
    char queued[8] = {};
    EXPECT_EQ(5, read(other, queued, sizeof queued)) << "its bytes stay its own";
    EXPECT_EQ(0, access("InputFifo", F_OK)) << "and so does its name";
    keylock.close();
    close(other);

    // Any other file of the name (planted in a shared directory, say) stops no Open either.
    ASSERT_EQ(0, unlink("InputFifo"));
    ASSERT_EQ(0, symlink("elsewhere", "InputFifo"));
    EXPECT_EQ(0, keylock.open());
    keylock.close();
    struct stat link;
    EXPECT_EQ(0, lstat("InputFifo", &link));
    EXPECT_TRUE(S_ISLNK(link.st_mode));
    EXPECT_NE(0, access("elsewhere", F_OK));
}

// The claim table seen from several processes, each opening a service through the library.
class ClaimTableAcrossProcesses : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        plugKeyboard(0);
    }

    // A process that opens the keylock, claims it, says so, and then goes on with rest.
    static pid_t spawnClaimHolder(Signal &ready, const std::function<int(Keylock &)> &rest)
    {
        return spawn([&] {
            Keylock keylock;
            if (keylock.open() != 0) {
                return 1;
            }
            keylock.claim(true);
            ready.raise();
            return rest(keylock);
        });
    }

    // A process that opens the keylock and closes it again: 0 when it found the keylock claimed.
    static pid_t spawnClaimViewer()
    {
        return spawn([] {
            Keylock keylock;
            const bool sees = keylock.open() == 0 && keylock.claimed();
            keylock.close();
            return sees ? 0 : 1;
        });
    }

    // Waits for the word that the holder may close, then closes: 0 when its claim was still there.
    static int closeWhenAllowed(Signal &mayClose, Keylock &keylock)
    {
        mayClose.await();
        const bool stillClaimed = keylock.claimed();
        keylock.close();
        return stillClaimed ? 0 : 2;
    }
};

TEST_F(ClaimTableAcrossProcesses, ALastCloseLeavesTheTableToTheProcessesStillUsingIt)
{
    Signal holderReady;
    Signal holderMayClose;
    const pid_t holder = spawnClaimHolder(holderReady, [&](Keylock &k) { return closeWhenAllowed(holderMayClose, k); });
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

    const pid_t third = spawnClaimViewer();
    EXPECT_EQ(0, exitStatus(third)) << "a later process sees the holder's claim, not a fresh table";

    holderMayClose.raise();
    EXPECT_EQ(0, exitStatus(holder));
    EXPECT_FALSE(claimSegmentExists()) << "the last process attached removes it";
}

TEST_F(ClaimTableAcrossProcesses, TheClaimOfAKilledHolderIsClearedByTheNextFirstAttach)
{
    Signal holderReady;
    const pid_t holder = spawnClaimHolder(holderReady, [](Keylock &) {
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

TEST_F(ClaimTableAcrossProcesses, AProcessOpeningWhileTheLastOneDetachesSharesItsTableWithTheNext)
{
    // This process plays the last process of this library to detach, caught between its look at the
    // attachments (none left) and the removal: it holds the lock under the table's key meanwhile.
    const int segment = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, IPC_CREAT | 0666);
    ASSERT_GE(segment, 0);
    void *table = shmat(segment, nullptr, 0);
    ASSERT_NE(reinterpret_cast<void *>(-1), table);
    const int lock = semget(CLAIM_TABLE_KEY, 1, IPC_CREAT | 0666);
    ASSERT_GE(lock, 0);
    struct sembuf take[2] = {{0, 0, 0}, {0, 1, SEM_UNDO}};
    ASSERT_EQ(0, semop(lock, take, 2));
    ASSERT_EQ(0, shmdt(table));
    struct shmid_ds state;
    ASSERT_EQ(0, shmctl(segment, IPC_STAT, &state));
    ASSERT_EQ(0u, state.shm_nattch);

    Signal firstReady;
    Signal firstMayClose;
    const pid_t first = spawnClaimHolder(firstReady, [&](Keylock &k) { return closeWhenAllowed(firstMayClose, k); });
    usleep(200000);  // time enough to attach, for a process that does not wait for the detach to end
    ASSERT_EQ(0, shmctl(segment, IPC_RMID, nullptr));
    ASSERT_EQ(0, semctl(lock, 0, IPC_RMID));
    ASSERT_TRUE(firstReady.await());

    const pid_t second = spawnClaimViewer();
    EXPECT_EQ(0, exitStatus(second)) << "the second process sees the first one's claim: they share one table";
    firstMayClose.raise();
    EXPECT_EQ(0, exitStatus(first));
    EXPECT_FALSE(claimSegmentExists()) << "and the last of them removes it";
}

TEST_F(ClaimTableAcrossProcesses, APowerOffClearsTheClaimsOfItsProcessOnly)
{
    Signal holderReady;
    Signal holderMayClose;
    const pid_t holder = spawnClaimHolder(holderReady, [&](Keylock &k) { return closeWhenAllowed(holderMayClose, k); });
    ASSERT_TRUE(holderReady.await());

    Keyboard keyboard;
    ASSERT_EQ(0, keyboard.open());
    keyboard.claim(true);
    ASSERT_TRUE(keyboard.claimed());
    CallbackJPOSStatusUpdate(2004, tLoad(uiOpening));  // and the application never releases the claim
    ASSERT_EQ(0, tLoad(bDeviceOpened));

    ASSERT_EQ(0, keyboard.open());
    EXPECT_FALSE(keyboard.claimed()) << "the reopened keyboard can be claimed";
    keyboard.close();
    holderMayClose.raise();
    EXPECT_EQ(0, exitStatus(holder)) << "the other process keeps its claim";
}

// TCO queries of several processes on one keyboard. Each process here has a simulator of its own, so
// the copy of another process's reply that the driver would hand this process is sent as input here.
class TcoAcrossProcesses : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        plugKeyboard(0);
    }

    static bool tcoQueueExists() { return msgget(TCO_QUEUE_KEY, 0) >= 0; }
};

TEST_F(TcoAcrossProcesses, AReplyToAnotherProcesssQueryIsNeverTaken)
{
    Signal firstSent;
    Signal copySeen;
    // The first process asks for index 1; its keyboard answers once the second has seen the copy.
    const pid_t first = spawn([&] {
        const int value = iQueryAnsweredOnSignal(firstSent, copySeen);
        return value == -1 ? 1 : value == 0x11 ? 0 : 2;
    });
    // The second asks for index 2 meanwhile, and sees the reply to the first.
    const pid_t second = spawn([&] {
        Keyboard keyboard;
        if (!firstSent.await() || keyboard.open() != 0) {
            return 1;
        }
        trovsim_set_tco(0, 2, "22");
        trovsim_set_answer_delay(0, 1000);
        int value = 0;
        std::thread query([&] { value = keyboard.readTco(2); });
        trovsim_wait_received(0, 6, 300);  // sent at once, by a process that does not wait its turn
        const bool seen = inputReply11();
        copySeen.raise();
        query.join();
        keyboard.close();
        return seen && value == 0x22 ? 0 : 3;
    });
    EXPECT_EQ(0, exitStatus(first));
    EXPECT_EQ(0, exitStatus(second));
    EXPECT_FALSE(tcoQueueExists());
}

TEST_F(TcoAcrossProcesses, AMessageLeftByAProcessThatEndedNeitherKeepsTheQueueNorIsTakenForAReply)
{
    const pid_t ended = spawn([] { return 0; });
    ASSERT_EQ(0, exitStatus(ended));
    const int queue = msgget(TCO_QUEUE_KEY, IPC_CREAT | 0600);
    TcoMessage left{static_cast<long>(ended), ended};
    ASSERT_EQ(0, msgsnd(queue, &left, sizeof left.iSenderPid, 0));
    // And one that a live process of a build that takes no lock waits for (type 1, its process id).
    TcoMessage waited{1, getppid()};
    ASSERT_EQ(0, msgsnd(queue, &waited, sizeof waited.iSenderPid, 0));

    trovsim_set_tco(0, 1, "12");
    Keyboard keyboard;
    ASSERT_EQ(0, keyboard.open());
    EXPECT_EQ(0x12, keyboard.readTco(1));
    TcoMessage found{};
    EXPECT_EQ(-1, msgrcv(queue, &found, sizeof found.iSenderPid, static_cast<long>(ended), IPC_NOWAIT))
        << "the message of the process that ended is gone";
    EXPECT_EQ(static_cast<ssize_t>(sizeof found.iSenderPid),
              msgrcv(queue, &found, sizeof found.iSenderPid, 1, IPC_NOWAIT))
        << "the waited-for message is left in place";

    EXPECT_EQ(0x12, keyboard.readTco(1));
    EXPECT_FALSE(tcoQueueExists()) << "an empty queue goes with the query";
    keyboard.close();
}

TEST_F(TcoAcrossProcesses, ASlowReplyAnswersItsOwnQueryAlsoAfterAWaitForTheKeyboard)
{
    // Within the limit, also for a query that waited for another one to end before it was sent.
    trovsim_set_tco(0, 1, "11");
    trovsim_set_tco(0, 2, "22");
    trovsim_set_answer_delay(0, 800);  // slow, yet within the limits
    Keyboard keyboard;
    ASSERT_EQ(0, keyboard.open());
    int first = 0;
    int second = 0;
    std::thread one([&] { first = keyboard.readTco(1); });
    std::thread two([&] { second = keyboard.readTco(2); });
    one.join();
    two.join();
    EXPECT_EQ(0x11, first);
    EXPECT_EQ(0x22, second);
    trovsim_set_answer_delay(0, 0);  // for the position request the shutdown sends
    keyboard.close();
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
