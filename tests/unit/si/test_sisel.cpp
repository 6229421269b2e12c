// Select sets on socketpairs.  Every implementation runs the same random
// sweep of adds, event changes, removals, data changes and waits against a
// model of the members, with an observer that mirrors each position change
// and must name the right socket whenever Next reports one.  Then the
// behaviour that differs: the poll set's free list and compaction, hang-ups
// and closed descriptors, the select-call set's list order and descriptor
// range, the walk across a removal, and the trace lines of refusals.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "si/siselimpl.h"
#include "trace/dptrc.h"

namespace {

// Mirrors the set's positions through the observer calls.
struct Mirror : SISEL_SPEC::CB_FUNCS {
    std::vector<SI_SOCK*> at;
    SI_SOCK* adding = nullptr;
    uint32_t eventPos = UINT32_MAX;
    std::vector<std::string> calls;
    int32_t CreateMsg(uint32_t capacity, uint32_t zero) override
    {
        at.assign(capacity, nullptr);
        calls.push_back("Create " + std::to_string(capacity) + " " + std::to_string(zero));
        return 0;
    }
    int32_t AddMsg(uint32_t pos) override
    {
        EXPECT_LT(pos, at.size());
        EXPECT_EQ(at[pos], nullptr);
        at[pos] = adding;
        calls.push_back("Add " + std::to_string(pos));
        return 0;
    }
    int32_t MoveMsg(uint32_t from, uint32_t to) override
    {
        at[to] = at[from];
        at[from] = nullptr;
        calls.push_back("Move " + std::to_string(from) + " " + std::to_string(to));
        return 0;
    }
    int32_t RemoveMsg(uint32_t pos) override
    {
        at[pos] = nullptr;
        calls.push_back("Remove " + std::to_string(pos));
        return 0;
    }
    int32_t ResetMsg() override
    {
        std::fill(at.begin(), at.end(), nullptr);
        calls.push_back("Reset");
        return 0;
    }
    int32_t SetEventPos(uint32_t pos) override
    {
        eventPos = pos;
        return 0;
    }
    int32_t Dump(FILE* stream, int32_t pos) override
    {
        std::fprintf(stream, pos < 0 ? " OBS" : " o%d", pos);
        return 0;
    }
};

struct Pairs {
    std::vector<SI_SOCK> a, b;  // a: members, b: their peers
    explicit Pairs(int n)
        : a(n),
          b(n)
    {
        for (int i = 0; i < n; ++i) {
            int sv[2];
            EXPECT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
            a[i] = SI_SOCK{sv[0], SI_AF_UNIX, SI_SOCK_STREAM, 0};
            b[i] = SI_SOCK{sv[1], SI_AF_UNIX, SI_SOCK_STREAM, 0};
        }
    }
    ~Pairs()
    {
        for (auto& s : a)
            close(s.sock);
        for (auto& s : b)
            close(s.sock);
    }
};

using Make = std::function<SISEL_SPEC*()>;
const std::vector<std::pair<const char*, Make>>& Kinds()
{
    static const std::vector<std::pair<const char*, Make>> kinds = {
        {"poll", [] { return new SISEL_POLL; }},
        {"select", [] { return new SISEL_SELECT; }},
        {"epoll", [] { return new SISEL_EPOLL; }},
        {"nt", [] { return new SISEL_SEL_NT; }},
    };
    return kinds;
}

// Collects the trace lines written while it lives.
struct TraceCapture {
    FILE* f = tmpfile();
    TraceCapture()
    {
        tf = f;
        ct_level = 3;
    }
    std::string Text()
    {
        std::fflush(f);
        std::rewind(f);
        std::string s;
        for (int c; (c = std::fgetc(f)) != EOF;)
            s += static_cast<char>(c);
        return s;
    }
    ~TraceCapture()
    {
        ct_level = 0;
        tf = nullptr;
        std::fclose(f);
    }
};

std::string DumpOf(SISEL* set)
{
    char* text = nullptr;
    size_t len = 0;
    FILE* f = open_memstream(&text, &len);
    set->Dump(f);
    std::fclose(f);
    std::string s(text);
    std::free(text);
    return s;
}

uint8_t Mode(uint8_t m)
{
    return m & (SISEL::READ | SISEL::WRITE | SISEL::READ_PRI);
}

TEST(SelectSets, EveryImplementationAgreesWithTheModel)
{
    for (const auto& [kind, make] : Kinds()) {
        SCOPED_TRACE(kind);
        constexpr int kN = 40;
        Pairs p(kN);
        Mirror mirror;
        std::unique_ptr<SISEL_SPEC> set(make());
        set->SetCbFuncs(&mirror);
        ASSERT_EQ(set->Init(64), SI_OK);
        struct Member {
            uint8_t mode;
            void* data;
        };
        std::map<int, Member> model;
        std::vector<bool> pending(kN);
        int tags[kN];
        size_t walked = 0;
        std::mt19937 rng(42);
        for (int step = 0; step < 1500; ++step) {
            const int i = static_cast<int>(rng() % kN);
            SI_SOCK* s = &p.a[i];
            const uint8_t mode = static_cast<uint8_t>(rng() % 16);  // READ_PRI and a stray bit too
            const auto it = model.find(i);
            const bool member = it != model.end();
            // The later steps remove more than they add, so that sets thin out.
            const unsigned op = step >= 750 && rng() % 2 == 0 ? 5 : rng() % 10;
            switch (op) {
            case 0:
            case 1:
            case 2:
            case 3: {
                const uint8_t exclusive = rng() % 3 == 0 ? 1 : 0;
                void* data = rng() % 2 ? &tags[i] : &tags[(i + 2) % kN];
                mirror.adding = s;
                ASSERT_EQ(set->Set(s, mode, data, exclusive), SI_OK);
                if (!member)
                    model[i] = Member{0, data};  // a member keeps its data
                Member& m = model[i];
                m.mode = exclusive ? Mode(mode) : Mode(m.mode | mode);
                break;
            }
            case 4:
                ASSERT_EQ(set->Clear(s, mode), member ? SI_OK : SI_EINVAL);
                if (member)
                    it->second.mode &= static_cast<uint8_t>(~Mode(mode));
                break;
            case 5:
            case 6:
                ASSERT_EQ(set->Remove(s, static_cast<uint8_t>(rng() % 2)), member ? SI_OK : SI_EINVAL);
                model.erase(i);
                break;
            case 7:
                ASSERT_EQ(set->SetData(s, &tags[(i + 1) % kN]), member ? SI_OK : SI_EINVAL);
                if (member)
                    it->second.data = &tags[(i + 1) % kN];
                break;
            case 8: {  // the peer writes a byte, or the member reads it
                char c = 'x';
                const ssize_t n = pending[i] ? read(p.a[i].sock, &c, 1) : write(p.b[i].sock, &c, 1);
                ASSERT_EQ(n, 1);
                pending[i] = !pending[i];
                break;
            }
            default: {
                std::set<SI_SOCK*> want;
                for (const auto& [j, m] : model)
                    if (((m.mode & SISEL::READ) && pending[j]) || (m.mode & SISEL::WRITE))
                        want.insert(&p.a[j]);
                uint32_t n = 0;
                ASSERT_EQ(set->Select(0, &n), SI_OK);
                if (std::string(kind) == "poll" || std::string(kind) == "epoll") {
                    EXPECT_EQ(n, want.size());
                }
                std::set<SI_SOCK*> got;
                for (;;) {
                    uint8_t r = 9, w = 9;
                    SI_SOCK* ready = nullptr;
                    void* data = nullptr;
                    ASSERT_EQ(set->Next(&r, nullptr, &w, &ready, &data), SI_OK);
                    if (ready == nullptr)
                        break;
                    const int j = static_cast<int>(ready - p.a.data());
                    ASSERT_TRUE(got.insert(ready).second);
                    ASSERT_EQ(mirror.at.at(mirror.eventPos), ready);
                    EXPECT_EQ(data, model.at(j).data);
                    EXPECT_EQ(r, (model[j].mode & SISEL::READ) && pending[j] ? 1 : 0);
                    EXPECT_EQ(w, (model[j].mode & SISEL::WRITE) ? 1 : 0);
                    uint8_t stat = 0;
                    ASSERT_EQ(set->GetStat(ready, &stat), SI_OK);
                    EXPECT_EQ(stat, (r ? SISEL::READ : 0) | (w ? SISEL::WRITE : 0));
                }
                ASSERT_EQ(got, want) << "step " << step;
                walked += got.size();
                // Members that were not ready report nothing, whatever an earlier wait saw.
                for (const auto& [j, m] : model) {
                    uint8_t stat = 9;
                    ASSERT_EQ(set->GetStat(&p.a[j], &stat), SI_OK);
                    if (got.count(&p.a[j]) == 0) {
                        ASSERT_EQ(stat, 0) << "step " << step << " sock " << j;
                    }
                }
                break;
            }
            }
            // Membership, mode, data and position of every socket.
            for (int j = 0; j < kN; ++j) {
                SI_SOCK* t = &p.a[j];
                const auto m = model.find(j);
                ASSERT_EQ(set->IsMember(t), m != model.end() ? 1 : 0) << "step " << step << " sock " << j;
                if (m == model.end())
                    continue;
                uint8_t got = 0;
                void* data = nullptr;
                uint32_t pos = 0;
                ASSERT_EQ(set->GetMode(t, &got), SI_OK);
                ASSERT_EQ(got, m->second.mode);
                ASSERT_EQ(set->GetData(t, &data), SI_OK);
                ASSERT_EQ(data, m->second.data);
                ASSERT_EQ(set->GetSocketPos(t, &pos), SI_OK);
                ASSERT_EQ(mirror.at.at(pos), t);
                ASSERT_EQ(set->GetSocketAtPos(pos), t->sock);
            }
        }
        EXPECT_GT(walked, 500u);
        if (std::string(kind) == "poll") {
            EXPECT_NE(std::find_if(mirror.calls.begin(), mirror.calls.end(),
                                   [](const std::string& c) { return c.rfind("Move", 0) == 0; }),
                      mirror.calls.end());
        }
        ASSERT_EQ(set->RemoveAll(), SI_OK);
        EXPECT_EQ(mirror.calls.back(), "Reset");
        EXPECT_EQ(set->IsMember(&p.a[0]), 0);
        mirror.adding = &p.a[0];
        EXPECT_EQ(set->Set(&p.a[0], SISEL::WRITE, nullptr, 0), SI_OK);
        EXPECT_NE(DumpOf(set.get()).find(" OBS\n"), std::string::npos);
        // The destructor tells the observer nothing.
        const size_t calls = mirror.calls.size();
        set.reset();
        EXPECT_EQ(mirror.calls.size(), calls);
    }
}

TEST(SelectSets, FactoryTypesAndWrappers)
{
    const uint8_t kPoll = 0, kSelect = 1, kConn = 2, kBad = 3;
    TraceCapture trace;
    for (const uint8_t* type : {static_cast<const uint8_t*>(nullptr), &kPoll, &kConn, &kSelect}) {
        std::unique_ptr<SISEL_IMPL> set(SiSelCreateSet(type));
        ASSERT_NE(set, nullptr);
        ASSERT_EQ(set->Init(4), SI_OK);
        EXPECT_EQ(DumpOf(set.get()).rfind(type == &kSelect ? "SISELECT set " : "SIPOLL set ", 0), 0u);
        EXPECT_EQ(set->SiSelAddSpecImpl(type), SI_EINVAL);  // one implementation per set
    }
    EXPECT_EQ(SiSelCreateSet(&kBad), nullptr);
    EXPECT_NE(trace.Text().find("SiSelAddSpecImpl: invalid implementation type 3"), std::string::npos);

    SISEL* set = nullptr;
    EXPECT_EQ(SiSelInitSet(&set, 40000), SI_EINVAL);
    EXPECT_EQ(set, nullptr);
    ASSERT_EQ(SiSelInitSet(&set, 0), SI_OK);
    EXPECT_EQ(SiSelGetMaxEntries(set), 2u);
    Pairs p(1);
    int tag = 0;
    ASSERT_EQ(SiSelSet(set, &p.a[0], SISEL::READ, &tag), SI_OK);
    ASSERT_EQ(SiSelSetExact(set, &p.a[0], SISEL::WRITE, nullptr), SI_OK);
    uint8_t mode = 0;
    void* data = nullptr;
    ASSERT_EQ(SiSelGetMode(set, &p.a[0], &mode), SI_OK);
    EXPECT_EQ(mode, SISEL::WRITE);
    ASSERT_EQ(SiSelGetData(set, &p.a[0], &data), SI_OK);
    EXPECT_EQ(data, &tag);  // the member kept its data
    EXPECT_EQ(SiSelRemove(set, &p.a[0]), SI_OK);
    EXPECT_EQ(SiSelIsMember(set, &p.a[0]), 0);
    EXPECT_EQ(SiSelDestroySet(&set), SI_OK);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(SiSelNext(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), SI_EINVAL);

    // A set without implementation refuses work.
    SISEL_IMPL bare;
    EXPECT_EQ(bare.Init(4), SI_EINVAL);
    EXPECT_EQ(bare.IsMember(&p.a[0]), 0);
}

TEST(SelectSets, PollSetReusesSlotsAndCompacts)
{
    TraceCapture trace;
    Pairs p(5);
    Mirror mirror;
    SISEL_POLL set;
    set.SetCbFuncs(&mirror);
    EXPECT_EQ(set.Init(32769), SI_EINVAL);
    ASSERT_EQ(set.Init(32768), SI_OK);
    ASSERT_EQ(set.Init(1), SI_OK);
    EXPECT_EQ(set.GetMaxEntries(), 2u);
    SI_SOCK negative{-1, SI_AF_UNIX, SI_SOCK_STREAM, 0};
    EXPECT_EQ(set.Set(&negative, SISEL::READ, nullptr, 0), SI_EINVAL);
    for (int i = 0; i < 3; ++i) {
        mirror.adding = &p.a[i];
        EXPECT_EQ(set.Set(&p.a[i], SISEL::READ, nullptr, 0), i < 2 ? SI_OK : SI_EINVAL);
    }
    const std::string lines = trace.Text();
    EXPECT_NE(lines.find("SiSelPAdd: sock -1 negative"), std::string::npos);
    EXPECT_NE(lines.find("SiSelPAdd: maximum of sockets reached (2)"), std::string::npos);

    ASSERT_EQ(set.Init(8), SI_OK);
    auto add = [&](int i) {
        mirror.adding = &p.a[i];
        ASSERT_EQ(set.Set(&p.a[i], SISEL::WRITE, nullptr, 0), SI_OK);
    };
    auto pos = [&](int i) {
        uint32_t at = 99;
        EXPECT_EQ(set.GetSocketPos(&p.a[i], &at), SI_OK);
        return at;
    };
    for (int i = 0; i < 3; ++i)
        add(i);
    ASSERT_EQ(set.Remove(&p.a[1], 0), SI_OK);  // a hole, kept for the next socket
    EXPECT_EQ(set.GetSocketAtPos(1), -1);
    EXPECT_EQ(set.GetSocketAtPos(2), p.a[2].sock);
    add(3);
    EXPECT_EQ(pos(3), 1u);
    ASSERT_EQ(set.Remove(&p.a[2], 1), SI_OK);  // the last position only
    EXPECT_EQ(set.GetSocketAtPos(2), -1);
    ASSERT_EQ(set.RemoveAll(), SI_OK);

    // Four sockets; removing positions 0, 1 and 2 with reorganise compacts at
    // the third removal: the last socket moves to position 0.
    for (int i = 0; i < 4; ++i)
        add(i);
    mirror.calls.clear();
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(set.Remove(&p.a[i], 1), SI_OK);
    EXPECT_EQ(mirror.calls, (std::vector<std::string>{"Remove 0", "Remove 1", "Remove 2", "Move 3 0"}));
    EXPECT_EQ(pos(3), 0u);
    EXPECT_EQ(set.GetSocketAtPos(1), -1);
    const std::string dump = DumpOf(&set);
    EXPECT_NE(dump.find("highest pos +1: 1\n"), std::string::npos);
    EXPECT_NE(dump.find("free list     : empty\n"), std::string::npos);
    // Nothing is ready without a wait, and a wait with no socket ready ends in time.
    SI_SOCK* ready = &p.a[0];
    uint8_t w = 0;
    EXPECT_EQ(set.Next(nullptr, nullptr, &w, &ready, nullptr), SI_OK);
    EXPECT_EQ(ready, nullptr);
    ASSERT_EQ(set.Clear(&p.a[3], SISEL::WRITE), SI_OK);
    uint32_t n = 7;
    ASSERT_EQ(set.Select(10, &n), SI_OK);
    EXPECT_EQ(n, 0u);
}

// Hang-ups and closed descriptors, where each implementation reports them.
TEST(SelectSets, HangUpsAndClosedDescriptors)
{
    for (const char* kind : {"poll", "epoll"}) {
        SCOPED_TRACE(kind);
        Pairs p(3);
        std::unique_ptr<SISEL_SPEC> set(std::string(kind) == "poll" ? static_cast<SISEL_SPEC*>(new SISEL_POLL)
                                                                    : new SISEL_EPOLL);
        ASSERT_EQ(set->Init(8), SI_OK);
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(set->Set(&p.a[i], SISEL::READ, nullptr, 0), SI_OK);
        close(p.b[0].sock);  // hang-up on member 0
        p.b[0].sock = -1;
        char c = 'x';
        ASSERT_EQ(write(p.b[2].sock, &c, 1), 1);
        ASSERT_EQ(set->Select(0, nullptr), SI_OK);
        std::map<SI_SOCK*, int32_t> seen;
        for (;;) {
            uint8_t r = 0;
            SI_SOCK* s = nullptr;
            const int32_t rc = set->Next(&r, nullptr, nullptr, &s, nullptr);
            if (s == nullptr)
                break;
            seen[s] = rc;
        }
        EXPECT_EQ(seen, (std::map<SI_SOCK*, int32_t>{{&p.a[0], SI_EINVAL}, {&p.a[2], SI_OK}}));
        uint8_t stat = 0;
        ASSERT_EQ(set->GetStat(&p.a[0], &stat), SI_OK);
        EXPECT_TRUE(stat & SISEL::SOCK_ERROR);
    }

    // Poll: a member closed behind the set's back is reported once as closed.
    {
        Pairs p(2);
        SISEL_POLL set;
        ASSERT_EQ(set.Init(4), SI_OK);
        ASSERT_EQ(set.Set(&p.a[0], SISEL::READ, nullptr, 0), SI_OK);
        ASSERT_EQ(set.Set(&p.a[1], SISEL::WRITE, nullptr, 0), SI_OK);
        const int fd = p.a[0].sock;
        close(fd);
        ASSERT_EQ(set.Select(0, nullptr), SI_OK);
        SI_SOCK* s = nullptr;
        uint8_t w = 0;
        EXPECT_EQ(set.Next(nullptr, nullptr, &w, &s, nullptr), SI_EINVAL_SOCK);
        EXPECT_EQ(s, &p.a[0]);
        EXPECT_EQ(set.Next(nullptr, nullptr, &w, &s, nullptr), SI_OK);
        EXPECT_EQ(s, &p.a[1]);
        p.a[0].sock = -1;
    }

    // Epoll: a closed member is taken out quietly; one whose number was
    // reused meanwhile is not watched under its new file.
    {
        TraceCapture trace;
        Pairs p(2);
        SISEL_EPOLL set;
        ASSERT_EQ(set.Init(4), SI_OK);
        ASSERT_EQ(set.Set(&p.a[0], SISEL::READ, nullptr, 0), SI_OK);
        ASSERT_EQ(set.Set(&p.a[1], SISEL::READ, nullptr, 0), SI_OK);
        const int fd0 = p.a[0].sock, fd1 = p.a[1].sock;
        close(fd0);
        close(fd1);
        EXPECT_EQ(dup2(p.b[0].sock, fd1), fd1);  // fd1 is a live descriptor again
        EXPECT_EQ(set.Remove(&p.a[0], 1), SI_OK);
        EXPECT_EQ(set.Remove(&p.a[1], 1), SI_OK);
        const std::string lines = trace.Text();
        EXPECT_NE(lines.find("SiSelEPRemove: sock " + std::to_string(fd0) + " was already closed\n"),
                  std::string::npos);
        EXPECT_NE(lines.find("SiSelEPRemove: sock " + std::to_string(fd1) + " was already closed and valid again"),
                  std::string::npos);
        p.a[0].sock = -1;
    }

    // Select call: a closed member makes every requested member a candidate;
    // the walk hands out the closed one only.
    {
        Pairs p(2);
        SISEL_SELECT set;
        ASSERT_EQ(set.Init(8), SI_OK);
        ASSERT_EQ(set.Set(&p.a[0], SISEL::READ, nullptr, 0), SI_OK);
        ASSERT_EQ(set.Set(&p.a[1], SISEL::READ, nullptr, 0), SI_OK);
        const int fd = p.a[0].sock;
        close(fd);
        uint32_t n = 0;
        ASSERT_EQ(set.Select(-1, &n), SI_OK);
        EXPECT_GE(n, 1u);
        uint8_t stat = 9;
        ASSERT_EQ(set.GetStat(&p.a[1], &stat), SI_OK);
        EXPECT_EQ(stat, 0);
        SI_SOCK* s = nullptr;
        uint8_t r = 0;
        EXPECT_EQ(set.Next(&r, nullptr, nullptr, &s, nullptr), SI_EINVAL_SOCK);
        EXPECT_EQ(s, &p.a[0]);
        EXPECT_EQ(set.Next(&r, nullptr, nullptr, &s, nullptr), SI_OK);
        EXPECT_EQ(s, nullptr);
        p.a[0].sock = -1;
    }
}

// Newest first, and a removal during the walk, for both list-walking sets.
TEST(SelectSets, WalkOrderAndRemovalDuringTheWalk)
{
    for (const char* kind : {"select", "nt"}) {
        SCOPED_TRACE(kind);
        Pairs p(3);
        // Descriptors 905, 909 and 907, added in that order.
        const int fds[3] = {905, 909, 907};
        SI_SOCK s[3];
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(dup2(p.a[i].sock, fds[i]), fds[i]);
            s[i] = SI_SOCK{fds[i], SI_AF_UNIX, SI_SOCK_STREAM, 0};
        }
        std::unique_ptr<SISEL_SPEC> set(std::string(kind) == "select" ? static_cast<SISEL_SPEC*>(new SISEL_SELECT)
                                                                      : new SISEL_SEL_NT);
        ASSERT_EQ(set->Init(8), SI_OK);
        for (auto& x : s)
            ASSERT_EQ(set->Set(&x, SISEL::WRITE, nullptr, 0), SI_OK);
        std::vector<int> order;
        // After 907, 909 is removed with the given reorganise flag (-1: not at
        // all); with reuse a new socket takes descriptor 909 at once.
        SI_SOCK again{fds[1], SI_AF_UNIX, SI_SOCK_STREAM, 0};
        auto walk = [&](int reorganise, bool reuse) {
            order.clear();
            SI_SOCK* got = nullptr;
            uint8_t w = 0;
            do {
                ASSERT_EQ(set->Next(nullptr, nullptr, &w, &got, nullptr), SI_OK);
                if (got != nullptr)
                    order.push_back(got->sock);
                if (reorganise >= 0 && got == &s[2]) {
                    ASSERT_EQ(set->Remove(&s[1], static_cast<uint8_t>(reorganise)), SI_OK);
                    if (reuse) {
                        ASSERT_EQ(set->Set(&again, SISEL::WRITE, nullptr, 0), SI_OK);
                    }
                }
            } while (got != nullptr);
        };
        ASSERT_EQ(set->Select(0, nullptr), SI_OK);
        ASSERT_NO_FATAL_FAILURE(walk(-1, false));
        EXPECT_EQ(order, (std::vector<int>{907, 909, 905}));
        ASSERT_EQ(set->StartLoop(), SI_OK);
        ASSERT_NO_FATAL_FAILURE(walk(0, false));
        EXPECT_EQ(order, (std::vector<int>{907, 905}));
        // The removal the network layer makes (reorganise 1) with the descriptor
        // taken over by a new member: the select-call set went on from the new
        // member and handed 907 out a second time.
        for (int reuse = 0; reuse < 2; ++reuse) {
            ASSERT_EQ(set->RemoveAll(), SI_OK);
            for (auto& x : s)
                ASSERT_EQ(set->Set(&x, SISEL::WRITE, nullptr, 0), SI_OK);
            ASSERT_EQ(set->Select(0, nullptr), SI_OK);
            ASSERT_NO_FATAL_FAILURE(walk(1, reuse == 1));
            EXPECT_EQ(order, (std::vector<int>{907, 905})) << reuse;
        }
        for (int fd : fds)
            close(fd);
    }

    // The select-call set takes descriptors 0 .. 32767 only, and a capacity of 0.
    TraceCapture trace;
    SISEL_SELECT set;
    ASSERT_EQ(set.Init(0), SI_OK);
    SI_SOCK far{32768, SI_AF_UNIX, SI_SOCK_STREAM, 0}, near{3, SI_AF_UNIX, SI_SOCK_STREAM, 0};
    EXPECT_EQ(set.Set(&far, SISEL::READ, nullptr, 0), SI_EINVAL);
    EXPECT_EQ(set.Set(&near, SISEL::READ, nullptr, 0), SI_EINVAL);
    EXPECT_EQ(set.IsMember(&far), 0);
    const std::string lines = trace.Text();
    EXPECT_NE(lines.find("SiSelSSet: sock 32768 out of range (0<=x<32768)"), std::string::npos);
    EXPECT_NE(lines.find("SiSelSSet: maximum of sockets reached (0)"), std::string::npos);
}

}  // namespace
