// SPDX-License-Identifier: Apache-2.0
// What a process of the library leaves when it dies, forks or loses a lock, and what another account
// then meets: claims that die with their process, System V objects under keys 100, 101 and 111 that are
// gone once the next process has opened and closed, a segment that a fork does not keep, a waiter at
// its limit that makes nothing, a lock removed while held, and a late TCO reply that answers no query.
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <thread>

#include "core/claim_owners.h"
#include "core/process_lock.h"
#include "core/shared_access.h"
#include "core/trovjpos.h"
#include "jni/tco_query.h"
#include "process_fixture.h"
#include "sim_fixture.h"

namespace {

// An account other than the tests' (they run as root to have one).
constexpr uid_t OTHER_ACCOUNT = 65534;

bool semaphoresExist(int key)
{
    return semget(key, 0, 0) >= 0;
}

bool queueExists()
{
    return msgget(TCO_QUEUE_KEY, 0) >= 0;
}

// What the library may have made, by key: empty when nothing is left.
std::string objectsLeft()
{
    std::string left;
    left += shmget(CLAIM_TABLE_KEY, 0, 0) >= 0 ? "segment 100, " : "";
    left += semaphoresExist(CLAIM_TABLE_KEY) ? "set 100, " : "";
    left += semaphoresExist(CLAIM_OWNERS_KEY) ? "set 101, " : "";
    left += semaphoresExist(TCO_QUEUE_KEY) ? "set 111, " : "";
    left += queueExists() ? "queue 111, " : "";
    return left;
}

void killAndReap(pid_t child)
{
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

// The number of processes blocked on the semaphore set under key (waiting for it to be 0).
int waitersOn(int key)
{
    const int id = semget(key, 0, 0);
    return id < 0 ? 0 : semctl(id, 0, GETZCNT);
}

// Holds the lock under key as a process of the library would, in this process.
int holdLock(int key)
{
    const int id = semget(key, 1, IPC_CREAT | 0666);
    struct sembuf take[2] = {{0, 0, 0}, {0, 1, SEM_UNDO}};
    EXPECT_EQ(0, semop(id, take, 2));
    return id;
}

// Runs body in a forked process of the other account.
pid_t spawnAsOtherAccount(const std::function<int()> &body)
{
    return spawn([&] { return setresgid(OTHER_ACCOUNT, OTHER_ACCOUNT, OTHER_ACCOUNT) == 0 &&
                                      setresuid(OTHER_ACCOUNT, OTHER_ACCOUNT, OTHER_ACCOUNT) == 0
                                  ? body()
                                  : 99; });
}

class ProcessDeaths : public SimTest {
protected:
    void SetUp() override
    {
        SimTest::SetUp();
        plugKeyboard(0);
    }

    // A process that opens the keylock, claims it, says so, and waits to be killed.
    static pid_t spawnKilledClaimer(Signal &ready)
    {
        return spawn([&] {
            Keylock keylock;
            if (keylock.open() != 0) {
                return 1;
            }
            keylock.claim(true);
            ready.raise();
            pause();
            return 0;
        });
    }
};

TEST_F(ProcessDeaths, TheClaimOfADeadProcessIsFreedWhileOthersStayAttachedAndALiveOneNeverIs)
{
    Signal ready;
    const pid_t claimer = spawnKilledClaimer(ready);
    ASSERT_TRUE(ready.await());
    Keylock keylock;
    ASSERT_EQ(0, keylock.open());  // attached from now on, while the claimer dies
    EXPECT_TRUE(keylock.claimed()) << "the claim of a live process stays";
    killAndReap(claimer);
    EXPECT_FALSE(keylock.claimed()) << "and goes with its process";
    keylock.claim(true);
    EXPECT_TRUE(keylock.claimed());
    keylock.claim(false);

    // A claim set by a build that takes no lock: the byte alone, in a process that lives on.
    const int segment = shmget(CLAIM_TABLE_KEY, CLAIM_TABLE_SIZE, 0);
    auto *table = static_cast<uint8_t *>(shmat(segment, nullptr, 0));
    ASSERT_NE(reinterpret_cast<uint8_t *>(-1), table);
    table[CLAIM_KEYLOCK] = 1;
    EXPECT_TRUE(keylock.claimed()) << "is never cleared";
    table[CLAIM_KEYLOCK] = 0;
    shmdt(table);
    keylock.close();
    EXPECT_EQ("", objectsLeft());
}

TEST_F(ProcessDeaths, AQueryKilledAtAnyStepLeavesNothingOnceAnotherProcessOpenedAndClosed)
{
    // Killed waiting for the keyboard (another process holds it), then killed waiting for its reply.
    for (const bool holdsKeyboard : {false, true}) {
        const int other = holdsKeyboard ? -1 : holdLock(TCO_QUEUE_KEY);
        Signal opened;
        const pid_t query = spawn([&] {
            Keyboard keyboard;
            if (keyboard.open() != 0) {
                return 1;
            }
            trovsim_set_silent(0, 1);
            opened.raise();
            keyboard.readTco(1);
            return 0;
        });
        ASSERT_TRUE(opened.await());
        ASSERT_TRUE(waitUntil([&] { return holdsKeyboard ? queueExists() : waitersOn(TCO_QUEUE_KEY) == 1; }));
        killAndReap(query);
        if (other >= 0) {
            semctl(other, 0, IPC_RMID);
        }

        // A query of another account meanwhile is not locked out by what was left.
        const pid_t stranger = spawnAsOtherAccount([] {
            trovsim_set_tco(0, 1, "12");
            Keyboard keyboard;
            const bool answered = keyboard.open() == 0 && keyboard.readTco(1) == 0x12;
            keyboard.close();
            return answered ? 0 : 1;
        });
        EXPECT_EQ(0, exitStatus(stranger)) << (holdsKeyboard ? "after a holder was killed" : "after a waiter");

        Keylock next;
        ASSERT_EQ(0, next.open());
        next.close();
        EXPECT_EQ("", objectsLeft()) << (holdsKeyboard ? "after a holder was killed" : "after a waiter");
    }
}

TEST_F(ProcessDeaths, AChildForkedBeforeItsExecKeepsNoTable)
{
    Keylock keylock;
    ASSERT_EQ(0, keylock.open());
    Signal mayExec;
    const pid_t child = fork();
    if (child == 0) {
        mayExec.await();
        execl("/bin/true", "true", static_cast<char *>(nullptr));
        _exit(127);
    }
    keylock.close();  // the last close of the library's processes
    mayExec.raise();
    EXPECT_EQ(0, exitStatus(child));
    EXPECT_EQ("", objectsLeft());
}

TEST_F(ProcessDeaths, ALastCloseByAnotherAccountLeavesATableThatLocksNobodyOutAndItsMakerRemoves)
{
    // The kernel lets only the maker's account (or root) remove the table: the other account's last
    // close cannot, and the table stays until the maker's account closes last.
    Signal made;
    Signal attached;
    Signal mayClose;
    const pid_t maker = spawn([&] {
        Keylock keylock;
        if (keylock.open() != 0) {
            return 1;
        }
        made.raise();
        attached.await();
        const bool sees = keylock.claimed();
        keylock.close();
        return sees ? 0 : 2;
    });
    ASSERT_TRUE(made.await());
    const pid_t stranger = spawnAsOtherAccount([&] {
        Keylock keylock;
        if (keylock.open() != 0) {
            return 1;
        }
        keylock.claim(true);
        attached.raise();
        mayClose.await();
        keylock.close();
        return 0;
    });
    EXPECT_EQ(0, exitStatus(maker)) << "it saw the other account's claim";
    mayClose.raise();
    EXPECT_EQ(0, exitStatus(stranger));
    EXPECT_TRUE(claimSegmentExists());

    const pid_t next = spawnAsOtherAccount([] {
        Keylock keylock;
        const bool free = keylock.open() == 0 && !keylock.claimed();
        keylock.claim(true);
        const bool claims = keylock.claimed();
        keylock.close();
        return free && claims ? 0 : 1;
    });
    EXPECT_EQ(0, exitStatus(next)) << "the other account uses the table it left, with no stale claim";
    Keylock makersAccount;
    ASSERT_EQ(0, makersAccount.open());
    makersAccount.close();
    EXPECT_EQ("", objectsLeft());
}

TEST_F(ProcessDeaths, WithTheGroupPosOnlyItsMembersShareTheObjects)
{
    // A machine with the group: this process sees a group file that has it (its own mount namespace).
    constexpr gid_t POS = 4242;
    const pid_t machine = spawn([] {
        char groups[] = "/tmp/trov-groups-XXXXXX";
        const int file = mkstemp(groups);
        std::string text;
        if (FILE *system = std::fopen("/etc/group", "r")) {
            char chunk[4096];
            for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, system)) > 0;) {
                text.append(chunk, got);
            }
            std::fclose(system);
        }
        text += "pos:x:4242:\n";
        if (file < 0 || write(file, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
            unshare(CLONE_NEWNS) != 0 || mount("none", "/", "none", MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(groups, "/etc/group", "none", MS_BIND, nullptr) != 0) {
            return 77;
        }
        unlink(groups);
        // The two others start before this process opens, and open once it has made the objects.
        Signal made;
        const auto other = [&made](bool isMember) {
            return spawn([&made, isMember] {
                const gid_t pos = POS;
                if (setresgid(OTHER_ACCOUNT, OTHER_ACCOUNT, OTHER_ACCOUNT) != 0 ||
                    setgroups(isMember ? 1 : 0, &pos) != 0 ||
                    setresuid(OTHER_ACCOUNT, OTHER_ACCOUNT, OTHER_ACCOUNT) != 0 || !made.await()) {
                    return 9;
                }
                Keylock keylock;
                const bool opened = keylock.open() == 0;
                keylock.close();
                return opened == isMember ? 0 : 1;
            });
        };
        const pid_t outsider = other(false);
        const pid_t member = other(true);
        Keyboard maker;
        trovsim_set_tco(0, 1, "12");
        if (maker.open() != 0 || maker.readTco(1) != 0x12) {
            return 1;
        }
        struct shmid_ds table;
        const bool given = shmctl(shmget(CLAIM_TABLE_KEY, 0, 0), IPC_STAT, &table) == 0 &&
                           table.shm_perm.gid == POS && (table.shm_perm.mode & 0777) == 0660;
        made.raise();
        made.raise();
        const bool outsiderRefused = exitStatus(outsider) == 0;
        const bool memberServed = exitStatus(member) == 0;
        maker.close();
        return given ? (outsiderRefused ? (memberServed ? 0 : 4) : 3) : 2;
    });
    const int status = exitStatus(machine);
    if (status == 77) {
        GTEST_SKIP() << "no mount namespace for a group file of our own";
    }
    EXPECT_EQ(0, status) << "2: the table is not the group's with 0660, 3: an outsider opened, 4: a member could not";
    EXPECT_EQ("", objectsLeft());
}

TEST_F(ProcessDeaths, AWaiterWhoseLimitRanOutMakesNoSet)
{
    constexpr int LIMIT_MS = 200;
    const int held = holdLock(TCO_QUEUE_KEY);
    const pid_t waiter = spawn([] { return iTakeProcessLock(TCO_QUEUE_KEY, LIMIT_MS) < 0 ? 0 : 1; });
    ASSERT_TRUE(waitUntil([] { return waitersOn(TCO_QUEUE_KEY) == 1; }));
    // Caught at its limit: stopped in its wait until the limit has passed, then woken by a removal.
    ASSERT_EQ(0, kill(waiter, SIGSTOP));
    int status = 0;
    ASSERT_EQ(waiter, waitpid(waiter, &status, WUNTRACED));
    std::this_thread::sleep_for(std::chrono::milliseconds(LIMIT_MS + 100));  // the limit is time itself
    ASSERT_EQ(0, semctl(held, 0, IPC_RMID));
    ASSERT_EQ(0, kill(waiter, SIGCONT));
    EXPECT_EQ(0, exitStatus(waiter));
    EXPECT_FALSE(semaphoresExist(TCO_QUEUE_KEY));
}

TEST_F(ProcessDeaths, ALockRemovedWhileHeldNeverLetsASecondQueryAnswer)
{
    Signal holding;
    Signal secondDone;
    // The first query holds the keyboard; its reply arrives once the second process has tried.
    const pid_t first = spawn([&] {
        const int value = iQueryAnsweredOnSignal(holding, secondDone);
        return value == -1 ? 1 : value == 0 ? 0 : 2;  // its lock is gone: it cannot know whose reply this is
    });
    ASSERT_TRUE(holding.await());
    ASSERT_EQ(0, semctl(semget(TCO_QUEUE_KEY, 0, 0), 0, IPC_RMID));  // an ipcrm by the owner

    const pid_t second = spawn([] {
        trovsim_set_tco(0, 2, "22");
        Keyboard keyboard;
        const int value = keyboard.open() == 0 ? keyboard.readTco(2) : -1;
        const int sent = trovsim_wait_received(0, 6, 0);
        keyboard.close();
        return value == 0 && sent < 6 ? 0 : 3;  // it sees the first one holding, and does not query
    });
    EXPECT_EQ(0, exitStatus(second));
    secondDone.raise();
    EXPECT_EQ(0, exitStatus(first));
    EXPECT_EQ("", objectsLeft());
}

TEST_F(ProcessDeaths, AReplyLaterThanItsLimitAnswersNoLaterQuery)
{
    trovsim_set_tco(0, 1, "11");
    trovsim_set_tco(0, 2, "22");
    Keyboard keyboard;
    ASSERT_EQ(0, keyboard.open());
    // Its reply begins within the guard after the limit; the next query is sent right after the call.
    trovsim_set_answer_delay(0, TCO_REPLY_LIMIT_MS + TCO_LATE_REPLY_GUARD_MS / 2);
    EXPECT_EQ(0, keyboard.readTco(1));
    trovsim_set_answer_delay(0, 0);
    EXPECT_EQ(0x22, keyboard.readTco(2));
    keyboard.close();
    EXPECT_EQ("", objectsLeft());
}

}  // namespace
