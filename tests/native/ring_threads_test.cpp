// The trace ring on ordinary memory, natively: writer threads and a reader in one process,
// circular and linear, records of one to 63 slots, and writers lapped while they hold a
// reservation. Built and run under the thread sanitizer as well: the only accesses it may
// report are the payload copies that race by design (see tsan_ring.supp).
//
// Every record checks itself: writer, counter, length and a checksum over the rest. A record
// the ring's reader test accepts must be intact; the sealed format is what makes that true of
// a record that a lapped writer wrote over after it was published.
#include <gtest/gtest.h>

#include <string.h>

#include <atomic>
#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "trace/ring_core.h"

using namespace osse::rambo;

namespace {

constexpr Uint32 kSize = 0x80000;  // 512 KiB, 8192 slots
constexpr Uint32 kSlots = kSize / 64;

// A ring on the heap, formatted as the library formats shared memory.
class Ring {
public:
    explicit Ring(Uint32 mode)
        : mem_(RAMBO_HEADER_SIZE + chunkTableSize(kSize) + kSize + RAMBO_SCRATCH_SIZE + 64) {
        // Same alignment as a mapping: 64 bytes is enough for the slots' words.
        auto base = reinterpret_cast<uintptr_t>(mem_.data());
        cb_ = reinterpret_cast<RamboControlBlock*>((base + 63) & ~uintptr_t(63));
        memset(cb_, 0, sizeof *cb_);
        ok_ = formatRing(cb_, kSize, mode);
    }
    bool ok() const { return ok_; }
    RamboControlBlock* cb() { return cb_; }
    Uint8* data() { return dataArea(cb_); }
    Uint32 next() { return load32(&cb_->nextSequence); }

private:
    std::vector<Uint8> mem_;
    RamboControlBlock* cb_ = nullptr;
    bool ok_ = false;
};

// ---- Self-checking records -------------------------------------------------------------------
struct Stamp {
    Uint32 writer, counter, length, sum;
};
constexpr Uint32 kStampBytes = sizeof(Stamp);

Uint32 lengthOf(Uint32 writer, Uint32 counter) {
    // Mostly one slot; every 7th record 2 to 63 slots.
    if (counter % 7 != 3) return RAMBO_ONE_SLOT_PAYLOAD;
    return 64 + (writer * 131 + counter * 977) % 3900;
}
Uint8 patternByte(Uint32 writer, Uint32 counter, Uint32 i) {
    return static_cast<Uint8>(writer * 29 + counter * 13 + i * 7);
}
Uint32 sumOf(const Uint8* p, Uint32 length) {
    Uint32 s = 0x811C9DC5u;
    for (Uint32 i = kStampBytes; i < length; ++i) s = (s ^ p[i]) * 0x01000193u;
    return s;
}
// A writer's payload stores; a lapped writer's land in slots a newer writer is filling or has
// published (by design: the seal makes them harmless).
__attribute__((noinline)) void fillPayload(Uint8* p, Uint32 writer, Uint32 counter) {
    const Uint32 length = lengthOf(writer, counter);
    for (Uint32 i = kStampBytes; i < length; ++i) p[i] = patternByte(writer, counter, i);
    Stamp st{writer, counter, length, 0};
    st.sum = sumOf(p, length) ^ writer ^ (counter << 8) ^ length;
    memcpy(p, &st, sizeof st);
}
// The stores of a trace point that lost the processor after its lap check and was lapped:
// they land in slots that a writer of a later lap is filling or has published.
__attribute__((noinline)) void storeLapped(Uint8* payload, const Uint8* record, Uint32 bytes) {
    memcpy(payload, record, bytes);
}
// The record at `payload` (payload area of k slots) is one a writer wrote, whole.
bool intact(const Uint8* payload, Uint32 k, Stamp* out) {
    Stamp st;
    memcpy(&st, payload, sizeof st);
    if (st.length < kStampBytes || slotsFor(st.length) != k) return false;
    if (st.length != lengthOf(st.writer, st.counter)) return false;
    if (st.sum != (sumOf(payload, st.length) ^ st.writer ^ (st.counter << 8) ^ st.length)) return false;
    for (Uint32 i = kStampBytes; i < st.length; ++i) {
        if (payload[i] != patternByte(st.writer, st.counter, i)) return false;
    }
    *out = st;
    return true;
}

// Writes record `counter` of `writer`: even counters as a caller of the public reservation
// fills its record (memory of its own on a sealed ring, copied into the slots and sealed at
// publication), odd ones composed in the writer's memory and published with the seal taken
// from there (as the trace points publish). True when published.
bool writeRecord(RamboControlBlock* cb, Uint32 writer, Uint32 counter, Uint8* scratch,
                 Uint32* seqOut = nullptr) {
    const Uint32 length = lengthOf(writer, counter);
    RamboReservation t;
    if (counter % 2 == 0) {
        Uint8* p = static_cast<Uint8*>(reserveStaged(cb, length, &t));
        if (seqOut) *seqOut = t.sequence;
        fillPayload(p, writer, counter);
        return syncStaged(cb, &t);
    }
    reserve(cb, length, &t);
    if (seqOut) *seqOut = t.sequence;
    fillPayload(scratch, writer, counter);
    if (!isSealed(cb)) {
        publishPlain(cb, &t, scratch, length);
        return true;
    }
    memset(scratch + length, 0, payloadWords(t.slotCount) * 4 - length);
    return publishArea(cb, &t, scratch);
}

// The reader's copy of ring memory that writers are storing into: it races with their payload
// stores by design, and what it copies is judged by the record test alone.
__attribute__((noinline)) void copyRacingSlots(Uint8* to, const Uint8* from, size_t n) {
    memcpy(to, from, n);
}

// Scans a copy of the data area: every record the reader test accepts must be intact and sit at
// the index of its sequence. Returns the records accepted; counts the ones that were not intact.
struct Scan {
    Uint32 accepted = 0, torn = 0, misplaced = 0;
};
Scan scanImage(const Uint8* image, bool sealed, std::vector<Stamp>* found = nullptr,
               std::vector<Uint32>* seqs = nullptr) {
    Scan s;
    for (Uint32 i = 0; i < kSlots;) {
        const Uint32 k = wholeRecord(image + 64 * i, kSlots - i, sealed);
        if (k == 0) {
            ++i;
            continue;
        }
        Uint32 seq;
        memcpy(&seq, image + 64 * i, 4);
        Stamp st;
        if (!intact(image + 64 * i + 8, k, &st)) {
            ++s.torn;
        } else {
            ++s.accepted;
            if ((seq & (kSlots - 1)) != i) ++s.misplaced;
            if (found) found->push_back(st);
            if (seqs) seqs->push_back(seq);
        }
        i += k;
    }
    return s;
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

// A writer that stores its record piece by piece seals it as it goes; a reader seals the slots
// in one go, and with the seal a writer takes while copying its record into the slots. They must
// agree for any way of cutting the payload into pieces (items of any length, unaligned), and a
// flipped bit anywhere in the payload area must change the seal.
TEST(RingThreads, PiecewiseSealEqualsTheReadersSealAndCatchesAnyFlippedBit) {
    Uint32 state = 12345;
    auto rnd = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
    static Uint8 buf[64 * 64];
    for (int t = 0; t < 5000; ++t) {
        const Uint32 k = 1 + rnd() % (t % 8 ? 5 : 64), area = payloadWords(k) * 4;
        memset(buf, 0, sizeof buf);
        const Uint32 used = rnd() % (area + 1);
        for (Uint32 i = 0; i < used; ++i) buf[i] = static_cast<Uint8>(rnd());
        Sealer s(k);
        for (Uint32 at = 0; at < used;) {
            const Uint32 n = std::min<Uint32>(1 + rnd() % 9, used - at);
            s.bytes(buf + at, n);
            at += n;
        }
        s.zerosTo(payloadWords(k));
        ASSERT_EQ(s.value(), sealOf(buf, k)) << "k " << k << " bytes " << used;
        // The copying writer's seal, and its copy.
        static Uint8 copy[64 * 64];
        ASSERT_EQ(copyAndSeal(copy, buf, k), s.value());
        ASSERT_EQ(memcmp(copy, buf, area), 0);
        const Uint32 bit = rnd() % (area * 8);
        buf[bit / 8] ^= static_cast<Uint8>(1u << (bit % 8));
        ASSERT_NE(sealOf(buf, k), s.value()) << "bit " << bit;
    }
}

// A writer holds its reservation while others go more than a whole ring past it, then stores
// its payload (as a writer descheduled after its lap check would) into the slot that now holds
// a newer, published record: the sealed reader test refuses that record, where the plain one
// takes it as whole. Publishing afterwards drops the lapped record and counts it. Single
// thread, fixed order: the outcome is the same on every run.
TEST(RingThreads, LappedWriterStoresAreCaughtAndItsRecordDropped) {
    for (const bool sealed : {true, false}) {
        SCOPED_TRACE(sealed ? "sealed" : "plain");
        Ring ring(RAMBO_MODE_CIRCULAR);
        ASSERT_TRUE(ring.ok());
        if (!sealed) memset(at(ring.cb(), RAMBO_FORMAT_OFFSET), 0, 4);  // a ring of the old format
        Uint8 scratch[RAMBO_MAX_PAYLOAD];

        RamboReservation parked;
        Uint8* p = static_cast<Uint8*>(reserve(ring.cb(), RAMBO_ONE_SLOT_PAYLOAD, &parked));
        for (Uint32 n = 0; n < kSlots + 5; ++n) {
            writeRecord(ring.cb(), 1, 2 * n + 1, scratch);  // one-slot records only
        }
        ASSERT_GT(ring.next() - parked.sequence, kSlots);
        const Uint8* slot = static_cast<Uint8*>(parked.slot);
        ASSERT_EQ(wholeRecord(slot, 1, sealed), 1u) << "a newer record was published there";

        // The parked writer's stores land in the newer record's payload only.
        fillPayload(scratch, 2, 0);
        memcpy(p + kStampBytes, scratch + kStampBytes, RAMBO_ONE_SLOT_PAYLOAD - kStampBytes);
        Stamp st;
        EXPECT_FALSE(intact(slot + 8, 1, &st));
        EXPECT_EQ(wholeRecord(slot, 1, sealed), sealed ? 0u : 1u)
            << "the plain format takes the written-over record for a whole one";

        EXPECT_EQ(sync(ring.cb(), &parked), !sealed);
        Uint32 drops;
        memcpy(&drops, at(ring.cb(), RAMBO_LAPPED_DROPS_OFFSET), 4);
        EXPECT_EQ(drops, sealed ? 1u : 0u);
    }
}

// Writer threads (some parking on a reservation until the ring has gone a lap past them) and a
// reader that copies the live ring over and over: in the sealed circular ring no record the
// reader accepts is damaged, and every writer's calls add up to records published plus records
// it dropped, the drops matching the ring's count. The linear ring, which never reuses a slot,
// must hold every record of every writer whole.
TEST(RingThreads, WritersAndAReaderNeverSeeATornRecord) {
    const Uint32 writers = 4;
    for (const Uint32 mode : {RAMBO_MODE_CIRCULAR, RAMBO_MODE_LINEAR}) {
        SCOPED_TRACE(mode);
        Ring ring(mode);
        ASSERT_TRUE(ring.ok());
        const bool sealed = isSealed(ring.cb());
        ASSERT_EQ(sealed, mode == RAMBO_MODE_CIRCULAR);
        // Linear: sized to fit; circular: many laps.
        const Uint32 perWriter = mode == RAMBO_MODE_LINEAR ? 300 : 3000;
        if (mode == RAMBO_MODE_LINEAR) {
            Uint32 slots = 0;
            for (Uint32 w = 0; w < writers; ++w)
                for (Uint32 n = 0; n < perWriter; ++n) slots += slotsFor(lengthOf(w, n));
            ASSERT_LE(slots, kSlots) << "the linear ring must not fill";
        }

        std::atomic<Uint32> finished{0};
        std::atomic<bool> go{false};
        std::vector<Uint32> published(writers, 0), dropped(writers, 0), lappedCallers(writers, 0),
            lateStores(writers, 0);
        std::vector<std::thread> threads;
        for (Uint32 w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                std::vector<Uint8> scratch(RAMBO_MAX_PAYLOAD);
                while (!go.load()) std::this_thread::yield();
                for (Uint32 n = 0; n < perWriter; ++n) {
                    bool ok;
                    if (mode == RAMBO_MODE_CIRCULAR && w == 0 && n % 150 == 1) {
                        // A one-slot record whose writer is held up until the ring has come
                        // round (or the other writers are done: then nothing laps this one).
                        // Half of them as a caller of the public reservation, held up between
                        // its reservation and its stores: it stores into memory of its own and
                        // drops its record when it publishes. The others as a trace point held
                        // up between its lap check and its stores: it stores, and publishes,
                        // over a newer record.
                        const bool caller = n % 300 == 1;
                        const Uint32 length = lengthOf(w, n);
                        RamboReservation t;
                        Uint8* p = static_cast<Uint8*>(caller ? reserveStaged(ring.cb(), length, &t)
                                                              : reserve(ring.cb(), length, &t));
                        const Uint32 seq = t.sequence;
                        const bool checked = caller || !lapped(ring.cb(), &t);
                        waitUntil([&] { return ring.next() - seq > kSlots + 64 || finished.load() == writers - 1; },
                                  std::chrono::seconds(20));
                        const bool lappedNow = ring.next() - seq > kSlots;
                        if (caller) {
                            lappedCallers[w] += lappedNow;
                            fillPayload(p, w, n);
                            ok = syncStaged(ring.cb(), &t);
                        } else if (checked) {
                            lateStores[w] += lappedNow;
                            fillPayload(scratch.data(), w, n);
                            const Uint32 seal = sealOf(scratch.data(), 1);
                            storeLapped(p, scratch.data(), RAMBO_ONE_SLOT_PAYLOAD);
                            storeEnds(ring.cb(), &t, ~seq ^ seal);
                            ok = true;
                        } else {
                            dropLapped(ring.cb(), &t);
                            ok = false;
                        }
                    } else {
                        ok = writeRecord(ring.cb(), w, n, scratch.data());
                    }
                    (ok ? published : dropped)[w]++;
                }
                finished.fetch_add(1);
            });
        }

        Scan live;
        std::vector<Uint8> image(kSize);
        Uint32 passes = 0;  // reads of the whole ring while writers ran
        go.store(true);
        do {
            copyRacingSlots(image.data(), ring.data(), kSize);
            const Scan s = scanImage(image.data(), sealed);
            live.accepted += s.accepted;
            live.torn += s.torn;
            ++passes;
        } while (finished.load() < writers);
        for (auto& t : threads) t.join();

        EXPECT_EQ(live.torn, 0u) << "records accepted while writers ran: " << live.accepted
                                 << " in " << passes << " passes";
        std::vector<Stamp> found;
        const Scan last = scanImage(ring.data(), sealed, &found);
        EXPECT_EQ(last.torn, 0u);
        EXPECT_EQ(last.misplaced, 0u);

        Uint32 drops = 0, totalDropped = 0;
        memcpy(&drops, at(ring.cb(), RAMBO_LAPPED_DROPS_OFFSET), 4);
        for (Uint32 w = 0; w < writers; ++w) {
            EXPECT_EQ(published[w] + dropped[w], perWriter) << w;
            totalDropped += dropped[w];
        }
        EXPECT_EQ(totalDropped, drops);
        if (mode == RAMBO_MODE_CIRCULAR) {
            // Both kinds of held-up writer were lapped, and a caller lapped before its stores
            // always drops its record.
            EXPECT_GT(lappedCallers[0], 0u);
            EXPECT_GT(lateStores[0], 0u);
            EXPECT_GE(dropped[0], lappedCallers[0]);
        } else {
            EXPECT_EQ(totalDropped, 0u);
            std::vector<Uint32> seen(writers * perWriter, 0);
            for (const Stamp& st : found) {
                if (st.writer < writers && st.counter < perWriter) ++seen[st.writer * perWriter + st.counter];
            }
            Uint32 missing = 0, doubled = 0;
            for (Uint32 c : seen) {
                missing += c == 0;
                doubled += c > 1;
            }
            EXPECT_EQ(missing, 0u);
            EXPECT_EQ(doubled, 0u);
        }
    }
}

