// Allocation-failure sweeps: an operation is run again and again, the 1st, 2nd, 3rd, ...
// allocation of its thread failing in turn, until a run in which no allocation failed. Each
// run is checked against a table: the records it wrote to the log file, in order, and the
// state it left. The sweep also checks that the operation made exactly as many allocations as
// the table has rows.
#pragma once

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "record_lines.h"

namespace sweep {

// Room for an object that the operation under test builds, so that keeping its result costs
// no allocation of its own: a prvalue of B becomes the object itself, without a copy.
template <class B>
class Slot {
  public:
    Slot() = default;
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    ~Slot() {
        if (m_pObject != nullptr) {
            m_pObject->~B();
        }
    }

    template <class F>
    void build(F f) {
        m_pObject = new (m_place) B(f());
    }
    const B& get() const { return *m_pObject; }
    bool built() const { return m_pObject != nullptr; }

  private:
    alignas(B) unsigned char m_place[sizeof(B)];
    B* m_pObject = nullptr;
};

struct Row {
    std::vector<records::Record> records;
    std::string state;
};

// `make` builds the objects of one run (outside the failing window), `op` runs the operation
// on them, `state` describes what it left. `failing[k]` is the row when allocation k + 1
// fails; `success` the state when none does.
template <class Make, class Op, class State>
void expect(Make make, Op op, State state, const std::vector<Row>& failing,
            const std::string& success) {
    for (uint64_t n = 1;; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        auto objects = make();
        const records::FailedRun run = records::failingRun(n, [&] { op(objects); });
        if (!run.fired) {
            EXPECT_EQ(n - 1, failing.size()) << "allocations made";
            EXPECT_EQ(run.lines, std::vector<std::string>{});
            EXPECT_EQ(state(objects), success);
            return;
        }
        if (n > failing.size()) {
            ADD_FAILURE() << "more allocations than the table has rows";
            return;
        }
        EXPECT_EQ(run.lines, records::linesOf(failing[n - 1].records));
        EXPECT_EQ(state(objects), failing[n - 1].state);
    }
}

// Runs `op` while every allocation of this thread fails; answers the state it left.
template <class Make, class Op, class State>
std::string underNoMemory(Make make, Op op, State state) {
    auto objects = make();
    {
        allocseam::Failing failing(0);
        op(objects);
    }
    return state(objects);
}

}  // namespace sweep
