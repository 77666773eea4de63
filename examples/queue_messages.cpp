// Two processes and a message queue. The producer creates the queue and a waitpost, starts a
// consumer (this program again), puts its messages and waits for the consumer's "done"; the
// consumer takes messages until "end" and posts how many it got and their bytes.
//
//     queue_messages              the producer; it starts the consumer itself
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "osse/osse.h"

static const int kMessages = 20;
static const Uint32 kTimeoutMs = 30000;  // no wait here runs without a bound

// What the consumer posts, and where the waitpost lives: memory both processes map.
struct Done { Uint32 messages, bytes; };
struct Shared { OSSIPCWaitpostCore core; Done done; };

// The kernel-object names of this run: the queue's three, the segment's and the waitpost's.
struct Names {
    OSSIPCQueResID queue;
    OSSIPCResID segment, waitpost;
    explicit Names(const char* key)
    {
        OSSIPCGetResIDParam p;
        p.path = key;
        p.local = 1;
        p.id = 1;
        ossIPCGetQueResID(&p, &queue);  // ids 1 to 3
        p.id = 4;
        ossIPCGetResID(&p, &segment);
        p.id = 5;
        ossIPCGetResID(&p, &waitpost);
    }
};

static int failed(const char* what, Uint32 rc)
{
    fprintf(stderr, "%s: 0x%08X %s\n", what, rc, ecfErrorGetCodeName(rc));
    return 1;
}

static int consumer(const char* key)
{
    Names names(key);
    OSSHIPCQueue queue;
    OSSHIPCMemory segment;
    if (queue.attach(&names.queue) || segment.attach(&names.segment, nullptr)) return 1;
    Shared* shared = static_cast<Shared*>(segment.address);
    OSSHIPCWaitpost done;
    OSSIPCWaitpostOpenParam open = {OSS_CURRENT_VERSION, &shared->core, &shared->done, sizeof(Done),
                                    &names.waitpost};
    if (done.open(&open)) return 1;

    Done result = {0, 0};
    char message[256];
    unsigned int length = 0;
    while (queue.get(message, sizeof message, &length, (int)kTimeoutMs) == 0) {
        if (length == 3 && memcmp(message, "end", 3) == 0) break;
        ++result.messages;
        result.bytes += length;
    }
    queue.detach();
    const Uint32 rc = done.post(&result);
    done.close();
    segment.detach();
    return rc ? 1 : 0;
}

static int producer(const char* self)
{
    char key[64];
    snprintf(key, sizeof key, "queue_messages_%u", ossProcessID());
    Names names(key);

    OSSHIPCQueue queue;
    OSSIPCQueueCreateParam qp;
    qp.queResId = names.queue;
    qp.maxBytes = 16 * 1024;  // room for every message: put never waits for the consumer
    OSSHIPCMemory segment;
    OSSIPCMemoryCreateParam mp;
    mp.resId = names.segment;
    mp.size = sizeof(Shared);
    Uint32 rc = queue.create(&qp);
    if (rc || (rc = segment.create(&mp)) != 0) return failed("create", rc);
    Shared* shared = static_cast<Shared*>(segment.address);
    OSSHIPCWaitpost done;
    OSSIPCWaitpostCreateParam wp = {OSS_CURRENT_VERSION, &shared->core, &shared->done, sizeof(Done),
                                    &names.waitpost, 0, 0};
    if ((rc = done.create(&wp)) != 0) return failed("waitpost create", rc);

    // The consumer: this program with the role and the key as arguments.
    char arguments[128];
    const int n = snprintf(arguments, sizeof arguments, "consume%c%s%c", 0, key, 0);
    arguments[n] = 0;
    OSSHProcess process;
    OSSProcessParam pp = {OSS_CURRENT_VERSION, self, arguments, nullptr, 0};
    unsigned long consumerId = 0;
    if ((rc = process.create(&pp, &consumerId, nullptr)) != 0) return failed("start consumer", rc);
    printf("producer %u started consumer %lu\n", ossProcessID(), consumerId);

    Uint32 sent = 0;
    for (int i = 1; i <= kMessages; ++i) {
        char message[64];
        const int length = snprintf(message, sizeof message, "order %d: %d items", i, i * 3);
        if (queue.put(message, (unsigned)length) == 0) sent += (Uint32)length;
    }
    queue.put((void*)"end", 3);
    printf("producer put %d messages, %u bytes\n", kMessages, sent);

    Done result = {0, 0};
    OSSIPCWaitpostWaitParam wait = {OSS_CURRENT_VERSION, kTimeoutMs};
    if ((rc = done.wait(&wait, &result)) == 0)
        printf("consumer done: %u messages, %u bytes\n", result.messages, result.bytes);
    else
        failed("no word from the consumer", rc);
    done.destroy();
    queue.destroy();
    segment.detachAndDestroy();
    return rc == 0 && result.messages == (Uint32)kMessages && result.bytes == sent ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "consume") == 0) return consumer(argv[2]);
    // The program path goes in quotes: it may hold blanks.
    char self[MAX_PATH + 2] = "\"";
    GetModuleFileNameA(nullptr, self + 1, MAX_PATH);
    strcat(self, "\"");
    return producer(self);
}
